#include "support/installlock.h"

#include "zolcomp/zolcomp.h"
#include "support/str.h"
#include "support/wformat.h"

#include <sddl.h>

namespace {

DWORD g_installWaitMs = ZOL_INSTALL_WAIT_MS;

// Only the system and administrators may use the objects this process
// creates; an existing object keeps the access its creator gave it.
const wchar_t kObjectAccess[] = L"D:P(A;;GA;;;SY)(A;;GA;;;BA)";

} // namespace

DWORD GetInstallWaitMs() { return g_installWaitMs; }

DWORD SetInstallWaitMs(DWORD milliseconds)
{
    DWORD previous = g_installWaitMs;
    g_installWaitMs = milliseconds;
    return previous;
}

CStr InstallInProgressText(DWORD ownerProcessId)
{
    if (ownerProcessId == 0)
        return CStr(L"Another installation is in progress.");
    return CStr(FormatWide(L"Another installation is in progress (process ID %lu).",
                           static_cast<unsigned long>(ownerProcessId)).c_str());
}

CInstallLock::CInstallLock() : m_bHeld(false), m_bWroteOwner(false) {}

CInstallLock::~CInstallLock() { Release(); }

bool CInstallLock::OpenObjects()
{
    if (m_mutex.valid())
        return true;
    CUniqueLocal descriptor;
    PSECURITY_DESCRIPTOR raw = nullptr;
    SECURITY_ATTRIBUTES attributes = {sizeof(attributes), nullptr, FALSE};
    if (ConvertStringSecurityDescriptorToSecurityDescriptorW(kObjectAccess, SDDL_REVISION_1, &raw, nullptr)) {
        descriptor.reset(raw);
        attributes.lpSecurityDescriptor = raw;
    }
    m_mutex.reset(CreateMutexW(&attributes, FALSE, ZOL_INSTALL_MUTEX_NAME));
    if (!m_mutex.valid())
        return false;
    // The record is only a name for messages: without it the lock still works.
    m_mapping.reset(CreateFileMappingW(INVALID_HANDLE_VALUE, &attributes, PAGE_READWRITE, 0,
                                       ZOL_INSTALL_OWNER_BYTES, ZOL_INSTALL_OWNER_NAME));
    if (m_mapping.valid())
        m_view.reset(MapViewOfFile(m_mapping.get(), FILE_MAP_READ | FILE_MAP_WRITE, 0, 0, ZOL_INSTALL_OWNER_BYTES));
    return true;
}

volatile LONG* CInstallLock::Record() const
{
    return static_cast<volatile LONG*>(m_view.get());
}

bool CInstallLock::Acquire(DWORD timeoutMs)
{
    if (m_bHeld)
        return true;
    if (!OpenObjects())
        return false;
    DWORD wait = WaitForSingleObject(m_mutex.get(), timeoutMs);
    if (wait != WAIT_OBJECT_0 && wait != WAIT_ABANDONED)
        return false;
    m_bHeld = true;
    // A record that already names this process belongs to an outer holder
    // on this thread, which clears it when it releases.
    LONG self = static_cast<LONG>(GetCurrentProcessId());
    if (volatile LONG* record = Record()) {
        if (InterlockedExchange(record, self) != self)
            m_bWroteOwner = true;
    }
    return true;
}

void CInstallLock::Release()
{
    if (!m_bHeld)
        return;
    if (m_bWroteOwner && Record())
        InterlockedExchange(Record(), 0);
    m_bWroteOwner = false;
    m_bHeld = false;
    ReleaseMutex(m_mutex.get());
}

DWORD CInstallLock::ReadOwner() const
{
    volatile LONG* record = Record();
    return record ? static_cast<DWORD>(*record) : 0;
}
