// IInfJournal: what an INF install is about to change, told to its owner
// before each change so that the owner can write it down (and take it back
// later). The INF engine asks once per file, folder, service, registry key or
// value, shortcut and root device, always before the change; an answer of
// false means the change must not be made, and from then on the install
// makes no further change that would have to be told.
#pragma once

#include <windows.h>

#include "support/str.h"

class IInfJournal
{
public:
    virtual ~IInfJournal() {}

    // A file is about to be written, or removed (deleted or renamed away).
    virtual bool FileChanging(const wchar_t* path) = 0;
    // A folder that is not there is about to be created.
    virtual bool FolderCreating(const wchar_t* path) = 0;
    // A service that is not there is about to be created.
    virtual bool ServiceCreating(const wchar_t* name) = 0;
    // A registry key (value null) or a value that is not there is about to
    // be created; root is "HKLM", "HKCU", "HKCR" or "HKU".
    virtual bool RegistryCreating(const wchar_t* root, const wchar_t* key, const wchar_t* value) = 0;
    // A start-menu shortcut is about to be saved.
    virtual bool ShortcutCreating(const wchar_t* path) = 0;
    // A root-enumerated device with this instance ID is about to be
    // registered.
    virtual bool RootDeviceCreating(const wchar_t* instanceId) = 0;

    // Why the last call answered false: one English line without line end.
    virtual CStr Failure() const = 0;
};
