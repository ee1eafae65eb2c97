/* The sample packages' driver: a kernel-mode image that loads, registers its
 * unload routine and does nothing else. Each sample package builds it under
 * its own file name, with its own version resource (zoldrv.rc.in). */
#include <ddk/wdm.h>

#ifndef ZOL_DRIVER_NAME
#define ZOL_DRIVER_NAME "zoldrv"
#endif

static VOID ZolDriverUnload(PDRIVER_OBJECT driver)
{
    UNREFERENCED_PARAMETER(driver);
    DbgPrint(ZOL_DRIVER_NAME ": unloaded\n");
}

NTSTATUS DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registryPath)
{
    UNREFERENCED_PARAMETER(registryPath);
    driver->DriverUnload = ZolDriverUnload;
    DbgPrint(ZOL_DRIVER_NAME ": loaded\n");
    return STATUS_SUCCESS;
}
