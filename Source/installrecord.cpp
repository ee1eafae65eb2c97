#include "installrecord.h"

#include "support/changepoint.h"
#include "support/handles.h"
#include "support/plainname.h"
#include "support/wformat.h"

#include <wchar.h>

#include <algorithm>
#include <cstdlib>

namespace {

// The records are machine-wide: the 64-bit view whatever the process is.
const REGSAM kView = KEY_WOW64_64KEY;

const wchar_t* const kStateNames[] = {L"", L"installing", L"installed", L"removing", L"partial"};

// Items are REG_MULTI_SZ values of "field=value" strings.
std::vector<wchar_t> EncodeFields(const RECORDFIELDS& fields)
{
    std::vector<wchar_t> data;
    for (const auto& field : fields) {
        std::wstring entry = field.first + L"=" + field.second;
        // A line break or NUL inside a value would split it: none of the
        // values recorded (paths, names, IDs) can hold one, but a value
        // read from a package must not forge a field either.
        std::replace(entry.begin(), entry.end(), L'\0', L' ');
        data.insert(data.end(), entry.begin(), entry.end());
        data.push_back(L'\0');
    }
    data.push_back(L'\0');
    return data;
}

RECORDFIELDS DecodeFields(const std::vector<wchar_t>& data)
{
    RECORDFIELDS fields;
    size_t i = 0;
    while (i < data.size() && data[i] != L'\0') {
        size_t end = i;
        while (end < data.size() && data[end] != L'\0')
            ++end;
        std::wstring entry(data.begin() + static_cast<std::ptrdiff_t>(i), data.begin() + static_cast<std::ptrdiff_t>(end));
        size_t equals = entry.find(L'=');
        if (equals != std::wstring::npos)
            fields.push_back({entry.substr(0, equals), entry.substr(equals + 1)});
        i = end + 1;
    }
    return fields;
}

// Reads a value of any size; false when it is missing or of another type.
bool ReadRaw(HKEY key, const wchar_t* name, DWORD expectedType, std::vector<wchar_t>* data)
{
    DWORD bytes = 256;
    for (int attempt = 0; attempt < 4; ++attempt) {
        // Two spare characters keep a value without its terminators ended.
        data->assign(bytes / sizeof(wchar_t) + 2, L'\0');
        DWORD type = 0, size = bytes;
        LONG rc = RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(data->data()), &size);
        if (rc == ERROR_SUCCESS) {
            if (type != expectedType)
                return false;
            data->resize(size / sizeof(wchar_t) + 2, L'\0');
            return true;
        }
        if (rc != ERROR_MORE_DATA)
            return false;
        bytes = size;
    }
    return false;
}

unsigned long ItemNumber(const std::wstring& name)
{
    return wcstoul(name.c_str(), nullptr, 10);
}

} // namespace

const std::wstring& RECORDITEM::Field(const wchar_t* field) const
{
    static const std::wstring empty;
    for (const auto& entry : fields) {
        if (entry.first == field)
            return entry.second;
    }
    return empty;
}

CStr CInstallRecord::MakeKey(const wchar_t* infName, const wchar_t* version)
{
    if (infName == nullptr || version == nullptr || *infName == L'\0' || *version == L'\0')
        return CStr();
    CStr key(infName);
    key += L"_";
    key += version;
    return IsPlainName(key.GetString()) ? key : CStr();
}

