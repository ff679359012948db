// The entry point of every test program: the test thread is the UI thread.
#include <windows.h>

#include <gtest/gtest.h>

#include "core/Synchronize.h"
#include "tests/support/TestExit.h"

int main(int argc, char** argv) {
    // Errors of a test must not hang the run on a system dialog.
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
    memoline::core::InitMainThread();
    testing::InitGoogleTest(&argc, argv);
    return memoline::test::ExitCodeOf(RUN_ALL_TESTS());
}
