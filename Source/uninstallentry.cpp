#include "uninstallentry.h"

#include "basecomp.h"
#include "inf/infutil.h"
#include "installrecord.h"
#include "packagefiles.h"
#include "support/asciicase.h"
#include "support/changepoint.h"
#include "support/emptyfolder.h"
#include "support/errortext.h"
#include "support/handles.h"
#include "support/plainname.h"
#include "support/trustedfolder.h"
#include "support/wformat.h"

#include <setupapi.h>
#include <wchar.h>

namespace {

// The entries are machine-wide: the 64-bit view whatever the process is.
const REGSAM kView = KEY_WOW64_64KEY;
const DWORD kCopyChunk = 64 * 1024;
// How deep the files of a record's folders are counted for its size.
const int kMaxSizeDepth = 8;
// The longest Provider text read from an INF.
const size_t kProviderChars = 255;

CStr WithoutTrailingSeparator(const CStr& path)
{
    CStr out(path);
    while (out.GetLength() > 3 && (out.GetString()[out.GetLength() - 1] == L'\\'))
        out = out.Mid(0, out.GetLength() - 1);
    return out;
}

// The Program Files folder as the system names it (the environment
// variable of that name is the caller's to change).
CStr ProgramFilesFolder()
{
    CUniqueRegKey key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion", 0, KEY_QUERY_VALUE | kView,
                      key.put()) != ERROR_SUCCESS)
        return CStr();
    wchar_t buffer[MAX_PATH] = {};
    DWORD bytes = sizeof(buffer);
    if (RegGetValueW(key.get(), nullptr, L"ProgramFilesDir", RRF_RT_REG_SZ, nullptr, buffer, &bytes) !=
        ERROR_SUCCESS)
        return CStr();
    CStr folder = WithoutTrailingSeparator(CStr(buffer));
    return IsFullFolderPath(folder.GetString()) ? folder : CStr();
}

bool IsPlainFile(const CStr& path)
{
    DWORD attributes = GetFileAttributesW(path.GetString());
    return attributes != INVALID_FILE_ATTRIBUTES &&
           !(attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT));
}

// Copies a file into a new file at target, reading it through a handle that
// does not follow links, from a folder only administrators can change (or a
// system folder). ERROR_SUCCESS, or the error with why.
DWORD CopyTrustedFile(const CStr& source, const CStr& target, std::wstring* why)
{
    CStr folder = WithoutTrailingSeparator(infutil::DirectoryPart(source.GetString()));
    std::wstring reason;
    if (!IsInSystemFolder(folder.GetString()) && JudgeFolderAt(folder.GetString(), &reason) != FOLDER_TRUSTED) {
        *why = FormatWide(L"its folder %s %s", folder.GetString(), reason.c_str());
        return ERROR_ACCESS_DENIED;
    }
    // Read sharing only: no one writes it while it is copied.
    CUniqueFile in(CreateFileW(source.GetString(), GENERIC_READ | READ_CONTROL, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                               FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!in) {
        DWORD error = GetLastError();
        *why = FormatWide(L"error %s", DescribeError(error).GetString());
        return error;
    }
    if (IsLinkedFile(in.get(), source.GetString()) || !HasTrustedOwner(in.get())) {
        *why = L"it is a link, has another name or is owned by another account";
        return ERROR_ACCESS_DENIED;
    }
    CUniqueFile out((ZOL_CHANGE_POINT("CreateFileW(kept copy)", target.GetString()),
                     CreateFileW(target.GetString(), GENERIC_WRITE | DELETE, 0, nullptr, CREATE_NEW,
                                 FILE_ATTRIBUTE_NORMAL, nullptr)));
    DWORD error = out ? ERROR_SUCCESS : GetLastError();
    std::vector<char> chunk(kCopyChunk);
    while (error == ERROR_SUCCESS) {
        DWORD read = 0, written = 0;
        if (!ReadFile(in.get(), chunk.data(), kCopyChunk, &read, nullptr))
            error = GetLastError();
        else if (read == 0)
            break;
        else if (!WriteFile(out.get(), chunk.data(), read, &written, nullptr) || written != read)
            error = GetLastError() != ERROR_SUCCESS ? GetLastError() : ERROR_WRITE_FAULT;
    }
    if (error != ERROR_SUCCESS) {
        if (out)
            DeleteOpenFile(out.get());
        *why = FormatWide(L"error %s", DescribeError(error).GetString());
    }
    return error;
}

// The bytes of the files below folder; links are not followed.
ULONGLONG FolderBytes(const std::wstring& folder, int depth = 0)
{
    ULONGLONG total = 0;
    WIN32_FIND_DATAW entry;
    CUniqueFind find(FindFirstFileW((folder + L"\\*").c_str(), &entry));
    for (BOOL more = find.valid(); more; more = FindNextFileW(find.get(), &entry)) {
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)
            continue;
        if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            total += (static_cast<ULONGLONG>(entry.nFileSizeHigh) << 32) | entry.nFileSizeLow;
        else if (wcscmp(entry.cFileName, L".") != 0 && wcscmp(entry.cFileName, L"..") != 0 && depth < kMaxSizeDepth)
            total += FolderBytes(folder + L"\\" + entry.cFileName, depth + 1);
    }
    return total;
}

