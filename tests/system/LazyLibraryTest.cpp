// DLLs loaded on first use: a present function is called through, and a missing DLL or function makes
// the call fail with its failure value and a reason in GetLastError instead of crashing.
#include "core/LazyLibrary.h"

#include <windows.h>

#include <gtest/gtest.h>

#include "system/ShellApi.h"

namespace memoline {
namespace {

using core::TLazyFunction;
using core::TLazyLibrary;
using ProcessIdFn = decltype(&::GetCurrentProcessId);

TEST(LazyLibrary, CallsAFunctionOfASystemDll) {
    TLazyLibrary kernel(L"kernel32.dll");
    const TLazyFunction<ProcessIdFn> processId(kernel, "GetCurrentProcessId");
    EXPECT_EQ(processId.CallOr(DWORD{0}), GetCurrentProcessId());
}

TEST(LazyLibrary, MissingDllOrFunctionFailsTheCall) {
    struct Case {
        const wchar_t* dll;
        const char* function;
        DWORD lookupError;
    } cases[] = {
        {L"memoline-no-such-library.dll", "GetCurrentProcessId", ERROR_MOD_NOT_FOUND},
        {L"kernel32.dll", "MemolineNoSuchFunction", ERROR_PROC_NOT_FOUND},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.function);
        TLazyLibrary library(c.dll);
        SetLastError(0);
        EXPECT_EQ(library.Function<ProcessIdFn>(c.function), nullptr);
        EXPECT_EQ(GetLastError(), c.lookupError);
        const TLazyFunction<ProcessIdFn> missing(library, c.function);
        EXPECT_EQ(missing.CallOr(DWORD{12345}), 12345u);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PROC_NOT_FOUND));
        missing.CallIfFound();  // nothing happens
    }
}

TEST(ComApartment, LeavesTheErrorOfTheCallInsideIt) {
    {
        shell::TComApartment com;
        SetLastError(ERROR_FILE_NOT_FOUND);
    }
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

}  // namespace
}  // namespace memoline
