/* A DLL that imports version.dll at load time, as the released binaries must
   not: the binary checks show that their imports check refuses it. */
#include <windows.h>

__declspec(dllexport) DWORD WINAPI ZolVersionInfoSize(LPCWSTR path)
{
    DWORD ignored = 0;
    return GetFileVersionInfoSizeW(path, &ignored);
}
