// Every test process gets its own network namespace before any thread starts; the
// console client it starts shares it. Without namespaces the session ports move
// to a range of this process, and the child is told the same.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "platform/net/net_tuning.h"
#include "tests/support/isolate.h"

int main(int argc, char** argv)
{
    if (!IsolateTestNetwork())
        setenv("MERIDAX_NET_TEST_PORT_BASE", std::to_string(GetNetTuning().basePort).c_str(), 1);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