// The INF's Provider, from the copy the record keeps: the driver package's
// publisher.
CStr ReadPublisher(const CInstallRecord& record)
{
    CStr inf = record.ReadValue(RECORD_INF_NAME);
    if (!IsPlainName(inf.GetString()))
        return CStr();
    CStr path = infutil::JoinPath(StoreFolderOf(CInstallRecord::FolderOf(record.Key().GetString())).GetString(),
                                  inf.GetString());
    CUniqueInf hinf(SetupOpenInfFileW(path.GetString(), nullptr, INF_STYLE_WIN4, nullptr));
    CStr provider;
    if (hinf.valid())
        infutil::ReadLineText(hinf.get(), L"Version", L"Provider", kProviderChars, &provider);
    return provider;
}

} // namespace

CStr FindRecordInPlace(const wchar_t* infName)
{
    CStr found;
    for (const CStr& key : CInstallRecord::ListKeys()) {
        CInstallRecord record(key.GetString());
        RecordState state = record.GetState();
        if (state == RECORD_STATE_NONE || record.ReadValue(RECORD_INF_NAME).CompareNoCase(infName) != 0)
            continue;
        CStr later = record.ReadValue(RECORD_SUPERSEDED_BY);
        if (!later.IsEmpty() && CInstallRecord(later.GetString()).Exists())
            continue;
        if (found.IsEmpty() || state == RECORD_STATE_INSTALLED)
            found = key;
    }
    return found;
}

namespace {

LONG SetText(HKEY key, const wchar_t* name, const CStr& text)
{
    return (ZOL_CHANGE_POINT("RegSetValueExW(uninstall entry)", name),
            RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.GetString()),
                           static_cast<DWORD>((text.GetLength() + 1) * sizeof(wchar_t))));
}

LONG SetNumber(HKEY key, const wchar_t* name, DWORD value)
{
    return (ZOL_CHANGE_POINT("RegSetValueExW(uninstall entry)", name),
            RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value)));
}

LONG DeleteIfThere(HKEY key, const wchar_t* name)
{
    LONG rc = (ZOL_CHANGE_POINT("RegDeleteValueW(uninstall entry)", name), RegDeleteValueW(key, name));
    return rc == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : rc;
}

