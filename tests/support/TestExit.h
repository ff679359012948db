// The exit code of a test program: CTest's test is "skipped" (memoline_add_test's SKIP_RETURN_CODE)
// when every test that ran passed but some were skipped, so a skip shows in the summary instead of
// passing for a pass. A failure still fails.
#pragma once

#include <gtest/gtest.h>

namespace memoline::test {

constexpr int kSkippedExitCode = 77;

inline int ExitCodeOf(int runAllTestsResult) {
    if (runAllTestsResult != 0)
        return runAllTestsResult;
    return testing::UnitTest::GetInstance()->skipped_test_count() > 0 ? kSkippedExitCode : 0;
}

}  // namespace memoline::test
