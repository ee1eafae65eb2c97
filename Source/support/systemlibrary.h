// Loading the system's own libraries without searching anywhere else.
//
// The component and the host run elevated, often from a folder that others
// can write into. A library that is not one of the system's known DLLs is
// otherwise looked up in the application's folder (and, for a library loaded
// with its dependencies, in the loaded library's folder) before the system
// folder, so a copy planted there would run with the administrator's rights.
// The binaries therefore import at load time only the known DLLs listed in
// known-dlls.txt at the top of the source tree; every other system library
// is loaded here, on first use, from the system folder alone.
#pragma once

#include <windows.h>

#include <vector>

#include "support/str.h"

typedef HMODULE(WINAPI* PFN_LOADLIBRARYEXW)(LPCWSTR, HANDLE, DWORD);

// LoadLibraryExW (path, flags). Where the loader does not know the search
// flags in flags (it fails with ERROR_INVALID_PARAMETER: Windows Server 2008
// R2 and Windows 7 without the loader update KB2533623), loads fallbackPath
// with fallbackFlags instead. Any other failure is returned as it is, with
// the loader's last error. load stands in for LoadLibraryExW in tests only.
HMODULE LoadLibraryWithFallback(const wchar_t* path, DWORD flags, const wchar_t* fallbackPath, DWORD fallbackFlags,
                                PFN_LOADLIBRARYEXW load = ::LoadLibraryExW);

// Full path of a file of the system folder: GetSystemDirectoryW, "\" and
// name; empty when it does not fit a path buffer.
CStr SystemLibraryPath(const wchar_t* name);

// Loads the system library name (a plain file name such as "version.dll")
// from the system folder only, its own dependencies too
// (LOAD_LIBRARY_SEARCH_SYSTEM32); where the loader does not know that flag,
// by its full path in the system folder with the search for its dependencies
// starting there (LOAD_WITH_ALTERED_SEARCH_PATH). A name that is not a
// plain file name is refused with ERROR_INVALID_NAME. The caller owns the
// module (FreeLibrary).
HMODULE LoadSystemLibrary(const wchar_t* name, PFN_LOADLIBRARYEXW load = ::LoadLibraryExW);

// For hosts, first thing in the process: from now on, libraries loaded by
// name and the dependencies of loaded libraries are searched for in the
// system folder only (SetDefaultDllDirectories with
// LOAD_LIBRARY_SEARCH_SYSTEM32), where kernel32 has that function. False
// where it has not (the system then keeps its usual search order) or where
// the call failed. A component never calls it: the process is its host's.
bool SearchOnlySystemFolderByDefault();

// Version resources through the system's version.dll, loaded by
// LoadSystemLibrary on the first call and kept for the life of the process.

// The whole version resource of a file (GetFileVersionInfoSizeW and
// GetFileVersionInfoW); false when the file has none or cannot be read, or
// when version.dll or its functions are missing.
bool ReadVersionResource(const wchar_t* path, std::vector<BYTE>& block);
// VerQueryValueW on a block that ReadVersionResource filled.
bool QueryVersionValue(const std::vector<BYTE>& block, const wchar_t* subBlock, void** value, UINT* length);
// The fixed file information of such a block; null when it has none.
const VS_FIXEDFILEINFO* FixedVersionInfo(const std::vector<BYTE>& block);
