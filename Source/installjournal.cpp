#include "installjournal.h"

#include "packagefiles.h"
#include "support/asciicase.h"
#include "support/errortext.h"
#include "support/wformat.h"

namespace {

bool SameFields(const RECORDFIELDS& a, const RECORDFIELDS& b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (a[i].first != b[i].first || !EqualsAsciiNoCase(a[i].second.c_str(), b[i].second.c_str()))
            return false;
    }
    return true;
}

} // namespace

CInstallJournal::CInstallJournal(CInstallRecord& record) : m_record(record), m_bFailed(false) {}

bool CInstallJournal::Add(const wchar_t* kind, const RECORDFIELDS& fields, const wchar_t* what)
{
    if (m_bFailed)
        return false;
    std::vector<RECORDITEM> items = m_record.ReadItems(kind);
    for (const RECORDITEM& item : items) {
        if (SameFields(item.fields, fields))
            return true;
    }
    if (m_record.WriteItem(kind, CInstallRecord::ItemName(CInstallRecord::NextItemNumber(items)), fields))
        return true;
    m_bFailed = true;
    m_strFailure = FormatWide(L"Install record not written: %s, %s, error %s", m_record.Key().GetString(), what,
                              DescribeError(m_record.LastError()).GetString())
                       .c_str();
    return false;
}

bool CInstallJournal::FileChanging(const wchar_t* path)
{
    if (m_bFailed)
        return false;
    CStrList failures;
    if (RecordFilesBeforeChange(m_record, CStrList{CStr(path)}, CInstallRecord::FolderOf(m_record.Key().GetString()),
                                &failures))
        return true;
    m_bFailed = true;
    m_strFailure = failures.empty() ? CStr(L"Install record not written") : failures.back();
    return false;
}

bool CInstallJournal::FolderCreating(const wchar_t* path)
{
    return Add(RECORD_FOLDERS, {{L"path", path}}, L"a folder");
}

bool CInstallJournal::ServiceCreating(const wchar_t* name)
{
    return Add(RECORD_SERVICES, {{L"name", name}, {L"action", L"created"}}, L"a service");
}

bool CInstallJournal::RegistryCreating(const wchar_t* root, const wchar_t* key, const wchar_t* value)
{
    RECORDFIELDS fields = {{L"root", root}, {L"key", key}};
    if (value != nullptr)
        fields.push_back({L"value", value});
    return Add(RECORD_REGISTRY, fields, L"a registry entry");
}

bool CInstallJournal::ShortcutCreating(const wchar_t* path)
{
    return Add(RECORD_SHORTCUTS, {{L"path", path}}, L"a shortcut");
}

bool CInstallJournal::RootDeviceCreating(const wchar_t* instanceId)
{
    return Add(RECORD_ROOT_DEVICES, {{L"instance", instanceId}}, L"a root device");
}