// The entry's values from a record and its kept copy.
LONG WriteEntry(HKEY entry, const CInstallRecord& record)
{
    CStr name = record.ReadValue(RECORD_PACKAGE_NAME);
    CStr folder = KeptCopyFolderOf(record.Key().GetString());
    CStr installDate = record.ReadValue(RECORD_INSTALL_DATE);
    ULONGLONG bytes = FolderBytes(CInstallRecord::FolderOf(record.Key().GetString()).GetString());
    if (!folder.IsEmpty())
        bytes += FolderBytes(folder.GetString());
    const ULONGLONG kilobytes = (bytes + 1023) / 1024;
    const bool runnable = !folder.IsEmpty() &&
                          IsPlainFile(infutil::JoinPath(folder.GetString(), KEPT_HOST_NAME)) &&
                          IsPlainFile(infutil::JoinPath(folder.GetString(), KEPT_COMPONENT_NAME));
    LONG rc = SetText(entry, L"DisplayName", name.IsEmpty() ? record.ReadValue(RECORD_INF_NAME) : name);
    if (rc == ERROR_SUCCESS)
        rc = SetText(entry, L"DisplayVersion", record.ReadValue(RECORD_VERSION));
    if (rc == ERROR_SUCCESS)
        rc = SetText(entry, L"Publisher", ReadPublisher(record));
    if (rc == ERROR_SUCCESS)
        rc = installDate.IsEmpty() ? DeleteIfThere(entry, L"InstallDate") : SetText(entry, L"InstallDate", installDate);
    if (rc == ERROR_SUCCESS)
        rc = SetNumber(entry, L"EstimatedSize", kilobytes > 0xFFFFFFFFull ? 0xFFFFFFFFu : static_cast<DWORD>(kilobytes));
    if (rc == ERROR_SUCCESS)
        rc = SetNumber(entry, L"NoModify", 1);
    if (rc == ERROR_SUCCESS)
        rc = SetNumber(entry, L"NoRepair", 1);
    // Without a kept host and component there is nothing to run.
    if (rc == ERROR_SUCCESS)
        rc = runnable ? SetText(entry, L"UninstallString", UninstallCommand(folder, false))
                      : DeleteIfThere(entry, L"UninstallString");
    if (rc == ERROR_SUCCESS)
        rc = runnable ? SetText(entry, L"QuietUninstallString", UninstallCommand(folder, true))
                      : DeleteIfThere(entry, L"QuietUninstallString");
    return rc;
}

// Deletes at the next restart what is left in a kept copy's folder (files
// in use), then the folder itself.
bool DeleteAtRestart(const CStr& folder)
{
    WIN32_FIND_DATAW entry;
    CUniqueFind find(FindFirstFileW((std::wstring(folder.GetString()) + L"\\*").c_str(), &entry));
    for (BOOL more = find.valid(); more; more = FindNextFileW(find.get(), &entry)) {
        if (wcscmp(entry.cFileName, L".") == 0 || wcscmp(entry.cFileName, L"..") == 0)
            continue;
        // Only the plain files the copy was made of are left to the restart.
        if (entry.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT))
            return false;
        CStr path = infutil::JoinPath(folder.GetString(), entry.cFileName);
        if (!(ZOL_CHANGE_POINT("MoveFileExW(delete at restart)", path.GetString()),
              MoveFileExW(path.GetString(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)))
            return false;
    }
    return (ZOL_CHANGE_POINT("MoveFileExW(delete at restart)", folder.GetString()),
            MoveFileExW(folder.GetString(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)) != FALSE;
}

// Whether a folder holds nothing but the entry named name.
bool HoldsOnly(const CStr& folder, const wchar_t* name)
{
    WIN32_FIND_DATAW entry;
    CUniqueFind find(FindFirstFileW((std::wstring(folder.GetString()) + L"\\*").c_str(), &entry));
    for (BOOL more = find.valid(); more; more = FindNextFileW(find.get(), &entry)) {
        if (wcscmp(entry.cFileName, L".") != 0 && wcscmp(entry.cFileName, L"..") != 0 &&
            !EqualsAsciiNoCase(entry.cFileName, name))
            return false;
    }
    return true;
}

} // namespace

CStr UninstallEntryName(const wchar_t* infName)
{
    if (infName == nullptr || *infName == L'\0')
        return CStr();
    CStr name(L"zolcomp_");
    name += infName;
    return IsPlainName(name.GetString()) ? name : CStr();
}

CStr KeptCopyFolderOf(const wchar_t* recordKey)
{
    CStr programFiles = ProgramFilesFolder();
    if (programFiles.IsEmpty() || recordKey == nullptr || !IsPlainName(recordKey))
        return CStr();
    CStr folder = infutil::JoinPath(programFiles.GetString(), L"zolcomp");
    return infutil::JoinPath(folder.GetString(), recordKey);
}

CStr UninstallCommand(const CStr& keptFolder, bool quiet)
{
    return CStr(FormatWide(L"\"%s\\%s\" --uninstall --force%s --package \"%s\" \"%s\\%s\"", keptFolder.GetString(),
                           KEPT_HOST_NAME, quiet ? L"" : L" --pause", keptFolder.GetString(),
                           keptFolder.GetString(), KEPT_COMPONENT_NAME)
                    .c_str());
}

