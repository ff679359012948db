// A stand-in child program with no window: records how it was started, waits, and exits with the
// code it was given (see ChildOptions.h).
#include <windows.h>

#include "tools/child/ChildOptions.h"

int main() {
    using namespace memoline::child;
    const Options options = ReadOptions();
    Record(options);
    if (options.afterMs > 0)
        Sleep(options.afterMs);
    if (!options.waitEvent.empty()) {
        HANDLE event = OpenEventW(SYNCHRONIZE, FALSE, options.waitEvent.c_str());
        if (!event)
            return 251;  // the test's event is gone: say so rather than pass for the outcome asked
        WaitForSingleObject(event, 60000);
        CloseHandle(event);
    }
    if (!CopyIfAsked(options))
        return 250;  // a failed copy must not pass for the requested outcome
    return static_cast<int>(options.exitCode);
}
