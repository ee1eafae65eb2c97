#include "support/systemlibrary.h"

#include <wchar.h>

namespace {

typedef DWORD(WINAPI* PFN_GETFILEVERSIONINFOSIZEW)(LPCWSTR, LPDWORD);
typedef BOOL(WINAPI* PFN_GETFILEVERSIONINFOW)(LPCWSTR, DWORD, DWORD, LPVOID);
typedef BOOL(WINAPI* PFN_VERQUERYVALUEW)(LPCVOID, LPCWSTR, LPVOID*, PUINT);

struct VERSIONFUNCTIONS {
    PFN_GETFILEVERSIONINFOSIZEW pGetSize;
    PFN_GETFILEVERSIONINFOW pGetInfo;
    PFN_VERQUERYVALUEW pQuery;
};

// Looked up once. The library is never freed: the component would otherwise
// free it while it is itself being unloaded, inside DllMain, where freeing a
// library is not allowed.
const VERSIONFUNCTIONS& VersionFunctions()
{
    static const VERSIONFUNCTIONS functions = [] {
        VERSIONFUNCTIONS found = {nullptr, nullptr, nullptr};
        HMODULE version = LoadSystemLibrary(L"version.dll");
        if (version == nullptr)
            return found;
        found.pGetSize = reinterpret_cast<PFN_GETFILEVERSIONINFOSIZEW>(GetProcAddress(version, "GetFileVersionInfoSizeW"));
        found.pGetInfo = reinterpret_cast<PFN_GETFILEVERSIONINFOW>(GetProcAddress(version, "GetFileVersionInfoW"));
        found.pQuery = reinterpret_cast<PFN_VERQUERYVALUEW>(GetProcAddress(version, "VerQueryValueW"));
        return found;
    }();
    return functions;
}

bool IsPlainFileName(const wchar_t* name)
{
    if (name == nullptr || name[0] == L'\0' || wcscmp(name, L".") == 0 || wcscmp(name, L"..") == 0)
        return false;
    return wcspbrk(name, L"\\/:") == nullptr;
}

} // namespace

HMODULE LoadLibraryWithFallback(const wchar_t* path, DWORD flags, const wchar_t* fallbackPath, DWORD fallbackFlags,
                                PFN_LOADLIBRARYEXW load)
{
    HMODULE module = load(path, nullptr, flags);
    if (module != nullptr || GetLastError() != ERROR_INVALID_PARAMETER)
        return module;
    if (fallbackPath == nullptr || fallbackPath[0] == L'\0') {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    return load(fallbackPath, nullptr, fallbackFlags);
}

CStr SystemLibraryPath(const wchar_t* name)
{
    wchar_t directory[MAX_PATH] = {};
    UINT length = GetSystemDirectoryW(directory, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return CStr();
    CStr path(directory);
    path += L"\\";
    path += name;
    return path.GetLength() < MAX_PATH ? path : CStr();
}

HMODULE LoadSystemLibrary(const wchar_t* name, PFN_LOADLIBRARYEXW load)
{
    if (!IsPlainFileName(name)) {
        SetLastError(ERROR_INVALID_NAME);
        return nullptr;
    }
    CStr fullPath = SystemLibraryPath(name);
    return LoadLibraryWithFallback(name, LOAD_LIBRARY_SEARCH_SYSTEM32, fullPath.GetString(),
                                   LOAD_WITH_ALTERED_SEARCH_PATH, load);
}

bool SearchOnlySystemFolderByDefault()
{
    typedef BOOL(WINAPI * PFN_SETDEFAULTDLLDIRECTORIES)(DWORD);
    HMODULE kernel32 = GetModuleHandleW(L"kernel32.dll");
    PFN_SETDEFAULTDLLDIRECTORIES setDefault =
        kernel32 ? reinterpret_cast<PFN_SETDEFAULTDLLDIRECTORIES>(GetProcAddress(kernel32, "SetDefaultDllDirectories"))
                 : nullptr;
    return setDefault != nullptr && setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32);
}

bool ReadVersionResource(const wchar_t* path, std::vector<BYTE>& block)
{
    block.clear();
    const VERSIONFUNCTIONS& version = VersionFunctions();
    if (version.pGetSize == nullptr || version.pGetInfo == nullptr || version.pQuery == nullptr) {
        SetLastError(ERROR_PROC_NOT_FOUND);
        return false;
    }
    DWORD ignored = 0;
    DWORD size = version.pGetSize(path, &ignored);
    if (size == 0)
        return false;
    block.resize(size);
    if (!version.pGetInfo(path, 0, size, block.data())) {
        block.clear();
        return false;
    }
    return true;
}

bool QueryVersionValue(const std::vector<BYTE>& block, const wchar_t* subBlock, void** value, UINT* length)
{
    *value = nullptr;
    *length = 0;
    const VERSIONFUNCTIONS& version = VersionFunctions();
    if (block.empty() || version.pQuery == nullptr)
        return false;
    return version.pQuery(block.data(), subBlock, value, length) && *value != nullptr;
}

const VS_FIXEDFILEINFO* FixedVersionInfo(const std::vector<BYTE>& block)
{
    void* root = nullptr;
    UINT length = 0;
    if (!QueryVersionValue(block, L"\\", &root, &length) || length < sizeof(VS_FIXEDFILEINFO))
        return nullptr;
    return static_cast<const VS_FIXEDFILEINFO*>(root);
}
