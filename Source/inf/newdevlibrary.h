// The device installation library ("newdev.dll") as the driver installers
// use it: load it by path, look up its driver update function, call it,
// free it. The PnP driver installer and the virtual device's driver update
// both reach it here.
//
// The installers reach the library only through INewDevLibrary so that a
// test can stand in for it. Under Wine the update function always reports
// success without a restart and the library and its function are always
// there, so failing updates, restart requests and a missing library or
// function cannot be produced on the real platform; a test installs its own
// implementation with SetNewDevLibraryOverride. Nothing else replaces it.
#pragma once

#include <windows.h>

#include "support/handles.h"

class INewDevLibrary
{
public:
    virtual ~INewDevLibrary() {}
    // Loads the library from its full path in the system folder; 1 when it
    // loaded.
    virtual int Load(const wchar_t* path) = 0;
    // Looks up "UpdateDriverForPlugAndPlayDevicesW"; 1 when found.
    virtual int FindUpdateFunction() = 0;
    // Updates the driver of every device with hardwareId from infPath; the
    // platform's result (non-zero is success). *reboot receives the
    // function's restart flag.
    virtual BOOL UpdateDriver(const wchar_t* hardwareId, const wchar_t* infPath, DWORD flags, BOOL* reboot) = 0;
    // Frees what Load loaded (also done on destruction).
    virtual void Free() = 0;
};

// The platform's library.
class CNewDevLibrary : public INewDevLibrary
{
public:
    CNewDevLibrary();
    ~CNewDevLibrary() override;

    int Load(const wchar_t* path) override;
    int FindUpdateFunction() override;
    BOOL UpdateDriver(const wchar_t* hardwareId, const wchar_t* infPath, DWORD flags, BOOL* reboot) override;
    void Free() override;

    CNewDevLibrary(const CNewDevLibrary&) = delete;
    CNewDevLibrary& operator=(const CNewDevLibrary&) = delete;

private:
    typedef BOOL(WINAPI* PFN_UPDATEDRIVER)(HWND, LPCWSTR, LPCWSTR, DWORD, PBOOL);

    CUniqueLibrary m_module;
    PFN_UPDATEDRIVER m_pfnUpdate;
};

// The library the installers use: the override when a test set one, else
// null (an installer then uses a CNewDevLibrary of its own).
INewDevLibrary* GetNewDevLibraryOverride();
// Sets (or, with null, clears) the stand-in; returns the previous one. The
// caller keeps ownership.
INewDevLibrary* SetNewDevLibraryOverride(INewDevLibrary* library);

// One driver update through the library the installers use: the system
// folder's copy is loaded, its function looked up and called (without an
// owner window), and the library freed. Fails with ERROR_PROC_NOT_FOUND when
// the library or the function is missing.
BOOL UpdateDriverFromNewDev(const wchar_t* hardwareId, const wchar_t* infPath, DWORD flags, BOOL* reboot);
