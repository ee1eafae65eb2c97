#include "devices/installevents.h"

#include <cfgmgr32.h>

namespace {

PFN_WAIT_NO_PENDING_INSTALLS g_pWaitOverride = nullptr;

} // namespace

DWORD WaitNoPendingInstallEvents(DWORD timeoutMs)
{
    if (g_pWaitOverride)
        return g_pWaitOverride(timeoutMs);
    return CMP_WaitNoPendingInstallEvents(timeoutMs);
}

PFN_WAIT_NO_PENDING_INSTALLS SetPendingInstallWaitOverride(PFN_WAIT_NO_PENDING_INSTALLS wait)
{
    PFN_WAIT_NO_PENDING_INSTALLS previous = g_pWaitOverride;
    g_pWaitOverride = wait;
    return previous;
}
