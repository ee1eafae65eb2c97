/*
 * A minimal host in C: loads an installer component and prints its answers
 * to properties 1 to 8, the devices of property 10, and whether the
 * component can uninstall (with its what-if, property 11, when it can). It
 * installs and uninstalls nothing. It needs nothing but the public header.
 *
 *   host-c [PATH\zolcomp.dll [LANGUAGE]]
 *
 * Run it in the package folder: the component reads the package there while
 * it is being loaded. The default component is zolcomp.dll in the current
 * folder, the default language "en". Output is UTF-8. Exit code 0 when every
 * question was asked, 1 when the component could not be loaded.
 */
#include <zolcomp/zolcomp.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>

static void print_utf8(const wchar_t* text)
{
    char buffer[4 * ZOL_TEXT_CHARS];
    int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, buffer, (int)sizeof(buffer), NULL, NULL);
    fputs(n > 0 ? buffer : "?", stdout);
}

static void print_text_property(PFN_ZOL_GETPROPERTY get_property, int type, const char* name,
                                const wchar_t* language)
{
    wchar_t text[ZOL_TEXT_CHARS] = {0};
    int result = get_property(type, text, ZOL_TEXT_CHARS, (void*)language);
    text[ZOL_TEXT_CHARS - 1] = L'\0';
    printf("%d %s: result %d", type, name, result);
    if (result) {
        fputs(" \"", stdout);
        print_utf8(text);
        fputs("\"", stdout);
    }
    fputs("\n", stdout);
}

/* Properties 10 and 11 answer in a block: a header the host sizes, then the
   records. Asked first with room for the header alone, which brings the
   count, then with room for every record (the count may have grown in
   between: then the answer is 0 again and the host may ask once more). */
static void print_devices(PFN_ZOL_GETPROPERTY get_property, int type, const char* name)
{
    ZOL_DEVICE_RESULTS header;
    memset(&header, 0, sizeof(header));
    header.cbRecord = sizeof(ZOL_DEVICE_RESULT);
    size_t bytes = ZOL_DEVICE_RESULTS_BYTES(0);
    int result = get_property(type, &header, (int)bytes, NULL);
    ZOL_DEVICE_RESULTS* block = &header;
    if (!result && header.nCount > 0) {
        bytes = ZOL_DEVICE_RESULTS_BYTES(header.nCount);
        block = (ZOL_DEVICE_RESULTS*)calloc(1, bytes);
        if (block == NULL) {
            printf("%d %s: out of memory\n", type, name);
            return;
        }
        block->cbRecord = sizeof(ZOL_DEVICE_RESULT);
        result = get_property(type, block, (int)bytes, NULL);
    }
    /* Records are read only as far as the block holds them. */
    if (!result || block->nCount < 0 || ZOL_DEVICE_RESULTS_BYTES(block->nCount) > bytes)
        block->nCount = 0;
    printf("%d %s: result %d count %d", type, name, result, block->nCount);
    if (type == ZOL_PROP_UNINSTALL_PLAN && result)
        printf(" package state %d", block->nPackageState);
    fputs("\n", stdout);
    for (int i = 0; i < block->nCount; ++i) {
        ZOL_DEVICE_RESULT* device = &block->Devices[i];
        device->szInstanceId[ZOL_DEVICE_ID_CHARS - 1] = L'\0';
        device->szInf[ZOL_DEVICE_TEXT_CHARS - 1] = L'\0';
        device->szDriverVersion[ZOL_DEVICE_TEXT_CHARS - 1] = L'\0';
        printf("  ");
        print_utf8(device->szInstanceId);
        printf(" outcome %d action %d driver \"", device->nOutcome, device->nAction);
        print_utf8(device->szInf);
        fputs("\" ", stdout);
        print_utf8(device->szDriverVersion);
        fputs("\n", stdout);
    }
    if (block != &header)
        free(block);
}

