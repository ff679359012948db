// Runs a function on the UI thread on behalf of a worker thread and waits for it, so components that
// do their work in a worker can raise their events where the window lives.
#pragma once

#include <functional>

namespace memoline::core {

// Marks the calling thread as the UI thread. Call once, early, on the thread that runs the message
// loop (TApplication does). Creates the hidden window that receives the calls.
void InitMainThread();

// True when called on the thread given to InitMainThread.
bool IsMainThread();

// Runs fn on the UI thread and returns when it has run. The UI thread runs it while it retrieves or
// waits for messages (GetMessage, PeekMessage, MsgWaitForMultipleObjects with QS_SENDMESSAGE).
// Called on the UI thread itself, runs fn at once. An exception thrown by fn is carried back and
// rethrown in the caller.
void Synchronize(const std::function<void()>& fn);

}  // namespace memoline::core
