#include "inf/newdevlibrary.h"

#include "support/systemlibrary.h"

#include <wchar.h>

namespace {

INewDevLibrary* g_pNewDevOverride = nullptr;

} // namespace

CNewDevLibrary::CNewDevLibrary() : m_pfnUpdate(nullptr) {}

CNewDevLibrary::~CNewDevLibrary() { Free(); }

int CNewDevLibrary::Load(const wchar_t* path)
{
    Free();
    if (path == nullptr)
        return 0;
    // Only the system folder's copy is loaded, by its name and from that
    // folder alone, so that neither it nor its own dependencies can be
    // taken from the application's folder.
    const wchar_t* name = wcsrchr(path, L'\\');
    name = name ? name + 1 : path;
    CStr systemCopy = SystemLibraryPath(name);
    if (systemCopy.IsEmpty() || systemCopy.CompareNoCase(path) != 0) {
        SetLastError(ERROR_BAD_PATHNAME);
        return 0;
    }
    m_module.reset(LoadSystemLibrary(name));
    return m_module.valid() ? 1 : 0;
}

int CNewDevLibrary::FindUpdateFunction()
{
    m_pfnUpdate = nullptr;
    if (!m_module.valid())
        return 0;
    m_pfnUpdate =
        reinterpret_cast<PFN_UPDATEDRIVER>(::GetProcAddress(m_module.get(), "UpdateDriverForPlugAndPlayDevicesW"));
    return m_pfnUpdate ? 1 : 0;
}

BOOL CNewDevLibrary::UpdateDriver(const wchar_t* hardwareId, const wchar_t* infPath, DWORD flags, BOOL* reboot)
{
    if (m_pfnUpdate == nullptr)
        return FALSE;
    return m_pfnUpdate(nullptr, hardwareId, infPath, flags, reboot);
}

void CNewDevLibrary::Free()
{
    m_pfnUpdate = nullptr;
    m_module.reset();
}

INewDevLibrary* GetNewDevLibraryOverride() { return g_pNewDevOverride; }

INewDevLibrary* SetNewDevLibraryOverride(INewDevLibrary* library)
{
    INewDevLibrary* previous = g_pNewDevOverride;
    g_pNewDevOverride = library;
    return previous;
}

BOOL UpdateDriverFromNewDev(const wchar_t* hardwareId, const wchar_t* infPath, DWORD flags, BOOL* reboot)
{
    CNewDevLibrary platform;
    INewDevLibrary* library = GetNewDevLibraryOverride();
    if (library == nullptr)
        library = &platform;
    CStr path = SystemLibraryPath(L"newdev.dll");
    if (path.IsEmpty() || !library->Load(path.GetString()) || !library->FindUpdateFunction()) {
        library->Free();
        SetLastError(ERROR_PROC_NOT_FOUND);
        return FALSE;
    }
    BOOL updated = library->UpdateDriver(hardwareId, infPath, flags, reboot);
    DWORD error = GetLastError();
    library->Free();
    SetLastError(error);
    return updated;
}
