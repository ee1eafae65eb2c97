#include "hostsupport.h"

#include "support/systemlibrary.h"

#include <stdarg.h>
#include <stdio.h>

#include <algorithm>
#include <vector>

std::wstring HostFormat(const wchar_t* fmt, ...)
{
    va_list args;
    va_start(args, fmt);
    int needed = _vscwprintf(fmt, args);
    va_end(args);
    if (needed <= 0)
        return std::wstring();
    std::vector<wchar_t> buffer(static_cast<size_t>(needed) + 1, L'\0');
    va_start(args, fmt);
    _vsnwprintf(buffer.data(), buffer.size() - 1, fmt, args);
    va_end(args);
    return std::wstring(buffer.data());
}

bool ContainsIgnoringCase(const wchar_t* text, const wchar_t* pattern)
{
    auto fold = [](wchar_t c) { return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c - L'A' + L'a') : c; };
    std::wstring t(text ? text : L""), p(pattern ? pattern : L"");
    return !p.empty() && std::search(t.begin(), t.end(), p.begin(), p.end(), [&](wchar_t a, wchar_t b) {
                             return fold(a) == fold(b);
                         }) != t.end();
}

namespace {

// Looked up once; ole32 then stays loaded while the host runs.
struct HOSTCOM {
    HRESULT(WINAPI* pInitializeEx)(LPVOID, DWORD);
    void(WINAPI* pUninitialize)();
    HRESULT(WINAPI* pGetApartmentType)(APTTYPE*, APTTYPEQUALIFIER*);
};

const HOSTCOM& HostCom()
{
    static const HOSTCOM com = [] {
        HOSTCOM found = {nullptr, nullptr, nullptr};
        if (HMODULE ole32 = LoadSystemLibrary(L"ole32.dll")) {
            found.pInitializeEx = reinterpret_cast<decltype(found.pInitializeEx)>(GetProcAddress(ole32, "CoInitializeEx"));
            found.pUninitialize = reinterpret_cast<decltype(found.pUninitialize)>(GetProcAddress(ole32, "CoUninitialize"));
            found.pGetApartmentType =
                reinterpret_cast<decltype(found.pGetApartmentType)>(GetProcAddress(ole32, "CoGetApartmentType"));
        }
        return found;
    }();
    return com;
}

} // namespace

HRESULT HostCoInitializeEx(LPVOID reserved, DWORD flags)
{
    return HostCom().pInitializeEx ? HostCom().pInitializeEx(reserved, flags) : HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND);
}

void HostCoUninitialize()
{
    if (HostCom().pUninitialize)
        HostCom().pUninitialize();
}

HRESULT HostCoGetApartmentType(APTTYPE* type, APTTYPEQUALIFIER* qualifier)
{
    return HostCom().pGetApartmentType ? HostCom().pGetApartmentType(type, qualifier) : CO_E_NOTINITIALIZED;
}
