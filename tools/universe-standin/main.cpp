// universe-standin [--port N] [--drones N] [--universe FILE] [--quiet]
// Hosts the stand-in universe server until SIGINT, SIGTERM or "quit" on standard
// input; other lines on standard input are commands (type "help"). The log goes to
// standard output; --quiet leaves out the command help at start. Joining players are
// placed by the sun of FILE (default universe.dat in the working folder).
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>
#include <thread>

#include "tools/universe-standin/standin.h"

namespace {

// A whole decimal number within [low, high], or false.
bool ParseNumber(const char* text, long low, long high, long& value)
{
    char* end = nullptr;
    errno = 0;
    value = std::strtol(text, &end, 10);
    return errno == 0 && end != text && *end == '\0' && value >= low && value <= high;
}

}  // namespace

int main(int argc, char** argv)
{
    UniverseStandin::Options options;
    bool quiet = false;
    for (int i = 1; i < argc; ++i) {
        long value = 0;
        if (std::strcmp(argv[i], "--port") == 0 && i + 1 < argc && ParseNumber(argv[i + 1], 0, 65535, value)) {
            options.port = static_cast<std::uint16_t>(value);
            ++i;
        } else if (std::strcmp(argv[i], "--drones") == 0 && i + 1 < argc && ParseNumber(argv[i + 1], 0, 3, value)) {
            options.drones = static_cast<int>(value);
            ++i;
        } else if (std::strcmp(argv[i], "--universe") == 0 && i + 1 < argc) {
            options.universeFile = argv[i + 1];
            ++i;
        } else if (std::strcmp(argv[i], "--quiet") == 0) {
            quiet = true;
        } else {
            std::fprintf(stderr, "usage: %s [--port N] [--drones 0-3] [--universe FILE] [--quiet]\n", argv[0]);
            return 2;
        }
    }
    std::setvbuf(stdout, nullptr, _IOLBF, 0);

    // Signals are taken by sigwait below; every thread started later inherits the mask.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    static UniverseStandin standin(options);
    const HRESULT hr = standin.Start();
    if (FAILED(hr)) {
        std::fprintf(stderr, "universe-standin: cannot host the session: %X\n", static_cast<unsigned>(hr));
        return 1;
    }
    if (!quiet) standin.Command("help");
    std::thread([] {
        std::string line;
        while (std::getline(std::cin, line)) {
            if (line == "quit" || line == "exit") {
                kill(getpid(), SIGTERM);
                return;
            }
            standin.Command(line);
        }
        // End of input: keep serving until a signal.
    }).detach();

    int sig = 0;
    sigwait(&signals, &sig);
    standin.Stop();
    std::fflush(stdout);
    _exit(0);
}
