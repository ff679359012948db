// The last stop of an exception: where it would leave a window procedure (into the system's frames,
// which the 32-bit build cannot unwind through) or the body of a worker thread, it is caught and shown
// to the operator in an error box, and the program goes on.
#pragma once

#include <windows.h>

#include <exception>
#include <string>

namespace memoline::ui {

// The text an error box shows for the exception: its message, or a fixed text when it has none.
std::wstring ExceptionText(const std::exception_ptr& error);

// Shows the exception in an error box (through MessageDlg, so tests can answer it). An exception
// raised while such a box is up is not shown again on top of it.
void ShowException(const std::exception_ptr& error);

// Runs a window procedure's body; an exception that escapes it is shown and the message gets 0.
template <class Body>
LRESULT GuardWindowProc(Body&& body) noexcept {
    try {
        return body();
    } catch (...) {
        ShowException(std::current_exception());
        return 0;
    }
}

}  // namespace memoline::ui
