// Helpers of the legacy and virtual install tests: registry and service
// look-ups, sample package directories, the pending file-operation list.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "testsupport.h"

namespace legacytest {

const wchar_t kServices[] = L"System\\CurrentControlSet\\Services\\";
const wchar_t kEnumRoot[] = L"System\\CurrentControlSet\\Enum\\Root\\";

inline bool KeyExists(const std::wstring& path)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

// A REG_DWORD value, or 0xFFFFFFFF when it cannot be read.
inline DWORD ReadDword(const std::wstring& path, const wchar_t* name)
{
    DWORD value = 0, size = sizeof(value);
    if (RegGetValueW(HKEY_LOCAL_MACHINE, path.c_str(), name, RRF_RT_REG_DWORD, nullptr, &value, &size) !=
        ERROR_SUCCESS)
        return 0xFFFFFFFF;
    return value;
}

// A string value (REG_SZ, or the first string of a REG_MULTI_SZ); empty when
// it cannot be read.
inline std::wstring ReadString(const std::wstring& path, const wchar_t* name)
{
    std::vector<wchar_t> data(4096, L'\0');
    DWORD size = static_cast<DWORD>((data.size() - 2) * sizeof(wchar_t));
    if (RegGetValueW(HKEY_LOCAL_MACHINE, path.c_str(), name, RRF_RT_REG_SZ | RRF_RT_REG_MULTI_SZ, nullptr,
                     data.data(), &size) != ERROR_SUCCESS)
        return std::wstring();
    return data.data();
}

inline bool SetDword(const std::wstring& path, const wchar_t* name, DWORD value)
{
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) !=
        ERROR_SUCCESS)
        return false;
    LONG rc = RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value));
    RegCloseKey(key);
    return rc == ERROR_SUCCESS;
}

// True when the service manager knows the service.
inline bool ServiceKnown(const std::wstring& name)
{
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    if (!manager)
        return false;
    SC_HANDLE service = OpenServiceW(manager, name.c_str(), SERVICE_QUERY_CONFIG);
    bool known = service != nullptr;
    if (service)
        CloseServiceHandle(service);
    CloseServiceHandle(manager);
    return known;
}

// The service's start type as the service manager reports it, or -1.
inline int ServiceStartType(const std::wstring& name)
{
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    if (!manager)
        return -1;
    int start = -1;
    SC_HANDLE service = OpenServiceW(manager, name.c_str(), SERVICE_QUERY_CONFIG);
    if (service) {
        std::vector<BYTE> buffer(8192);
        DWORD needed = 0;
        if (QueryServiceConfigW(service, reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.data()),
                                static_cast<DWORD>(buffer.size()), &needed))
            start = static_cast<int>(reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.data())->dwStartType);
        CloseServiceHandle(service);
    }
    CloseServiceHandle(manager);
    return start;
}

inline std::wstring SystemRoot()
{
    wchar_t root[MAX_PATH] = {};
    GetEnvironmentVariableW(L"SystemRoot", root, MAX_PATH);
    return root;
}

const wchar_t kSessionManager[] = L"System\\CurrentControlSet\\Control\\Session Manager";
const wchar_t kPending[] = L"PendingFileRenameOperations";

// The pending list: pairs of source and target, an empty target meaning a
// deletion.
inline std::vector<std::wstring> PendingOperations()
{
    std::vector<wchar_t> data(65536, L'\0');
    DWORD bytes = static_cast<DWORD>((data.size() - 2) * sizeof(wchar_t));
    std::vector<std::wstring> entries;
    if (RegGetValueW(HKEY_LOCAL_MACHINE, kSessionManager, kPending, RRF_RT_REG_MULTI_SZ, nullptr, data.data(),
                     &bytes) != ERROR_SUCCESS)
        return entries;
    for (size_t i = 0, start = 0; i < bytes / sizeof(wchar_t); ++i) {
        if (data[i] == L'\0') {
            entries.emplace_back(data.data() + start, i - start);
            start = i + 1;
        }
    }
    // The list's own end (an empty string after the last pair) is no entry.
    if (entries.size() % 2 == 1 && entries.back().empty())
        entries.pop_back();
    return entries;
}

inline void ClearPendingOperations()
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSessionManager, 0, KEY_SET_VALUE, &key) == ERROR_SUCCESS) {
        RegDeleteValueW(key, kPending);
        RegCloseKey(key);
    }
}

// Holds a file open for reading only, as a running program would.
class CHeldFile
{
public:
    explicit CHeldFile(const std::wstring& path)
        : m_h(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr))
    {
    }
    ~CHeldFile()
    {
        if (m_h != INVALID_HANDLE_VALUE)
            CloseHandle(m_h);
    }
    bool valid() const { return m_h != INVALID_HANDLE_VALUE; }
    CHeldFile(const CHeldFile&) = delete;
    CHeldFile& operator=(const CHeldFile&) = delete;

private:
    HANDLE m_h;
};

using zoltest::EditFile;

} // namespace legacytest