bool MakeKeptCopy(const wchar_t* recordKey, const KEPTCOPYFILES& files, std::vector<std::wstring>* notes,
                  CStrList* failures)
{
    CStr folder = KeptCopyFolderOf(recordKey);
    auto fail = [failures](const std::wstring& text) {
        failures->push_back(CStr(text.c_str()));
        return false;
    };
    if (folder.IsEmpty())
        return fail(L"Kept copy not made: the Program Files folder is not known");
    CStr parent = WithoutTrailingSeparator(infutil::DirectoryPart(folder.GetString()));
    if (!MakeTrustedFolder(parent.GetString(), notes) || !MakeTrustedFolder(folder.GetString(), notes))
        return fail(FormatWide(L"Kept copy folder not trusted: %s", folder.GetString()));
    // An earlier copy of the same version is replaced whole.
    std::vector<std::wstring> kept;
    if (!EmptyTrustedFolder(folder.GetString(), &kept))
        return fail(FormatWide(L"Kept copy not replaced: %s", kept.empty() ? folder.GetString() : kept.front().c_str()));

    std::vector<std::pair<CStr, CStr>> copies = {{files.host, CStr(KEPT_HOST_NAME)},
                                                 {files.component, CStr(KEPT_COMPONENT_NAME)}};
    for (const CStr& path : files.packageFiles)
        copies.push_back({path, CStr(path.GetString() + infutil::FileNameOffset(path.GetString()))});
    for (const auto& copy : copies) {
        std::wstring why;
        CStr target = infutil::JoinPath(folder.GetString(), copy.second.GetString());
        if (copy.first.IsEmpty())
            why = L"not found";
        else if (!IsPlainName(copy.second.GetString()))
            why = UnsafeFileNameText(copy.second.GetString());
        else if (!infutil::FitsPath(copy.first) || !infutil::FitsPath(target))
            why = L"the path is too long";
        else
            CopyTrustedFile(copy.first, target, &why);
        if (!why.empty()) {
            // Half a copy runs nothing: what was copied goes again.
            EmptyTrustedFolder(folder.GetString(), nullptr);
            RemoveDirectoryW(folder.GetString());
            return fail(FormatWide(L"Kept copy not made: %s, %s", copy.first.GetString(), why.c_str()));
        }
    }
    return true;
}

bool RemoveKeptCopy(const wchar_t* recordKey, bool* atRestart)
{
    CStr folder = KeptCopyFolderOf(recordKey);
    if (folder.IsEmpty() || GetFileAttributesW(folder.GetString()) == INVALID_FILE_ATTRIBUTES)
        return true;
    // What is in use, and the folder a running host holds open, goes at the
    // next restart.
    bool later = false;
    if (!EmptyTrustedFolder(folder.GetString(), nullptr) ||
        !(ZOL_CHANGE_POINT("RemoveDirectoryW", folder.GetString()), RemoveDirectoryW(folder.GetString()))) {
        if (!DeleteAtRestart(folder))
            return false;
        later = true;
    }
    // The folder of the kept copies goes with the last of them.
    CStr parent = WithoutTrailingSeparator(infutil::DirectoryPart(folder.GetString()));
    if (!(ZOL_CHANGE_POINT("RemoveDirectoryW", parent.GetString()), RemoveDirectoryW(parent.GetString())) && later &&
        HoldsOnly(parent, recordKey))
        (ZOL_CHANGE_POINT("MoveFileExW(delete at restart)", parent.GetString()),
         MoveFileExW(parent.GetString(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT));
    if (later && atRestart)
        *atRestart = true;
    return true;
}

UninstallEntryChange UpdateUninstallEntry(const wchar_t* infName, CStr* version, std::wstring* failure)
{
    CStr name = UninstallEntryName(infName);
    if (name.IsEmpty()) {
        *failure = UnsafeFileNameText(infName ? infName : L"");
        return ENTRY_FAILED;
    }
    CStr key = FindRecordInPlace(infName);
    if (key.IsEmpty()) {
        CUniqueRegKey root;
        LONG rc = RegOpenKeyExW(HKEY_LOCAL_MACHINE, UNINSTALL_ENTRIES_PATH, 0, KEY_READ | KEY_WRITE | DELETE | kView,
                                root.put());
        if (rc == ERROR_SUCCESS)
            rc = (ZOL_CHANGE_POINT("RegDeleteTreeW(uninstall entry)", name.GetString()),
                  RegDeleteTreeW(root.get(), name.GetString()));
        if (rc == ERROR_FILE_NOT_FOUND)
            return ENTRY_UNCHANGED;
        if (rc == ERROR_SUCCESS)
            return ENTRY_REMOVED;
        *failure = FormatWide(L"Uninstall entry not removed: %s, error %s", name.GetString(),
                              DescribeError(static_cast<DWORD>(rc)).GetString());
        return ENTRY_FAILED;
    }
    CInstallRecord record(key.GetString());
    std::wstring path = std::wstring(UNINSTALL_ENTRIES_PATH) + L"\\" + name.GetString();
    CUniqueRegKey entry;
    LONG rc = (ZOL_CHANGE_POINT("RegCreateKeyExW(uninstall entry)", name.GetString()),
               RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                               KEY_SET_VALUE | KEY_QUERY_VALUE | kView, nullptr, entry.put(), nullptr));
    if (rc == ERROR_SUCCESS)
        rc = WriteEntry(entry.get(), record);
    if (rc != ERROR_SUCCESS) {
        *failure = FormatWide(L"Uninstall entry not written: %s, error %s", name.GetString(),
                              DescribeError(static_cast<DWORD>(rc)).GetString());
        return ENTRY_FAILED;
    }
    if (version)
        *version = record.ReadValue(RECORD_VERSION);
    return ENTRY_WRITTEN;
}

