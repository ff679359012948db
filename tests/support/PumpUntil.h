// Waiting on the UI thread for something its messages bring about.
#pragma once

#include <windows.h>

#include <functional>

namespace memoline::test {

// Processes this thread's messages until done() is true or `timeoutMs` has passed; sleeps only until
// the next message comes (or 10 ms, for a change made by another thread without a message). False
// on the time-out.
bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs = 10000);

}  // namespace memoline::test
