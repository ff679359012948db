// What screen readers are told about a window beyond what the system's standard accessible object
// for it knows: the texts the framework paints without a window of their own, a name other than the
// window text (which may be markup, or nothing), descriptions. The answer is made only when a client
// asks (WM_GETOBJECT), so it costs the start-up nothing; oleacc is loaded then.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

namespace memoline::ui {

// A painted text shown to screen readers as a simple child of its window's object.
struct TAccessiblePart {
    std::wstring Name;
    LONG Role = 0;  // ROLE_SYSTEM_*
    RECT Bounds{};  // in the window's client coordinates
};

// Asked anew at every question, so that an object a client holds reads the control as it is now: the
// functions find their control by its window (TControl::FromHandle) and answer nothing once it has
// gone. Unset, or an empty answer: the standard object's (the window text for the name).
struct TAccessibleDetails {
    std::function<std::wstring()> Name;
    std::function<std::wstring()> Description;
    // The description of one of the standard object's children (a grid's row: child id = row + 1).
    std::function<std::wstring(LONG child)> ChildDescription;
    std::vector<TAccessiblePart> Parts;  // children that come before the standard object's
};

// The answer to WM_GETOBJECT for `hwnd`: for OBJID_CLIENT an object over the system's standard one,
// with the details; 0 (the system's answer) for other objects or when oleacc cannot be loaded.
LRESULT AnswerGetObject(HWND hwnd, WPARAM wp, LPARAM lp, TAccessibleDetails details);

}  // namespace memoline::ui
