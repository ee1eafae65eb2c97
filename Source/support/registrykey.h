// CRegistryKey: one registry key, opened and closed around every access.
#pragma once

#include <windows.h>

#include "support/str.h"

class CRegistryKey
{
public:
    CRegistryKey(HKEY hRoot, const wchar_t* subKey);
    CRegistryKey(const wchar_t* machine, const wchar_t* subKey);
    explicit CRegistryKey(const wchar_t* subKey);
    ~CRegistryKey();

    CRegistryKey(const CRegistryKey&) = delete;
    CRegistryKey& operator=(const CRegistryKey&) = delete;

    void SetAccess(REGSAM sam) { m_samDesired = sam; }

    int Open();
    int Close();
    int Exists();
    int ReadDword(const wchar_t* valueName, DWORD* out);
    int ReadString(const wchar_t* valueName, CStr* out);

private:
    HKEY m_hRoot;
    HKEY m_hKey;
    HKEY m_hRemoteRoot;
    CStr m_strMachine;
    CStr m_strSubKey;
    REGSAM m_samDesired;
};
