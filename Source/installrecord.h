// CInstallRecord: what an install of one package version did, kept so that
// Uninstall can take it off again. It lives in the registry's 64-bit view at
// HKLM\SOFTWARE\zolcomp\Packages\<key>, where the key is the INF file name
// and the package version ("zolchip.inf_1.2.3.0"): the INF is what the
// system knows the driver by, and a later version of the same INF is another
// package with a record of its own.
//
// The record is a journal. Its State is set before each phase (installing,
// installed, removing, partial); every item (a device with the driver it had
// before, a file created or replaced, a service, a registry key or value, a
// shortcut, a root device) is one registry value written by a single call
// before the change it describes is made, and removed once that change has
// been undone. A run that stops anywhere leaves a record that says what may
// be there; the next run resumes from it.
//
// The files that go with a record (the package's kept copy, the role the
// platform's driver store plays, and the backups of replaced files) live in
// "\DEVAVOROR\packages\<key>" on the system drive, made administrators' only
// by the trusted-folder routine.
#pragma once

#include <windows.h>

#include <string>
#include <utility>
#include <vector>

#include "support/str.h"

enum RecordState {
    RECORD_STATE_NONE = 0,       // no record, or a State it does not know
    RECORD_STATE_INSTALLING = 1, // an install is (or was cut off) under way
    RECORD_STATE_INSTALLED = 2,
    RECORD_STATE_REMOVING = 3,   // an uninstall is (or was cut off) under way
    RECORD_STATE_PARTIAL = 4,    // an uninstall failed part-way: what is left is listed
};

// The kinds of items a record lists, each under a subkey of its own.
#define RECORD_DEVICES L"Devices"
#define RECORD_FILES L"Files"
#define RECORD_SERVICES L"Services"
#define RECORD_REGISTRY L"Registry"
#define RECORD_SHORTCUTS L"Shortcuts"
#define RECORD_ROOT_DEVICES L"RootDevices"
// Folders an install created: {path}. (Registry items are {root, key,
// value}: root "HKLM", "HKCU", "HKCR" or "HKU"; without a value field the
// key itself was created.)
#define RECORD_FOLDERS L"Folders"

// Record values.
#define RECORD_INF_NAME L"InfName"
#define RECORD_INF_TYPE L"InfType"
#define RECORD_VERSION L"Version"
#define RECORD_STATE L"State"
#define RECORD_PACKAGE_NAME L"PackageName"
#define RECORD_SECTION L"Section"
#define RECORD_PUBLISHED_INF L"PublishedInf"
#define RECORD_REPLACES L"Replaces"
#define RECORD_SUPERSEDED_BY L"SupersededBy"
// The local date of the install that succeeded, yyyymmdd: the uninstall
// entry's InstallDate, kept for when the entry describes this version again.
#define RECORD_INSTALL_DATE L"InstallDate"

// One item: named fields ("path", "action", ...), in order. A field that is
// not there reads as empty.
typedef std::vector<std::pair<std::wstring, std::wstring>> RECORDFIELDS;

struct RECORDITEM {
    std::wstring name; // the value's name, e.g. "0003"
    RECORDFIELDS fields;
    const std::wstring& Field(const wchar_t* field) const;
};

class CInstallRecord
{
public:
    // "<infName>_<version>"; empty when either is empty or the result is not
    // a plain name (it names a registry key and a folder).
    static CStr MakeKey(const wchar_t* infName, const wchar_t* version);
    // The keys of every record there is, in the registry's order.
    static CStrList ListKeys();
    // The folder kept for a record's files, "\DEVAVOROR\packages\<key>" on
    // the system drive; empty when the system drive cannot be read.
    static CStr FolderOf(const wchar_t* key);
    static const wchar_t* StateName(RecordState state);
    // The record of another version of the INF infName that is in place now
    // (installed or being installed, and not superseded): the one an install
    // of the package ownKey replaces. Empty when there is none.
    static CStr FindCurrent(const wchar_t* ownKey, const wchar_t* infName);

    explicit CInstallRecord(const wchar_t* key);

    const CStr& Key() const { return m_strKey; }
    bool Exists() const;
    // Creates the record's key (nothing when it exists); false on failure,
    // with the platform's error in LastError().
    bool Create();
    // Deletes the record with everything below it.
    bool Delete();

    CStr ReadValue(const wchar_t* name) const;
    bool WriteValue(const wchar_t* name, const wchar_t* text);
    bool DeleteValue(const wchar_t* name);
    RecordState GetState() const;
    bool SetState(RecordState state);

    // Appends an item of kind (RECORD_*); its name is one past the highest
    // there is. False on failure.
    bool AddItem(const wchar_t* kind, const RECORDFIELDS& fields, std::wstring* name = nullptr);
    // The items of kind in the order they were added.
    std::vector<RECORDITEM> ReadItems(const wchar_t* kind) const;
    bool RemoveItem(const wchar_t* kind, const std::wstring& name);
    // Replaces an item's fields (one call).
    bool WriteItem(const wchar_t* kind, const std::wstring& name, const RECORDFIELDS& fields);
    // One past the highest item number among items, and an item's name for a
    // number ("0003"), for a writer that adds many items in a row.
    static unsigned long NextItemNumber(const std::vector<RECORDITEM>& items);
    static std::wstring ItemName(unsigned long number);

    // The platform's error of the last call that failed.
    DWORD LastError() const { return m_dwLastError; }

private:
    std::wstring Path(const wchar_t* kind = nullptr) const;

    CStr m_strKey;
    mutable DWORD m_dwLastError;
};

// The registry path below HKLM of all records.
#define RECORD_ROOT_PATH L"SOFTWARE\\zolcomp\\Packages"
