// main() of every networked GoogleTest program: checks the private network first.
#include "netns_guard.h"

#include <gtest/gtest.h>

int main(int argc, char **argv) {
    veltrona::test::requirePrivateNetns();
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
