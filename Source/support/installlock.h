// CInstallLock: the machine-wide install mutex (ZOL_INSTALL_MUTEX_NAME) and
// the record beside it that names its holder (ZOL_INSTALL_OWNER_NAME). One
// object takes the mutex at most once and releases it on destruction.
//
// The mutex is recursive for its owning thread: a host that holds it and
// then calls Install on the same thread lets the component's wait succeed at
// once. Only the outermost holder in a process writes and clears the record.
#pragma once

#include <windows.h>

#include "support/handles.h"
#include "support/str.h"

class CInstallLock
{
public:
    CInstallLock();
    ~CInstallLock();

    CInstallLock(const CInstallLock&) = delete;
    CInstallLock& operator=(const CInstallLock&) = delete;

    // Waits at most timeoutMs for the mutex. True when this object holds it
    // (also when its last holder ended without releasing it).
    bool Acquire(DWORD timeoutMs);
    bool Held() const { return m_bHeld; }
    void Release();

    // The process ID the record names: the holder's, or 0 when unknown.
    DWORD ReadOwner() const;

private:
    bool OpenObjects();
    volatile LONG* Record() const;

    CUniqueFile m_mutex;
    CUniqueFile m_mapping;
    CUniqueView m_view;
    bool m_bHeld;
    bool m_bWroteOwner;
};

// How long Install waits for the mutex: ZOL_INSTALL_WAIT_MS unless a test
// shortened it (SetInstallWaitMs returns the previous value).
DWORD GetInstallWaitMs();
DWORD SetInstallWaitMs(DWORD milliseconds);

// "Another installation is in progress (process ID N)." or, when the holder
// is unknown, "Another installation is in progress."
CStr InstallInProgressText(DWORD ownerProcessId);
