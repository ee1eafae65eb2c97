#include "componentlibrary.h"

#include "hostsupport.h"
#include "support/systemlibrary.h"

#include <vector>

CComponentLibrary::CComponentLibrary()
    : m_pGetInterfaceVersion(nullptr), m_pGetProperty(nullptr), m_pInstall(nullptr), m_pUninstall(nullptr)
{
}

std::wstring CComponentLibrary::SystemMessage(DWORD error)
{
    wchar_t* text = nullptr;
    DWORD len = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                   FORMAT_MESSAGE_IGNORE_INSERTS,
                               nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::wstring message = (len && text) ? std::wstring(text, len) : std::wstring();
    if (text)
        LocalFree(text);
    while (!message.empty() && (message.back() == L'\r' || message.back() == L'\n' || message.back() == L' ' ||
                                message.back() == L'.'))
        message.pop_back();
    return message;
}

std::wstring CComponentLibrary::FullPathName(const std::wstring& path)
{
    DWORD needed = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (needed == 0)
        return std::wstring();
    std::vector<wchar_t> full(needed + 1);
    DWORD len = GetFullPathNameW(path.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
    return std::wstring(full.data(), len < full.size() ? len : 0);
}

bool CComponentLibrary::Load(const std::wstring& path)
{
    Unload();
    m_error.clear();
    m_fullPath = FullPathName(path);
    if (m_fullPath.empty()) {
        m_fullPath = path;
        m_error = HostFormat(L"cannot load the component %s: the path is not valid", path.c_str());
        return false;
    }

    // No error boxes for a missing or broken file: the host reports it.
    UINT errorMode = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    // The component's own imports are searched for in its folder and the
    // system folder only; where the loader does not know these flags, from
    // the component's folder on (never the host's folder first).
    m_module.reset(LoadLibraryWithFallback(m_fullPath.c_str(),
                                           LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32,
                                           m_fullPath.c_str(), LOAD_WITH_ALTERED_SEARCH_PATH));
    SetErrorMode(errorMode);
    if (!m_module) {
        DWORD error = GetLastError();
        m_error = HostFormat(L"cannot load the component %s: error %lu (%s)", m_fullPath.c_str(),
                             static_cast<unsigned long>(error), SystemMessage(error).c_str());
        return false;
    }
    m_pGetInterfaceVersion = reinterpret_cast<PFN_ZOL_GETINTERFACEVERSION>(
        GetProcAddress(m_module.get(), ZOL_EXPORT_GETINTERFACEVERSION));
    m_pGetProperty = reinterpret_cast<PFN_ZOL_GETPROPERTY>(GetProcAddress(m_module.get(), ZOL_EXPORT_GETPROPERTY));
    m_pInstall = reinterpret_cast<PFN_ZOL_INSTALL>(GetProcAddress(m_module.get(), ZOL_EXPORT_INSTALL));
    // Optional: a component that cannot take its package off has no Uninstall.
    m_pUninstall = reinterpret_cast<PFN_ZOL_UNINSTALL>(GetProcAddress(m_module.get(), ZOL_EXPORT_UNINSTALL));
    const wchar_t* missing = !m_pGetInterfaceVersion ? L"GetInterfaceVersion"
                             : !m_pGetProperty       ? L"GetProperty"
                             : !m_pInstall           ? L"Install"
                                                     : nullptr;
    if (missing) {
        m_error = HostFormat(L"%s is not an installer component: it has no export %s", m_fullPath.c_str(), missing);
        Unload();
        return false;
    }
    return true;
}

void CComponentLibrary::Unload()
{
    m_module.reset();
    m_pGetInterfaceVersion = nullptr;
    m_pGetProperty = nullptr;
    m_pInstall = nullptr;
    m_pUninstall = nullptr;
}
