// The library's exported functions and its module entry.
#include <windows.h>

#include "component.h"
#include "zolcomp/zolcomp.h"

CComponent g_Component;

extern "C" {

int WINAPI GetInterfaceVersion(int* version)
{
    if (version)
        *version = ZOL_INTERFACE_VERSION;
    return 1;
}

int WINAPI GetProperty(int type, void* out, int capacity, void* extra)
{
    return g_Component.GetProperty(type, out, capacity, extra);
}

int WINAPI Install(int a, void* b, wchar_t* message, int d, const wchar_t* language)
{
    return g_Component.Install(a, b, message, d, language);
}

BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID reserved)
{
    if (reason == DLL_PROCESS_ATTACH) {
        g_hModule = module;
        DisableThreadLibraryCalls(module);
        g_Component.Initialize();
    }
    return TRUE;
}

} // extern "C"
