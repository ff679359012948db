// One updater at a time: a mark of the running updater in the logon session, and a machine-wide
// lock that an install holds while it downloads and runs programs.
#pragma once

#include <windows.h>

#include "core/Handles.h"

namespace memoline {

// Names of the two mutexes. "Local\" is the logon session's namespace, "Global\" the machine's.
inline constexpr const wchar_t* kSessionMutexName = L"Local\\Memoline.ServerUpdates";
inline constexpr const wchar_t* kInstallMutexName = L"Global\\Memoline.ServerUpdates.Install";

// Created at start-up and kept for the process's life. First() is false when another updater of
// this logon session already holds the mark.
class TSessionInstance {
public:
    TSessionInstance();
    bool First() const { return FFirst; }

private:
    unique_handle FMutex;
    bool FFirst = true;
};

// Brings the running updater's main window to the front (restored when minimised). False when no
// such window appeared within five seconds.
bool BringRunningUpdaterForward();

// Held by an install from the download until its last program has ended. The mutex is never waited
// on: its existence is the mark, so a holder that crashed leaves nothing behind.
class TInstallLock {
public:
    // False when another install, from any logon session, holds the lock.
    bool TryAcquire();
    void Release() { FMutex.reset(); }
    bool Held() const { return static_cast<bool>(FMutex); }

private:
    unique_handle FMutex;
};

}  // namespace memoline
