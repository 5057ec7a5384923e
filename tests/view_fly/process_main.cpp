// The process tests get their own network namespace and their own X server. Xvfb
// neither locks its display nor sees the servers of other namespaces, so the display
// number comes from this process's id: parallel runs never share one.
#include <gtest/gtest.h>

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/net/net_tuning.h"
#include "tests/support/isolate.h"

int main(int argc, char** argv)
{
    if (!IsolateTestNetwork())
        setenv("MERIDAX_NET_TEST_PORT_BASE", std::to_string(GetNetTuning().basePort).c_str(), 1);

    int fds[2];
    if (pipe(fds) != 0) return 2;
    const pid_t server = fork();
    if (server == 0) {
        close(fds[0]);
        const std::string fd = std::to_string(fds[1]);
        const std::string number = ":" + std::to_string(1000 + getppid() % 30000);
        execlp("Xvfb", "Xvfb", number.c_str(), "-displayfd", fd.c_str(), "-screen", "0", "1024x768x24", "-nolisten",
               "tcp", static_cast<char*>(nullptr));
        _exit(127);
    }
    close(fds[1]);
    std::string display;
    pollfd p{fds[0], POLLIN, 0};
    char c;
    while (poll(&p, 1, 20000) == 1 && read(fds[0], &c, 1) == 1 && c != '\n') display += c;
    close(fds[0]);
    if (display.empty()) {
        std::fprintf(stderr, "no X server\n");
        kill(server, SIGTERM);
        waitpid(server, nullptr, 0);
        return 2;
    }
    setenv("DISPLAY", (":" + display).c_str(), 1);
    unsetenv("MERIDAX_HEADLESS");

    testing::InitGoogleTest(&argc, argv);
    const int result = RUN_ALL_TESTS();
    kill(server, SIGTERM);
    waitpid(server, nullptr, 0);
    return result;
}