// The component's part: after an install, and after an uninstall.

#define ENTRY_SOURCE L".\\Source\\uninstallentry.cpp"

namespace {

// The host to keep with the package: the one a package ships beside its
// component, else the host running this install when it is a zolhost.
// Empty when there is none.
CStr FindHostToKeep()
{
    CStr beside = infutil::JoinPath(GetComponentDirectory().GetString(), KEPT_HOST_NAME);
    if (IsPlainFile(beside))
        return beside;
    wchar_t path[MAX_PATH] = {};
    DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH || !EqualsAsciiNoCase(path + infutil::FileNameOffset(path), KEPT_HOST_NAME))
        return CStr();
    return CStr(path);
}

bool SameFolder(const CStr& a, const CStr& b)
{
    CStr left = WithoutTrailingSeparator(a), right = WithoutTrailingSeparator(b);
    return CompareStringOrdinal(left.GetString(), static_cast<int>(left.GetLength()), right.GetString(),
                                static_cast<int>(right.GetLength()), TRUE) == CSTR_EQUAL;
}

} // namespace

void CBaseComponent::RegisterUninstallEntry()
{
    CStr key = GetPackageKey();
    CInstallRecord record(key.GetString());
    if (key.IsEmpty() || record.GetState() != RECORD_STATE_INSTALLED)
        return;
    CStrList failures;
    std::vector<std::wstring> notes;
    SYSTEMTIME today;
    GetLocalTime(&today);
    if (!record.WriteValue(RECORD_INSTALL_DATE, FormatWide(L"%04u%02u%02u", today.wYear, today.wMonth, today.wDay).c_str()))
        failures.push_back(CStr(FormatWide(L"Install record not written: %s, its install date, error %s",
                                           key.GetString(), DescribeError(record.LastError()).GetString())
                                    .c_str()));

    // The kept copy: only a component that is a library of its own can be
    // loaded by a kept host; one run from its kept copy is that copy.
    CStr keptFolder = KeptCopyFolderOf(key.GetString());
    wchar_t module[MAX_PATH] = {};
    DWORD length = g_hModule != nullptr ? GetModuleFileNameW(g_hModule, module, MAX_PATH) : 0;
    KEPTCOPYFILES files;
    files.host = length != 0 && length < MAX_PATH ? FindHostToKeep() : CStr();
    if (!files.host.IsEmpty() && !keptFolder.IsEmpty() && !SameFolder(GetComponentDirectory(), keptFolder)) {
        files.component = module;
        files.packageFiles.push_back(m_strPackageDefinitionPath);
        for (const wchar_t* name : {L"install.xml", L"dependency.xml"}) {
            CStr path = infutil::JoinPath(m_strPackageFolder.GetString(), name);
            if (IsPlainFile(path))
                files.packageFiles.push_back(path);
        }
        // The INF as it was installed, from the record's own copy.
        files.packageFiles.push_back(infutil::JoinPath(
            StoreFolderOf(CInstallRecord::FolderOf(key.GetString())).GetString(), m_strInfFile.GetString()));
        CStrList copyFailures;
        if (!MakeKeptCopy(key.GetString(), files, &notes, &copyFailures)) {
            for (const CStr& failure : copyFailures)
                failures.push_back(CStr((L"Uninstall entry without a command: " + std::wstring(failure.GetString())).c_str()));
        }
    }

    std::wstring failure;
    if (UpdateUninstallEntry(m_strInfFile.GetString(), nullptr, &failure) == ENTRY_FAILED)
        failures.push_back(CStr(failure.c_str()));
    for (const std::wstring& note : notes)
        m_pLog->WriteLine(LOG_MAIN, SEV_WARNING, nullptr, 0, L"%s\r\n", note.c_str());
    for (const CStr& text : failures)
        m_pLog->WriteLine(LOG_BOTH_CONT, SEV_WARNING, nullptr, 0, L"%s\r\n", EscapeControlChars(text.GetString()).GetString());
}

