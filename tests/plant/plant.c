/* A stand-in planted beside a package under a system library's name. Loading
   it leaves a mark, so a test can tell whether anything loaded it instead of
   the system's library. Its update function claims success without doing
   anything, as a hostile copy would. */
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved)
{
    (void)reserved;
    if (reason == DLL_PROCESS_ATTACH) {
        wchar_t self[MAX_PATH] = {0};
        DWORD written = 0;
        HANDLE mark = CreateFileW(L"C:\\zoltest\\planted-loaded.txt", FILE_APPEND_DATA,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_ALWAYS, 0, NULL);
        if (mark != INVALID_HANDLE_VALUE) {
            DWORD length = GetModuleFileNameW(instance, self, MAX_PATH);
            WriteFile(mark, self, length * sizeof(wchar_t), &written, NULL);
            CloseHandle(mark);
        }
    }
    return TRUE;
}

__declspec(dllexport) BOOL WINAPI UpdateDriverForPlugAndPlayDevicesW(HWND owner, LPCWSTR hardwareId, LPCWSTR infPath,
                                                                     DWORD flags, PBOOL reboot)
{
    (void)owner; (void)hardwareId; (void)infPath; (void)flags;
    if (reboot)
        *reboot = FALSE;
    return TRUE;
}