CStrList CInstallRecord::ListKeys()
{
    CStrList keys;
    CUniqueRegKey root;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, RECORD_ROOT_PATH, 0, KEY_READ | kView, root.put()) != ERROR_SUCCESS)
        return keys;
    for (DWORD index = 0;; ++index) {
        wchar_t name[256];
        DWORD chars = 256;
        if (RegEnumKeyExW(root.get(), index, name, &chars, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        keys.push_back(CStr(name));
    }
    return keys;
}

CStr CInstallRecord::FolderOf(const wchar_t* key)
{
    wchar_t system[MAX_PATH] = {};
    UINT length = GetSystemDirectoryW(system, MAX_PATH);
    if (length < 2 || length >= MAX_PATH || key == nullptr || !IsPlainName(key))
        return CStr();
    system[2] = L'\0';
    CStr folder(system);
    folder += L"\\DEVAVOROR\\packages\\";
    folder += key;
    return folder;
}

CStr CInstallRecord::FindCurrent(const wchar_t* ownKey, const wchar_t* infName)
{
    for (const CStr& key : ListKeys()) {
        if (key.CompareNoCase(ownKey) == 0)
            continue;
        CInstallRecord other(key.GetString());
        RecordState state = other.GetState();
        if ((state == RECORD_STATE_INSTALLED || state == RECORD_STATE_INSTALLING) &&
            other.ReadValue(RECORD_SUPERSEDED_BY).IsEmpty() &&
            other.ReadValue(RECORD_INF_NAME).CompareNoCase(infName) == 0)
            return key;
    }
    return CStr();
}

const wchar_t* CInstallRecord::StateName(RecordState state)
{
    int index = static_cast<int>(state);
    return index >= 0 && index < 5 ? kStateNames[index] : L"";
}

CInstallRecord::CInstallRecord(const wchar_t* key) : m_strKey(key ? key : L""), m_dwLastError(ERROR_SUCCESS) {}

std::wstring CInstallRecord::Path(const wchar_t* kind) const
{
    std::wstring path = std::wstring(RECORD_ROOT_PATH) + L"\\" + m_strKey.GetString();
    if (kind != nullptr)
        path += std::wstring(L"\\") + kind;
    return path;
}

bool CInstallRecord::Exists() const
{
    if (m_strKey.IsEmpty())
        return false;
    CUniqueRegKey key;
    return RegOpenKeyExW(HKEY_LOCAL_MACHINE, Path().c_str(), 0, KEY_READ | kView, key.put()) == ERROR_SUCCESS;
}

bool CInstallRecord::Create()
{
    if (m_strKey.IsEmpty()) {
        m_dwLastError = ERROR_INVALID_NAME;
        return false;
    }
    CUniqueRegKey key;
    LONG rc = (ZOL_CHANGE_POINT("RegCreateKeyExW(record)", m_strKey.GetString()),
               RegCreateKeyExW(HKEY_LOCAL_MACHINE, Path().c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                               KEY_WRITE | kView, nullptr, key.put(), nullptr));
    m_dwLastError = static_cast<DWORD>(rc);
    return rc == ERROR_SUCCESS;
}

bool CInstallRecord::Delete()
{
    if (m_strKey.IsEmpty())
        return true;
    CUniqueRegKey root;
    LONG rc = RegOpenKeyExW(HKEY_LOCAL_MACHINE, RECORD_ROOT_PATH, 0, KEY_READ | KEY_WRITE | DELETE | kView,
                            root.put());
    if (rc == ERROR_FILE_NOT_FOUND)
        return true;
    if (rc == ERROR_SUCCESS)
        rc = (ZOL_CHANGE_POINT("RegDeleteTreeW(record)", m_strKey.GetString()),
              RegDeleteTreeW(root.get(), m_strKey.GetString()));
    if (rc == ERROR_FILE_NOT_FOUND)
        rc = ERROR_SUCCESS;
    m_dwLastError = static_cast<DWORD>(rc);
    return rc == ERROR_SUCCESS;
}

CStr CInstallRecord::ReadValue(const wchar_t* name) const
{
    CUniqueRegKey key;
    std::vector<wchar_t> data;
    if (m_strKey.IsEmpty() ||
        RegOpenKeyExW(HKEY_LOCAL_MACHINE, Path().c_str(), 0, KEY_READ | kView, key.put()) != ERROR_SUCCESS ||
        !ReadRaw(key.get(), name, REG_SZ, &data))
        return CStr();
    return CStr(data.data());
}

bool CInstallRecord::WriteValue(const wchar_t* name, const wchar_t* text)
{
    CUniqueRegKey key;
    LONG rc = m_strKey.IsEmpty() ? ERROR_INVALID_NAME
                                 : RegOpenKeyExW(HKEY_LOCAL_MACHINE, Path().c_str(), 0, KEY_SET_VALUE | kView,
                                                 key.put());
    if (rc == ERROR_SUCCESS) {
        std::wstring value(text ? text : L"");
        rc = (ZOL_CHANGE_POINT("RegSetValueExW(record)", name),
              RegSetValueExW(key.get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                             static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t))));
    }
    m_dwLastError = static_cast<DWORD>(rc);
    return rc == ERROR_SUCCESS;
}

bool CInstallRecord::DeleteValue(const wchar_t* name)
{
    CUniqueRegKey key;
    LONG rc = RegOpenKeyExW(HKEY_LOCAL_MACHINE, Path().c_str(), 0, KEY_SET_VALUE | kView, key.put());
    if (rc == ERROR_SUCCESS)
        rc = (ZOL_CHANGE_POINT("RegDeleteValueW(record)", name), RegDeleteValueW(key.get(), name));
    if (rc == ERROR_FILE_NOT_FOUND)
        rc = ERROR_SUCCESS;
    m_dwLastError = static_cast<DWORD>(rc);
    return rc == ERROR_SUCCESS;
}

