#include "support/componentdirectory.h"

#include <wchar.h>

HMODULE g_hModule = nullptr;

CStr GetComponentDirectory()
{
    wchar_t path[MAX_PATH] = {};
    DWORD len = GetModuleFileNameW(g_hModule, path, MAX_PATH);
    if (len == 0 || len >= MAX_PATH)
        return CStr();
    wchar_t* slash = wcsrchr(path, L'\\');
    if (slash)
        *slash = L'\0';
    return CStr(path);
}
