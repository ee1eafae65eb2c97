// The files that go with an install record, in the record's folder
// ("\DEVAVOROR\packages\<key>", administrators' only): "store" holds the
// package as it was staged (the role the platform's driver store plays),
// "backup" the files an install replaced, each under its record item's name.
// And the file operations Uninstall takes back with them.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "installrecord.h"
#include "support/str.h"

// "<record folder>\store" and "<record folder>\backup".
CStr StoreFolderOf(const CStr& recordFolder);
CStr BackupFolderOf(const CStr& recordFolder);

// Copies the files at relativePaths below from into the record folder's
// store (made trusted level by level, as the staging folder is). notes gets a
// line for each untrusted folder moved aside or protected; failures a line
// for what could not be kept. False when something could not be.
bool KeepPackageFiles(const CStr& from, const CStrList& relativePaths, const CStr& recordFolder,
                      std::vector<std::wstring>* notes, CStrList* failures);

// Before a change writes or removes the files at paths: each one the record
// does not list yet is listed, a file that is there kept first in the
// backup folder (listed as "replaced"), one that is not listed as
// "created". False (with a failure line) when one cannot be kept or listed.
bool RecordFilesBeforeChange(CInstallRecord& record, const CStrList& paths, const CStr& recordFolder,
                             CStrList* failures);

// Puts a kept file back in place byte for byte; a file in use is replaced
// at the next restart (*restart set). ERROR_SUCCESS or the platform's error.
DWORD PutBackFile(const wchar_t* backup, const wchar_t* path, bool* restart);
// Deletes a file; one in use is deleted at the next restart (*restart set);
// one that is not there is fine. ERROR_SUCCESS or the platform's error.
DWORD DeleteInstalledFile(const wchar_t* path, bool* restart);

// Deletes a record folder and all below it, never following a link.
bool DeleteRecordFolder(const CStr& recordFolder);
// Removes a record, its folder and its kept copy, and the records that
// superseded it in turn.
void ForgetRecordChain(const CStr& key);