void CBaseComponent::RetireUninstallEntry(const CStr& recordKey, const CStr& infName)
{
    auto step = [this](int line, const std::wstring& text) {
        m_pLog->WriteLine(LOG_BOTH, SEV_INFO, ENTRY_SOURCE, line, L"%s... ", EscapeControlChars(text.c_str()).GetString());
    };
    CStrList failures;
    CStr name = UninstallEntryName(infName.GetString());
    CStr inPlace = FindRecordInPlace(infName.GetString());
    CUniqueRegKey entry;
    bool listed = !name.IsEmpty() && RegOpenKeyExW(HKEY_LOCAL_MACHINE,
                                                   (std::wstring(UNINSTALL_ENTRIES_PATH) + L"\\" + name.GetString()).c_str(),
                                                   0, KEY_READ | KEY_WOW64_64KEY, entry.put()) == ERROR_SUCCESS;
    entry.reset();
    // The version put back takes the entry over; else it goes.
    if (!inPlace.IsEmpty() || listed) {
        if (!inPlace.IsEmpty())
            step(401, FormatWide(L"    - Pointing the uninstall entry %s at %s", name.GetString(),
                                 CInstallRecord(inPlace.GetString()).ReadValue(RECORD_VERSION).GetString()));
        else
            step(403, FormatWide(L"    - Removing the uninstall entry %s", name.GetString()));
        std::wstring failure;
        bool ok = UpdateUninstallEntry(infName.GetString(), nullptr, &failure) != ENTRY_FAILED;
        m_pLog->WriteLine(LOG_BOTH_CONT, SEV_INFO, nullptr, 0, ok ? L"Done.\r\n" : L"Failed!\r\n");
        if (!ok)
            failures.push_back(CStr(failure.c_str()));
    }

    // The kept copy goes last: the host running this from there, and the
    // component it loaded, at the next restart.
    CStr kept = KeptCopyFolderOf(recordKey.GetString());
    if (!kept.IsEmpty() && GetFileAttributesW(kept.GetString()) != INVALID_FILE_ATTRIBUTES) {
        step(411, FormatWide(L"    - Removing the kept copy %s", kept.GetString()));
        bool atRestart = false;
        bool ok = RemoveKeptCopy(recordKey.GetString(), &atRestart);
        m_pLog->WriteLine(LOG_BOTH_CONT, SEV_INFO, nullptr, 0,
                          !ok ? L"Failed!\r\n" : atRestart ? L"Done at the next restart.\r\n" : L"Done.\r\n");
        if (!ok)
            failures.push_back(CStr(FormatWide(L"Kept copy not removed: %s", kept.GetString()).c_str()));
    } else if (!kept.IsEmpty()) {
        // A run cut off once the copy had gone may have left the folder of
        // the kept copies behind: it goes with the last of them (a folder
        // that still holds another version's copy is not removed).
        CStr parent = WithoutTrailingSeparator(infutil::DirectoryPart(kept.GetString()));
        (ZOL_CHANGE_POINT("RemoveDirectoryW", parent.GetString()), RemoveDirectoryW(parent.GetString()));
    }
    for (const CStr& text : failures)
        m_pLog->WriteLine(LOG_BOTH_CONT, SEV_WARNING, nullptr, 0, L"%s\r\n", EscapeControlChars(text.GetString()).GetString());
}
