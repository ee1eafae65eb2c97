// The package's entry among the installed programs, where Programs and
// Features and the configuration managers that read the same registry entry
// find it, tell its version and remove it.
//
// One entry per driver package, whatever its version:
// HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\zolcomp_<INF file
// name> in the registry's 64-bit view ("zolcomp_zolchip.inf"). A detection
// rule on its DisplayVersion and a removal by its name hold across versions:
// an upgrade rewrites its values, and an uninstall that puts an earlier
// version back writes that version's.
//
// Its command runs a kept copy of the host and the component, with the
// package's definition and INF, from "<Program Files>\zolcomp\<record key>"
// (one folder per installed version, made only administrators can change
// it), so that it works once the deployment and package folders are gone.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "support/str.h"

// Where the entries of the installed programs are, below HKLM.
#define UNINSTALL_ENTRIES_PATH L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall"
// The names of the host and the component in a kept copy.
#define KEPT_HOST_NAME L"zolhost.exe"
#define KEPT_COMPONENT_NAME L"zolcomp.dll"

// "zolcomp_<infName>"; empty when that is not a plain name.
CStr UninstallEntryName(const wchar_t* infName);
// "<Program Files>\zolcomp\<recordKey>", Program Files as the system names
// it; empty when it cannot be read or the key is not a plain name.
CStr KeptCopyFolderOf(const wchar_t* recordKey);
// The command of an entry whose kept copy is in keptFolder: the kept host
// uninstalls the kept package, leaving a device without a driver where no
// other is left. Without quiet it also waits for a key before its console
// window closes, for whoever started it from Programs and Features.
CStr UninstallCommand(const CStr& keptFolder, bool quiet);

// What goes into a kept copy: full paths, each kept under its own name
// (the host and the component under theirs above).
struct KEPTCOPYFILES {
    CStr host;
    CStr component;
    CStrList packageFiles;
};

// Makes the kept copy of a record's package anew: the folder made trusted
// (what was there before, an earlier copy of the same version, emptied
// first), each file copied from a folder only administrators can change,
// opened without following links. notes gets a line for each untrusted
// folder moved aside; failures one line for what could not be kept. False
// when the copy is not whole (what was copied is removed again).
bool MakeKeptCopy(const wchar_t* recordKey, const KEPTCOPYFILES& files, std::vector<std::wstring>* notes,
                  CStrList* failures);

// Removes a record's kept copy. A file in use (the kept host running this
// uninstall, the component it loaded) is deleted at the next restart, and
// then the folder: *atRestart is set. False when something could not be
// removed either way.
bool RemoveKeptCopy(const wchar_t* recordKey, bool* atRestart);

// The key of the record of the INF's package that no later one supersedes
// (an installed one before one in another state): the version the entry
// describes. Empty when there is none.
CStr FindRecordInPlace(const wchar_t* infName);

// What UpdateUninstallEntry did.
enum UninstallEntryChange {
    ENTRY_UNCHANGED = 0, // no version in place and no entry
    ENTRY_WRITTEN = 1,   // the entry now describes the version in place
    ENTRY_REMOVED = 2,   // no version in place any more: the entry is gone
    ENTRY_FAILED = 3,    // failure names why
};

// Makes the INF's entry describe the version of its package in place now
// (the record that no later one supersedes), from that record and its kept
// copy; without a kept copy the entry has no uninstall command. Removes the
// entry when no version is in place. *version gets the version written.
UninstallEntryChange UpdateUninstallEntry(const wchar_t* infName, CStr* version, std::wstring* failure);
