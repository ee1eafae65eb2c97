// CInstallLock: the machine-wide install lock (ZOL_INSTALL_LOCK_PATH), a
// file in the system drive's \DEVAVOROR folder, which the component makes
// one only administrators can change: no other account can create the file
// first or hold it. Holding the lock is having the file open for writing
// with read sharing only; the system lets it go when its holder closes it
// or ends. Its first ZOL_INSTALL_OWNER_BYTES bytes name the holder: process
// ID and thread ID, zero when unknown. One object takes the lock at most
// once and releases it on destruction.
//
// The lock counts as held by a thread whose process and thread the record
// names: a host that holds it and then calls Install on the same thread
// lets the component's wait succeed at once. Only that outermost holder
// writes and clears the record.
#pragma once

#include <windows.h>

#include "support/handles.h"
#include "support/str.h"

#include <string>

// Why Acquire did not take the lock.
enum InstallLockBusy {
    LOCK_BUSY_NONE = 0,
    LOCK_BUSY_INSTALLATION = 1,     // an administrator's process holds it: an installation runs
    LOCK_BUSY_NOT_ADMINISTRATOR = 2, // a file another account owns stands at its name, held open
    LOCK_BUSY_UNAVAILABLE = 3,      // its folder or file cannot be made or opened
};

class CInstallLock
{
public:
    CInstallLock();
    ~CInstallLock();

    CInstallLock(const CInstallLock&) = delete;
    CInstallLock& operator=(const CInstallLock&) = delete;

    // Waits at most timeoutMs for the lock. True when this object holds it.
    // A lock that no installation holds (another account's file, a folder
    // that cannot be made trusted) is not waited for.
    bool Acquire(DWORD timeoutMs);
    bool Held() const { return m_bHeld; }
    void Release();

    // The process ID the record names: the holder's, or 0 when unknown.
    DWORD ReadOwner() const;
    // Why the last Acquire failed, and for LOCK_BUSY_UNAVAILABLE in words.
    InstallLockBusy BusyReason() const { return m_busy; }
    const std::wstring& UnavailableText() const { return m_unavailable; }

    // The lock file's full path; empty when the system folder cannot be read.
    static std::wstring LockPath();

private:
    // One attempt; true when the lock was taken (or is this thread's). A
    // file that is not the administrators' is moved aside only when
    // mayMoveAside is set (once per attempt).
    bool TryTake(bool mayMoveAside = true);
    // Looks at a lock another handle holds; true when it is this thread's.
    bool JudgeHolder(bool mayMoveAside);
    bool Unavailable(const std::wstring& text);

    CUniqueFile m_file;
    std::wstring m_path;
    bool m_bHeld;
    bool m_bWroteOwner;
    DWORD m_owner;
    InstallLockBusy m_busy;
    std::wstring m_unavailable;
};

// How long Install waits for the lock: ZOL_INSTALL_WAIT_MS unless a test
// shortened it (SetInstallWaitMs returns the previous value).
DWORD GetInstallWaitMs();
DWORD SetInstallWaitMs(DWORD milliseconds);

// "Another installation is in progress (process ID N)." or, when the holder
// is unknown, "Another installation is in progress."
CStr InstallInProgressText(DWORD ownerProcessId);
// The same for a lock Acquire did not take, with the reason when it is not
// an installation: "The install lock C:\DEVAVOROR\zolcomp-install.lock is
// held by a process that is not an administrator's: process ID N." or "The
// install lock cannot be taken: ...".
CStr InstallInProgressText(const CInstallLock& lock);
