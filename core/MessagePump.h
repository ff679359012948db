// The one way the UI thread's messages are handled, by the main loop and by every loop that runs while
// the program waits (network, download, programs started), so the keyboard and a quit request behave
// the same everywhere.
#pragma once

#include <windows.h>

#include <functional>

namespace memoline::core {

// Dispatches one message: keys meant for moving between controls (Tab, Shift+Tab, arrows, Esc, Enter)
// go to the top-level window as dialog keys, everything else is translated and dispatched.
void DispatchThreadMessage(MSG& msg);

// What a wait does with a quit request (WM_QUIT) it finds in the queue.
enum class TQuitPolicy {
    // Stop handling messages and post the request again at once: the caller ends its wait and the
    // application's own loop sees the request.
    StopAndRepost,
    // Keep the request back and go on; the wait runs to its end and TQuitHold posts it afterwards.
    HoldUntilWaitEnds,
};

// A quit request held back by a wait; posted again when the hold goes out of scope.
class TQuitHold {
public:
    TQuitHold() = default;
    TQuitHold(const TQuitHold&) = delete;
    TQuitHold& operator=(const TQuitHold&) = delete;
    ~TQuitHold() {
        if (seen_)
            PostQuitMessage(exitCode_);
    }
    void Take(int exitCode) {
        seen_ = true;
        exitCode_ = exitCode;
    }
    bool Seen() const { return seen_; }

private:
    bool seen_ = false;
    int exitCode_ = 0;
};

struct TPumpResult {
    bool quit = false;  // a quit request was found (and, under StopAndRepost, posted again)
};

// Handles every message waiting in this thread's queue. afterEach, when given, runs after each
// dispatched message (a wait checks its time limit there). hold is used under HoldUntilWaitEnds and
// may be null under StopAndRepost.
TPumpResult ProcessPendingMessages(TQuitPolicy policy,
                                   TQuitHold* hold = nullptr,
                                   const std::function<void()>& afterEach = {});

}  // namespace memoline::core
