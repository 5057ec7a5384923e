#include "tests/support/isolate.h"

#include <net/if.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/net/net_tuning.h"

namespace {

bool LoopbackUp()
{
    const int s = socket(AF_INET, SOCK_DGRAM, 0);
    if (s < 0) return false;
    ifreq ifr{};
    std::strncpy(ifr.ifr_name, "lo", IFNAMSIZ - 1);
    bool ok = ioctl(s, SIOCGIFFLAGS, &ifr) == 0;
    if (ok) {
        ifr.ifr_flags = static_cast<short>(ifr.ifr_flags | IFF_UP | IFF_RUNNING);
        ok = ioctl(s, SIOCSIFFLAGS, &ifr) == 0;
    }
    close(s);
    return ok;
}

}  // namespace

bool IsolateTestNetwork()
{
    if (unshare(CLONE_NEWNET) == 0 && LoopbackUp()) return true;
    NetTuning t = GetNetTuning();
    t.basePort = static_cast<std::uint16_t>(20000 + (getpid() % 4000) * 10);
    SetNetTuning(t);
    // Programs this process starts use the same range.
    setenv("MERIDAX_NET_TEST_PORT_BASE", std::to_string(t.basePort).c_str(), 1);
    return false;
}
