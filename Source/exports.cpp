// The library's exported functions and its module entry.
//
// The exports are the edge of the library: the host that calls them cannot
// catch a C++ exception (an allocation failure, say). Each export therefore
// catches everything that its work throws, writes an ERROR line when a log
// is open, and returns its failure value, 0.
#include <windows.h>

#include <new>

#include "component.h"
#include "log/cmplog.h"
#include "zolcomp/zolcomp.h"

CComponent g_Component;

namespace {

#ifdef ZOL_EXPORT_FAULTS
// Test builds only (a separate library, never the shipped one): the next
// export call throws inside its boundary, as its work could. 1 throws
// std::bad_alloc, 2 an object of no standard type.
int g_nNextCallFault = 0;

void FaultPoint()
{
    const int fault = g_nNextCallFault;
    g_nNextCallFault = 0;
    if (fault == 1)
        throw std::bad_alloc();
    if (fault == 2)
        throw fault;
}
#else
inline void FaultPoint() {}
#endif

// The ERROR line for an exception stopped at an export. Writing it may fail
// in turn (the log formats into memory of its own); that is let go, since
// nothing could report it.
void ReportUnexpectedFailure(const wchar_t* operation) noexcept
{
    try {
        if (CCmpLog* log = g_Component.GetLog())
            log->WriteLine(LOG_BOTH, SEV_ERROR, L".\\Source\\exports", __LINE__, L"Unexpected failure in %s\r\n",
                           operation);
    } catch (...) {
    }
}

// Runs work(), which returns the export's result; 0 when it throws.
template <class Work> int Guarded(const wchar_t* operation, Work work) noexcept
{
    try {
        FaultPoint();
        return work();
    } catch (...) {
        ReportUnexpectedFailure(operation);
        return 0;
    }
}

} // namespace

extern "C" {

int WINAPI GetInterfaceVersion(int* version)
{
    return Guarded(L"GetInterfaceVersion", [version] {
        if (version)
            *version = ZOL_INTERFACE_VERSION;
        return 1;
    });
}

int WINAPI GetProperty(int type, void* out, int capacity, void* extra)
{
    return Guarded(L"GetProperty", [=] { return g_Component.GetProperty(type, out, capacity, extra); });
}

int WINAPI Install(int a, void* b, wchar_t* message, int d, const wchar_t* language)
{
    return Guarded(L"Install", [=] { return g_Component.Install(a, b, message, d, language); });
}

int WINAPI Uninstall(int a, void* b, wchar_t* message, int d, const wchar_t* language)
{
    return Guarded(L"Uninstall", [=] { return g_Component.Uninstall(a, b, message, d, language); });
}

#ifdef ZOL_EXPORT_FAULTS
void WINAPI ZolFailNextCall(int fault)
{
    g_nNextCallFault = fault;
}
#endif

BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID reserved)
{
    if (reason == DLL_PROCESS_ATTACH) {
        g_hModule = module;
        DisableThreadLibraryCalls(module);
        // Loading never fails because of the component, not even by an
        // exception out of its initialization.
        Guarded(L"Initialize", [] { return g_Component.Initialize(); });
    }
    return TRUE;
}

} // extern "C"
