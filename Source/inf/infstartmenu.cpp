// CInf start-menu shortcuts: on Windows NT 4.0 only, the shortcut sections
// named by the "ZolStartMenuItems" line of the first "CopyFiles" section
// become shell links in the all-users start menu. Later systems get their
// shortcuts from the INF's profile items instead. Nothing here fails the
// install; a shortcut that cannot be made is skipped.
#include "inf/inf.h"

#include <objidl.h>
#include <shlobj.h>

#include "inf/infutil.h"
#include "support/changepoint.h"
#include "support/handles.h"
#include "support/plainname.h"
#include "support/wformat.h"

namespace {

// Every value is read, and expanded, within one path buffer.
const size_t kValueChars = MAX_PATH;

enum ValueState {
    VALUE_MISSING, // no such line: the property stays unset
    VALUE_PRESENT,
    VALUE_UNUSABLE, // longer than the limit, or it cannot be expanded
};

// COM for the calling thread, for one scope.
class CComScope
{
public:
    CComScope() : m_hr(CoInitialize(nullptr)) {}
    ~CComScope()
    {
        if (SUCCEEDED(m_hr))
            CoUninitialize();
    }
    bool Ok() const { return SUCCEEDED(m_hr); }
    CComScope(const CComScope&) = delete;
    CComScope& operator=(const CComScope&) = delete;

private:
    HRESULT m_hr;
};

ValueState ReadValue(HINF hInf, const wchar_t* section, const wchar_t* key, bool expand, CStr* out)
{
    out->Empty();
    INFCONTEXT context;
    if (!SetupFindFirstLineW(hInf, section, key, &context))
        return VALUE_MISSING;
    CStr value;
    if (!infutil::ReadStringField(&context, 1, kValueChars - 1, &value))
        return SetupGetFieldCount(&context) < 1 ? VALUE_MISSING : VALUE_UNUSABLE;
    if (!expand) {
        *out = value;
        return VALUE_PRESENT;
    }
    wchar_t expanded[kValueChars] = {};
    DWORD needed = ExpandEnvironmentStringsW(value.GetString(), expanded, static_cast<DWORD>(kValueChars));
    if (needed == 0 || needed > kValueChars)
        return VALUE_UNUSABLE;
    expanded[kValueChars - 1] = L'\0';
    *out = expanded;
    return VALUE_PRESENT;
}

// The all-users start-menu programs directory.
bool CommonProgramsDirectory(CStr* directory)
{
    CUniqueItemList list;
    if (FAILED(SHGetSpecialFolderLocation(nullptr, CSIDL_COMMON_PROGRAMS, list.put())) || !list.valid())
        return false;
    wchar_t path[MAX_PATH] = {};
    if (!SHGetPathFromIDListW(list.get(), path))
        return false;
    path[MAX_PATH - 1] = L'\0';
    *directory = path;
    return !directory->IsEmpty();
}

void CreateShortcut(CInf* inf, HINF hInf, const wchar_t* section)
{
    CStr name, path, args, workingDir, group;
    ValueState nameState = ReadValue(hInf, section, L"Name", false, &name);
    ValueState pathState = ReadValue(hInf, section, L"Path", true, &path);
    ValueState argsState = ReadValue(hInf, section, L"Args", false, &args);
    ValueState dirState = ReadValue(hInf, section, L"WorkingDir", true, &workingDir);
    ValueState groupState = ReadValue(hInf, section, L"Group", false, &group);

    // A value that cannot be used as written would give a different
    // shortcut; none is made. Without a group there is no place to save it,
    // and without a name nothing to call it.
    if (nameState == VALUE_UNUSABLE || pathState == VALUE_UNUSABLE || argsState == VALUE_UNUSABLE ||
        dirState == VALUE_UNUSABLE || groupState != VALUE_PRESENT || nameState != VALUE_PRESENT)
        return;
    // The shortcut's name and its group are names of the start menu's own
    // files and folders: plain names, never a path elsewhere.
    if (!IsPlainName(name.GetString()) || !IsPlainName(group.GetString()))
        return;

    CComPtr<IShellLinkW> link;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW, link.put_void())) ||
        !link)
        return;
    CComPtr<IPersistFile> file;
    if (FAILED(link->QueryInterface(IID_IPersistFile, file.put_void())) || !file)
        return;

    link->SetDescription(name.GetString());
    if (pathState == VALUE_PRESENT)
        link->SetPath(path.GetString());
    if (argsState == VALUE_PRESENT)
        link->SetArguments(args.GetString());
    if (dirState == VALUE_PRESENT)
        link->SetWorkingDirectory(workingDir.GetString());

    CStr programs;
    if (!CommonProgramsDirectory(&programs))
        return;
    std::wstring folder = FormatWide(L"%s\\%s", programs.GetString(), group.GetString());
    std::wstring linkPath = FormatWide(L"%s\\%s\\%s.lnk", programs.GetString(), group.GetString(), name.GetString());
    // The whole file name must fit one path buffer; a longer one is never cut.
    if (linkPath.size() >= MAX_PATH)
        return;
    if (!inf->NoteShortcut(folder.c_str(), linkPath.c_str()))
        return;
    (ZOL_CHANGE_POINT("CreateDirectoryW", folder.c_str()),
     CreateDirectoryW(folder.c_str(), nullptr)); // an existing folder is fine
    (ZOL_CHANGE_POINT("IPersistFile::Save", linkPath.c_str()), file->Save(linkPath.c_str(), TRUE));
}

} // namespace

void CInf::CreateStartMenuItems()
{
    OSVERSIONINFOW version = {};
    version.dwOSVersionInfoSize = sizeof(version);
    if (!GetVersionExW(&version) || version.dwMajorVersion != 4)
        return;

    CComScope com;
    if (!com.Ok())
        return;
    if (m_vCopyFilesSections.empty() || !m_hInf.valid())
        return;

    INFCONTEXT context;
    if (!SetupFindFirstLineW(m_hInf.get(), m_vCopyFilesSections.front().GetString(), L"ZolStartMenuItems", &context))
        return;
    DWORD count = SetupGetFieldCount(&context);
    for (DWORD i = 1; i <= count; ++i) {
        CStr section;
        if (!infutil::ReadStringField(&context, i, kValueChars - 1, &section) || section.IsEmpty())
            continue;
        CreateShortcut(this, m_hInf.get(), section.GetString());
    }
}
