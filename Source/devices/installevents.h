// The platform's wait until no device installation is pending
// (CMP_WaitNoPendingInstallEvents), behind a seam: Wine never has one
// pending, so a test stands in for the call to make it wait or time out.
#pragma once

#include <windows.h>

typedef DWORD(WINAPI* PFN_WAIT_NO_PENDING_INSTALLS)(DWORD timeoutMs);

// WAIT_OBJECT_0 when nothing is pending, WAIT_TIMEOUT when something still
// was after timeoutMs, WAIT_FAILED when the platform cannot tell.
DWORD WaitNoPendingInstallEvents(DWORD timeoutMs);
// Replaces the platform's call (null restores it); returns the previous one.
PFN_WAIT_NO_PENDING_INSTALLS SetPendingInstallWaitOverride(PFN_WAIT_NO_PENDING_INSTALLS wait);
