#include <gtest/gtest.h>

#include "tests/support/isolate.h"

int main(int argc, char** argv)
{
    IsolateTestNetwork();
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