RecordState CInstallRecord::GetState() const
{
    CStr text = ReadValue(RECORD_STATE);
    for (int state = RECORD_STATE_INSTALLING; state <= RECORD_STATE_PARTIAL; ++state) {
        if (text.Equals(kStateNames[state]))
            return static_cast<RecordState>(state);
    }
    return RECORD_STATE_NONE;
}

bool CInstallRecord::SetState(RecordState state)
{
    return WriteValue(RECORD_STATE, StateName(state));
}

unsigned long CInstallRecord::NextItemNumber(const std::vector<RECORDITEM>& items)
{
    unsigned long next = 0;
    for (const RECORDITEM& item : items)
        next = std::max(next, ItemNumber(item.name) + 1);
    return next;
}

std::wstring CInstallRecord::ItemName(unsigned long number)
{
    return FormatWide(L"%04lu", number);
}

bool CInstallRecord::AddItem(const wchar_t* kind, const RECORDFIELDS& fields, std::wstring* name)
{
    std::wstring itemName = ItemName(NextItemNumber(ReadItems(kind)));
    if (!WriteItem(kind, itemName, fields))
        return false;
    if (name)
        *name = itemName;
    return true;
}

bool CInstallRecord::WriteItem(const wchar_t* kind, const std::wstring& name, const RECORDFIELDS& fields)
{
    CUniqueRegKey key;
    LONG rc = m_strKey.IsEmpty()
                  ? ERROR_INVALID_NAME
                  : (ZOL_CHANGE_POINT("RegCreateKeyExW(record)", kind),
                     RegCreateKeyExW(HKEY_LOCAL_MACHINE, Path(kind).c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                     KEY_SET_VALUE | kView, nullptr, key.put(), nullptr));
    if (rc == ERROR_SUCCESS) {
        std::vector<wchar_t> data = EncodeFields(fields);
        rc = (ZOL_CHANGE_POINT("RegSetValueExW(record item)", name.c_str()),
              RegSetValueExW(key.get(), name.c_str(), 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(data.data()),
                             static_cast<DWORD>(data.size() * sizeof(wchar_t))));
    }
    m_dwLastError = static_cast<DWORD>(rc);
    return rc == ERROR_SUCCESS;
}

std::vector<RECORDITEM> CInstallRecord::ReadItems(const wchar_t* kind) const
{
    std::vector<RECORDITEM> items;
    CUniqueRegKey key;
    if (m_strKey.IsEmpty() ||
        RegOpenKeyExW(HKEY_LOCAL_MACHINE, Path(kind).c_str(), 0, KEY_READ | kView, key.put()) != ERROR_SUCCESS)
        return items;
    for (DWORD index = 0;; ++index) {
        wchar_t name[64];
        DWORD chars = 64;
        LONG rc = RegEnumValueW(key.get(), index, name, &chars, nullptr, nullptr, nullptr, nullptr);
        if (rc == ERROR_MORE_DATA)
            continue; // not a name this record writes
        if (rc != ERROR_SUCCESS)
            break;
        std::vector<wchar_t> data;
        if (!ReadRaw(key.get(), name, REG_MULTI_SZ, &data))
            continue;
        items.push_back({name, DecodeFields(data)});
    }
    std::stable_sort(items.begin(), items.end(), [](const RECORDITEM& a, const RECORDITEM& b) {
        return ItemNumber(a.name) < ItemNumber(b.name);
    });
    return items;
}

bool CInstallRecord::RemoveItem(const wchar_t* kind, const std::wstring& name)
{
    CUniqueRegKey key;
    LONG rc = RegOpenKeyExW(HKEY_LOCAL_MACHINE, Path(kind).c_str(), 0, KEY_SET_VALUE | kView, key.put());
    if (rc == ERROR_SUCCESS)
        rc = (ZOL_CHANGE_POINT("RegDeleteValueW(record item)", name.c_str()), RegDeleteValueW(key.get(), name.c_str()));
    if (rc == ERROR_FILE_NOT_FOUND)
        rc = ERROR_SUCCESS;
    m_dwLastError = static_cast<DWORD>(rc);
    return rc == ERROR_SUCCESS;
}
