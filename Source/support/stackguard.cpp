// The stack protector's guard value for MinGW builds (-fstack-protector).
//
// The compiler's own support library seeds the guard through the CryptoAPI,
// which loads and unloads three cryptographic-provider libraries every time
// the component is loaded: most of its load time. The guard is seeded here
// from the system's random-number generator instead (with the same strength),
// and a detected overrun ends the process the way the platform's own buffer
// checks do.
//
// Only MinGW builds use these symbols; other compilers bring their own checks.
#if defined(__MINGW32__)

#include <windows.h>
#include <ntsecapi.h>

#include <stdint.h>

extern "C" {

uintptr_t __stack_chk_guard;

// Called by a protected function whose guard was overwritten, and by the
// checked copies of the fortified C library when a copy would overrun.
__declspec(noreturn) void __stack_chk_fail(void)
{
    TerminateProcess(GetCurrentProcess(), static_cast<UINT>(STATUS_STACK_BUFFER_OVERRUN));
    for (;;)
        Sleep(INFINITE);
}

__declspec(noreturn) void __chk_fail(void)
{
    __stack_chk_fail();
}

} // extern "C"

namespace {

// Runs with the other static constructors, before DllMain's initialisation.
// Functions that run earlier use the guard value 0; none of them is on the
// stack while the value changes. This file is built without the protector.
struct CStackGuardSeed {
    CStackGuardSeed()
    {
        if (!RtlGenRandom(&__stack_chk_guard, sizeof(__stack_chk_guard)) || __stack_chk_guard == 0) {
            LARGE_INTEGER counter;
            QueryPerformanceCounter(&counter);
            __stack_chk_guard = static_cast<uintptr_t>(counter.QuadPart) ^
                                (static_cast<uintptr_t>(GetCurrentProcessId()) << 32) ^ GetCurrentThreadId() ^
                                reinterpret_cast<uintptr_t>(&counter) ^ GetTickCount();
        }
        if (__stack_chk_guard == 0)
            __stack_chk_guard = 0x2B992DDFA232u;
    }
};

CStackGuardSeed g_seed;

} // namespace

#endif