int wmain(int argc, wchar_t** argv)
{
    const wchar_t* path = argc > 1 ? argv[1] : L"zolcomp.dll";
    const wchar_t* language = argc > 2 ? argv[2] : ZOL_LANG_ENGLISH;
    static const char* const number_names[] = {"silent capable", "silent capable (2)", "flag 8"};

    /* The host runs elevated, often from a folder others can write into: any
       library Windows would look for in the host's or the component's folder
       (version.dll, for one) could be planted there, so libraries come from
       the system folder and, for the component's own imports, its folder
       (a loader without these flags, Windows Server 2008 R2 before its
       update, fails with ERROR_INVALID_PARAMETER: then its folder first). */
    typedef BOOL(WINAPI * set_default_dll_directories_fn)(DWORD);
    set_default_dll_directories_fn set_default_dll_directories = (set_default_dll_directories_fn)GetProcAddress(
        GetModuleHandleW(L"kernel32.dll"), "SetDefaultDllDirectories");
    if (set_default_dll_directories != NULL)
        set_default_dll_directories(LOAD_LIBRARY_SEARCH_SYSTEM32);
    wchar_t full_path[MAX_PATH];
    DWORD length = GetFullPathNameW(path, MAX_PATH, full_path, NULL);
    if (length == 0 || length >= MAX_PATH) {
        fprintf(stderr, "host-c: cannot load the component: the path is not valid\n");
        return 1;
    }
    HMODULE module = LoadLibraryExW(full_path, NULL, LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (module == NULL && GetLastError() == ERROR_INVALID_PARAMETER)
        module = LoadLibraryExW(full_path, NULL, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (module == NULL) {
        fprintf(stderr, "host-c: cannot load the component: error %lu\n", (unsigned long)GetLastError());
        return 1;
    }
    PFN_ZOL_GETINTERFACEVERSION get_interface_version =
        (PFN_ZOL_GETINTERFACEVERSION)GetProcAddress(module, ZOL_EXPORT_GETINTERFACEVERSION);
    PFN_ZOL_GETPROPERTY get_property = (PFN_ZOL_GETPROPERTY)GetProcAddress(module, ZOL_EXPORT_GETPROPERTY);
    if (get_interface_version == NULL || get_property == NULL) {
        fprintf(stderr, "host-c: not an installer component\n");
        FreeLibrary(module);
        return 1;
    }

    int version = 0;
    int result = get_interface_version(&version);
    printf("interface version: result %d value %d\n", result, version);

    print_text_property(get_property, ZOL_PROP_NAME, "name", language);
    print_text_property(get_property, ZOL_PROP_DESCRIPTION, "description", language);
    print_text_property(get_property, ZOL_PROP_INSTALLED_VERSION, "installed version", NULL);
    print_text_property(get_property, ZOL_PROP_PACKAGE_VERSION, "package version", NULL);

    PREREQSTATUS status;
    memset(&status, 0, sizeof(status));
    result = get_property(ZOL_PROP_PREREQUISITES, &status, (int)sizeof(status), (void*)language);
    status.szMessage[ZOL_MESSAGE_CHARS - 1] = L'\0';
    printf("%d prerequisites: result %d status %d message \"", ZOL_PROP_PREREQUISITES, result, status.nStatus);
    print_utf8(status.szMessage);
    fputs("\"\n", stdout);

    for (int type = ZOL_PROP_SILENT_CAPABLE; type <= ZOL_PROP_FLAG8; ++type) {
        int value = 0;
        result = get_property(type, &value, (int)sizeof(value), NULL);
        printf("%d %s: result %d value %d\n", type, number_names[type - ZOL_PROP_SILENT_CAPABLE], result, value);
    }

    print_devices(get_property, ZOL_PROP_DEVICE_RESULTS, "devices");

    /* Uninstall is a later, optional export: a component without it cannot
       take its package off, and GetInterfaceVersion does not say. */
    PFN_ZOL_UNINSTALL uninstall = (PFN_ZOL_UNINSTALL)GetProcAddress(module, ZOL_EXPORT_UNINSTALL);
    printf("uninstall: %s\n", uninstall != NULL ? "supported" : "not supported");
    if (uninstall != NULL)
        print_devices(get_property, ZOL_PROP_UNINSTALL_PLAN, "uninstall plan");

    fflush(stdout);
    FreeLibrary(module);
    return 0;
}
