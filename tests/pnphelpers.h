// Helpers of the install tests: simulated devices, a stand-in for the device
// installation library, and scopes for the current directory and the
// component's module directory.
#pragma once

#include <windows.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "basecomp.h"
#include "inf/newdevlibrary.h"
#include "testsupport.h"

namespace pnptest {

// A device created with devsim for one test and removed after it.
class CSimulatedDevice
{
public:
    explicit CSimulatedDevice(const std::vector<std::wstring>& ids) : m_instance(zoltest::AddDevice(ids)) {}
    ~CSimulatedDevice()
    {
        if (!m_instance.empty())
            zoltest::RunProcess(L"\"" + zoltest::BinPath(L"devsim.exe") + L"\" remove " + m_instance);
    }
    CSimulatedDevice(const CSimulatedDevice&) = delete;
    CSimulatedDevice& operator=(const CSimulatedDevice&) = delete;
    const std::wstring& Instance() const { return m_instance; }

private:
    std::wstring m_instance;
};

// One call of the driver update function as the stand-in saw it.
struct UPDATECALL {
    std::wstring hardwareId;
    std::wstring infPath;
    DWORD flags;
};

// Stands in for the device installation library: records every call and
// answers as configured (by default: loads, has the function, every update
// succeeds without a restart).
class CFakeNewDevLibrary : public INewDevLibrary
{
public:
    int Load(const wchar_t* path) override
    {
        loadPaths.push_back(path ? path : L"");
        errorModeAtLoad = GetErrorMode();
        return loads;
    }
    int FindUpdateFunction() override
    {
        ++lookups;
        return hasFunction;
    }
    BOOL UpdateDriver(const wchar_t* hardwareId, const wchar_t* infPath, DWORD flags, BOOL* reboot) override
    {
        calls.push_back({hardwareId, infPath, flags});
        auto it = outcomes.find(hardwareId);
        if (it == outcomes.end())
            return TRUE;
        if (it->second.second && reboot)
            *reboot = TRUE;
        if (!it->second.first)
            SetLastError(updateError);
        return it->second.first;
    }
    void Free() override { ++frees; }

    // Per hardware ID: (result, asks for a restart).
    void SetOutcome(const std::wstring& id, BOOL result, BOOL reboot) { outcomes[id] = {result, reboot}; }

    int loads = 1;
    int hasFunction = 1;
    int lookups = 0;
    DWORD updateError = 0xE000020B; // what a failed update leaves as the last error (no such device instance)
    int frees = 0;
    UINT errorModeAtLoad = 0;
    std::vector<std::wstring> loadPaths;
    std::vector<UPDATECALL> calls;
    std::map<std::wstring, std::pair<BOOL, BOOL>> outcomes;
};

// Installs a stand-in library for one scope.
class CNewDevOverrideScope
{
public:
    explicit CNewDevOverrideScope(INewDevLibrary* library) : m_previous(SetNewDevLibraryOverride(library)) {}
    ~CNewDevOverrideScope() { SetNewDevLibraryOverride(m_previous); }

private:
    INewDevLibrary* m_previous;
};

class CCurrentDirectoryScope
{
public:
    explicit CCurrentDirectoryScope(const std::wstring& dir)
    {
        wchar_t previous[MAX_PATH] = {};
        GetCurrentDirectoryW(MAX_PATH, previous);
        m_previous = previous;
        SetCurrentDirectoryW(dir.c_str());
    }
    ~CCurrentDirectoryScope() { SetCurrentDirectoryW(m_previous.c_str()); }

private:
    std::wstring m_previous;
};

// Makes dir the component's own directory: a copy of the component library
// is mapped from there without running its entry point, and its handle
// stands as the component's module handle for the scope.
class CComponentDirectoryScope
{
public:
    explicit CComponentDirectoryScope(const std::wstring& dir) : m_previous(g_hModule), m_module(nullptr)
    {
        std::wstring path = dir + L"\\zolcomp.dll";
        CopyFileW(zoltest::BinPath(L"zolcomp.dll").c_str(), path.c_str(), FALSE);
        m_module = LoadLibraryExW(path.c_str(), nullptr, DONT_RESOLVE_DLL_REFERENCES);
        if (m_module)
            g_hModule = m_module;
    }
    ~CComponentDirectoryScope()
    {
        g_hModule = m_previous;
        if (m_module)
            FreeLibrary(m_module);
    }
    bool Valid() const { return m_module != nullptr; }

private:
    HMODULE m_previous;
    HMODULE m_module;
};

inline std::wstring StagingFolder() { return L"C:\\DEVAVOROR\\pnpdrvs"; }

// The registry an uninstall changes, as the platform's reg tool exports it:
// the component's records, the root devices, the devices' driver keys and
// the package's service.
inline std::string ExportUninstallKeys()
{
    std::string out;
    for (const wchar_t* key : {L"HKLM\\SOFTWARE\\zolcomp", L"HKLM\\SYSTEM\\CurrentControlSet\\Enum\\ROOT",
                               L"HKLM\\SYSTEM\\CurrentControlSet\\Control\\Class",
                               L"HKLM\\SYSTEM\\CurrentControlSet\\Services\\zolchip"}) {
        zoltest::RunProcess(std::wstring(L"reg export ") + key + L" C:\\zoltest\\keys.reg /y");
        out += zoltest::ReadBytes(L"C:\\zoltest\\keys.reg");
    }
    return out;
}

// The names of the files in a folder, sorted.
inline std::vector<std::wstring> FilesIn(const std::wstring& dir)
{
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileW((dir + L"\\*").c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE)
        return names;
    do {
        if (!(fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            names.push_back(fd.cFileName);
    } while (FindNextFileW(h, &fd));
    FindClose(h);
    std::sort(names.begin(), names.end());
    return names;
}

inline std::vector<std::wstring> ToVector(const CStrList& list)
{
    std::vector<std::wstring> out;
    for (const CStr& s : list)
        out.push_back(s.GetString());
    return out;
}

} // namespace pnptest
