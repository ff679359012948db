#include "app/SingleInstance.h"

#include "app/MainForm.h"

namespace memoline {
namespace {

// Opens or creates the named mutex. `existed` tells whether someone else had it already; a mutex
// made by another user in the global namespace may not be opened at all (access denied), which
// means the same.
unique_handle OpenMark(const wchar_t* name, bool& existed) {
    unique_handle mutex(CreateMutexW(nullptr, FALSE, name));
    const DWORD error = GetLastError();
    existed = (mutex && error == ERROR_ALREADY_EXISTS) || (!mutex && error == ERROR_ACCESS_DENIED);
    if (existed)
        mutex.reset();
    return mutex;
}

}  // namespace

TSessionInstance::TSessionInstance() {
    bool existed = false;
    FMutex = OpenMark(kSessionMutexName, existed);
    FFirst = !existed;
}

bool BringRunningUpdaterForward() {
    // Started twice in quick succession, the first may not have shown its window yet: give it a moment.
    HWND window = nullptr;
    for (int attempt = 0; attempt < 50 && !window; ++attempt) {
        window = FindWindowW(TfrmMain::kWindowClass, TfrmMain::kCaption);
        if (!window)
            Sleep(100);
    }
    if (!window)
        return false;
    if (IsIconic(window))
        ShowWindow(window, SW_RESTORE);
    SetForegroundWindow(window);
    return true;
}

bool TInstallLock::TryAcquire() {
    if (FMutex)
        return true;
    bool existed = false;
    FMutex = OpenMark(kInstallMutexName, existed);
    // A mutex that cannot be made for another reason blocks nothing: the install goes on unmarked.
    return !existed;
}

}  // namespace memoline
