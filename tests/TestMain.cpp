// Entry point of the tests that need no event loop.
#include "NoSessionBus.h"

#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    UseNoSessionBus();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
