// CInstallJournal: the INF engine's journal written into an install record.
// Each change a LEGACY or VIRTUAL install is about to make becomes one item
// of the record before it is made (see CInstallRecord): the file with its
// backup when it is there, the folder, service, registry key or value,
// shortcut or root device it creates. What the record lists already (an
// earlier run of the same install) is not listed twice. Once an item cannot
// be written every later change is refused too, so the install stops before
// anything unrecorded happens.
#pragma once

#include "inf/infjournal.h"
#include "installrecord.h"

class CInstallJournal : public IInfJournal
{
public:
    explicit CInstallJournal(CInstallRecord& record);

    bool FileChanging(const wchar_t* path) override;
    bool FolderCreating(const wchar_t* path) override;
    bool ServiceCreating(const wchar_t* name) override;
    bool RegistryCreating(const wchar_t* root, const wchar_t* key, const wchar_t* value) override;
    bool ShortcutCreating(const wchar_t* path) override;
    bool RootDeviceCreating(const wchar_t* instanceId) override;
    CStr Failure() const override { return m_strFailure; }

    CInstallJournal(const CInstallJournal&) = delete;
    CInstallJournal& operator=(const CInstallJournal&) = delete;

private:
    // Lists an item of kind unless one with the same fields is listed.
    bool Add(const wchar_t* kind, const RECORDFIELDS& fields, const wchar_t* what);

    CInstallRecord& m_record;
    CStr m_strFailure;
    bool m_bFailed;
};
