// CComponentLibrary: one installer component DLL, loaded from a path, with its
// three exported functions and, when it has it, the fourth (Uninstall).
#pragma once

#include <windows.h>

#include <string>

#include "zolcomp/zolcomp.h"

#include "hostsupport.h"

class CComponentLibrary
{
public:
    CComponentLibrary();

    // Loads the library (a relative path is taken from the current directory,
    // never from the host's own directory; its imports are searched for in
    // its own folder and the system folder only) and finds its exports. On
    // failure nothing stays loaded and Error() says why.
    bool Load(const std::wstring& path);
    void Unload();

    const std::wstring& FullPath() const { return m_fullPath; }
    const std::wstring& Error() const { return m_error; }

    int GetInterfaceVersion(int* version) const { return m_pGetInterfaceVersion(version); }
    int GetProperty(int type, void* out, int capacity, void* extra) const
    {
        return m_pGetProperty(type, out, capacity, extra);
    }
    int Install(int a, void* b, wchar_t* message, int d, const wchar_t* language) const
    {
        return m_pInstall(a, b, message, d, language);
    }
    // Whether the component exports Uninstall; Uninstall is called only then.
    bool CanUninstall() const { return m_pUninstall != nullptr; }
    int Uninstall(int a, void* b, wchar_t* message, int d, const wchar_t* language) const
    {
        return m_pUninstall(a, b, message, d, language);
    }

    CComponentLibrary(const CComponentLibrary&) = delete;
    CComponentLibrary& operator=(const CComponentLibrary&) = delete;

    // The full form of a path, taken from the current directory when it is
    // relative; empty when the path is not valid.
    static std::wstring FullPathName(const std::wstring& path);
    // The system's text for an error code, without its final full stop.
    static std::wstring SystemMessage(DWORD error);

private:

    CHostLibrary m_module;
    PFN_ZOL_GETINTERFACEVERSION m_pGetInterfaceVersion;
    PFN_ZOL_GETPROPERTY m_pGetProperty;
    PFN_ZOL_INSTALL m_pInstall;
    PFN_ZOL_UNINSTALL m_pUninstall; // null: the component cannot uninstall
    std::wstring m_fullPath;
    std::wstring m_error;
};
