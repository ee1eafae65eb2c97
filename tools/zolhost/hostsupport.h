// The host's own small helpers. The host shares nothing with the component
// but the public header, the log class and the system-library loader, as a
// host from elsewhere would.
#pragma once

#include <windows.h>
#include <objbase.h>

#include <string>

// Owns one handle and closes it once, on reset or destruction.
template <typename T, BOOL(WINAPI* Close)(T)>
class CHostHandle
{
public:
    CHostHandle() : m_value(nullptr) {}
    explicit CHostHandle(T value) : m_value(value) {}
    ~CHostHandle() { reset(); }
    CHostHandle(const CHostHandle&) = delete;
    CHostHandle& operator=(const CHostHandle&) = delete;

    T get() const { return m_value; }
    explicit operator bool() const { return IsValid(m_value); }
    void reset(T value = nullptr)
    {
        if (IsValid(m_value))
            Close(m_value);
        m_value = value;
    }

private:
    static bool IsValid(T value) { return value != nullptr && value != (T)INVALID_HANDLE_VALUE; }
    T m_value;
};

typedef CHostHandle<HMODULE, FreeLibrary> CHostLibrary;
typedef CHostHandle<HANDLE, CloseHandle> CHostFile;

// printf-style formatting into a wide string; %s takes a wide string.
std::wstring HostFormat(const wchar_t* fmt, ...);

// Whether text contains pattern, ignoring the case of A to Z.
bool ContainsIgnoringCase(const wchar_t* text, const wchar_t* pattern);

// COM's CoInitializeEx, CoUninitialize and CoGetApartmentType, taken from
// the system folder's ole32.dll on first use: the host imports at load time
// only kernel32, advapi32 and the C runtime, which it needs before it has
// restricted the library search (zolhost.cpp). Without ole32 they fail with
// HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND) and CO_E_NOTINITIALIZED.
HRESULT HostCoInitializeEx(LPVOID reserved, DWORD flags);
void HostCoUninitialize();
HRESULT HostCoGetApartmentType(APTTYPE* type, APTTYPEQUALIFIER* qualifier);
