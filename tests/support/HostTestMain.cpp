// The entry point of the host lane's test programs.
#include <gtest/gtest.h>

#include "tests/support/TestExit.h"

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    return memoline::test::ExitCodeOf(RUN_ALL_TESTS());
}
