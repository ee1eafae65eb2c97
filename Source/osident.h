// Platform queries behind operating-system identification. The product
// component always uses the real calls; a test may replace a query that the
// platform it runs on cannot answer the way a test needs (Wine reports no
// R2 flag, few product types and one processor architecture).
#pragma once

#include <windows.h>

struct COsQueries {
    // Null members mean: use the platform's own function.
    int(WINAPI* pGetSystemMetrics)(int index);
    BOOL(WINAPI* pGetProductInfo)(DWORD major, DWORD minor, DWORD spMajor, DWORD spMinor, PDWORD productType);
    void(WINAPI* pGetNativeSystemInfo)(LPSYSTEM_INFO info);
};

COsQueries& OsQueries();
