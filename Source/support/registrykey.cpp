#include "support/registrykey.h"

CRegistryKey::CRegistryKey(HKEY hRoot, const wchar_t* subKey)
    : m_hRoot(hRoot), m_hKey(nullptr), m_hRemoteRoot(nullptr), m_strSubKey(subKey),
      m_samDesired(KEY_ALL_ACCESS)
{
}

CRegistryKey::CRegistryKey(const wchar_t* machine, const wchar_t* subKey)
    : m_hRoot(HKEY_LOCAL_MACHINE), m_hKey(nullptr), m_hRemoteRoot(nullptr), m_strMachine(machine),
      m_strSubKey(subKey), m_samDesired(KEY_ALL_ACCESS)
{
}

CRegistryKey::CRegistryKey(const wchar_t* subKey)
    : m_hRoot(HKEY_LOCAL_MACHINE), m_hKey(nullptr), m_hRemoteRoot(nullptr), m_strSubKey(subKey),
      m_samDesired(KEY_ALL_ACCESS)
{
}

CRegistryKey::~CRegistryKey()
{
    Close();
}

int CRegistryKey::Open()
{
    Close();
    if (m_strSubKey.IsEmpty())
        return 0;
    const wchar_t* machine = m_strMachine.IsEmpty() ? nullptr : m_strMachine.GetString();
    if (RegConnectRegistryW(machine, m_hRoot, &m_hRemoteRoot) != ERROR_SUCCESS) {
        m_hRemoteRoot = nullptr;
        return 0;
    }
    if (RegOpenKeyExW(m_hRemoteRoot, m_strSubKey.GetString(), 0, m_samDesired, &m_hKey) == ERROR_SUCCESS)
        return 1;
    m_hKey = nullptr;
    Close();
    return 0;
}

int CRegistryKey::Close()
{
    if (m_hKey) {
        RegCloseKey(m_hKey);
        m_hKey = nullptr;
    }
    if (m_hRemoteRoot) {
        RegCloseKey(m_hRemoteRoot);
        m_hRemoteRoot = nullptr;
    }
    return 1;
}

int CRegistryKey::Exists()
{
    int opened = Open();
    Close();
    return opened;
}

int CRegistryKey::ReadDword(const wchar_t* valueName, DWORD* out)
{
    if (!Open())
        return 0;
    DWORD value = 0, type = 0, size = sizeof(value);
    LONG rc = RegQueryValueExW(m_hKey, valueName, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size);
    Close();
    if (rc != ERROR_SUCCESS || type != REG_DWORD || size != sizeof(value))
        return 0;
    if (out)
        *out = value;
    return 1;
}

int CRegistryKey::ReadString(const wchar_t* valueName, CStr* out)
{
    if (!Open())
        return 0;
    // 260 bytes: 129 characters and a terminator. One spare character so a
    // value stored without its terminator still comes back terminated.
    wchar_t buffer[131] = {};
    DWORD type = 0, size = 260;
    LONG rc = RegQueryValueExW(m_hKey, valueName, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size);
    Close();
    if (rc != ERROR_SUCCESS || type != REG_SZ)
        return 0;
    size_t chars = size / sizeof(wchar_t);
    if (chars > 130)
        chars = 130;
    buffer[chars] = L'\0';
    if (out)
        *out = buffer;
    return 1;
}
