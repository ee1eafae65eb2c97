// Start-menu shortcuts from INF shortcut sections. They are made only on an
// operating system with major version 4: a child run of this program, for
// which Wine reports Windows NT 4.0 (its "nt40" setting), creates them, and
// this run reads the real shell links back. In this run (6.1) nothing is
// created.
#include <gtest/gtest.h>
#include <windows.h>
#include <objidl.h>
#include <shlobj.h>

#include <cstdio>
#include <string>
#include <vector>

#include "inf/inf.h"
#include "support/handles.h"
#include "testsupport.h"

using namespace zoltest;

namespace {

const wchar_t kInfList[] = L"ZOL_STARTMENU_INFS";

std::wstring CommonPrograms()
{
    wchar_t path[MAX_PATH] = {};
    SHGetSpecialFolderPathW(nullptr, path, CSIDL_COMMON_PROGRAMS, FALSE);
    return path;
}

struct LinkInfo {
    bool loaded = false;
    std::wstring path, arguments, workingDir, description;
};

LinkInfo ReadLink(const std::wstring& file)
{
    LinkInfo info;
    CComPtr<IShellLinkW> link;
    CComPtr<IPersistFile> persist;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW, link.put_void())) ||
        FAILED(link->QueryInterface(IID_IPersistFile, persist.put_void())) ||
        FAILED(persist->Load(file.c_str(), STGM_READ)))
        return info;
    wchar_t buffer[1024] = {};
    info.loaded = true;
    if (SUCCEEDED(link->GetPath(buffer, 1024, nullptr, SLGP_RAWPATH)))
        info.path = buffer;
    buffer[0] = L'\0';
    if (SUCCEEDED(link->GetArguments(buffer, 1024)))
        info.arguments = buffer;
    buffer[0] = L'\0';
    if (SUCCEEDED(link->GetWorkingDirectory(buffer, 1024)))
        info.workingDir = buffer;
    buffer[0] = L'\0';
    if (SUCCEEDED(link->GetDescription(buffer, 1024)))
        info.description = buffer;
    return info;
}

// Runs the shortcut step of every INF in `infs` in a child run of this
// program that Wine tells it is running on Windows NT 4.0; returns the
// child's output.
std::string CreateInChildOnNt4(const std::vector<std::wstring>& infs)
{
    std::wstring list;
    for (const std::wstring& inf : infs)
        list += (list.empty() ? L"" : L";") + inf;
    SetEnvironmentVariableW(kInfList, list.c_str());
    HKEY key = nullptr;
    EXPECT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Wine\\AppDefaults\\startmenu_test.exe", 0, nullptr, 0,
                              KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    const wchar_t version[] = L"nt40";
    RegSetValueExW(key, L"Version", 0, REG_SZ, reinterpret_cast<const BYTE*>(version), sizeof(version));
    RegCloseKey(key);
    ProcessResult r = RunProcess(L"\"" + BinPath(L"startmenu_test.exe") +
                                 L"\" --gtest_also_run_disabled_tests --gtest_filter=StartMenuChild.DISABLED_Create");
    RegDeleteKeyW(HKEY_CURRENT_USER, L"Software\\Wine\\AppDefaults\\startmenu_test.exe");
    SetEnvironmentVariableW(kInfList, nullptr);
    return r.output;
}

const std::wstring kHead = L"[Version]\r\nSignature=\"$Windows NT$\"\r\n";

class StartMenu : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr))); }
    void TearDown() override { CoUninitialize(); }
};

} // namespace

// The child's part: CreateStartMenuItems for each INF named in the
// environment, reporting the version it ran under.
TEST(StartMenuChild, DISABLED_Create)
{
    OSVERSIONINFOW version = {};
    version.dwOSVersionInfoSize = sizeof(version);
    ASSERT_TRUE(GetVersionExW(&version));
    wchar_t list[4096] = {};
    ASSERT_GT(GetEnvironmentVariableW(kInfList, list, 4096), 0u);
    std::wstring rest = list;
    while (!rest.empty()) {
        size_t end = rest.find(L';');
        std::wstring path = rest.substr(0, end);
        rest = end == std::wstring::npos ? std::wstring() : rest.substr(end + 1);
        CInf inf(path.c_str());
        ASSERT_EQ(inf.IsOpen(), 1);
        inf.CreateStartMenuItems();
    }
    printf("MAJOR=%lu\nPROGRAMS=%s\n", version.dwMajorVersion, ToUtf8(CommonPrograms()).c_str());
}

TEST_F(StartMenu, ShortcutsOnNt4AreRealLinksAndBadOnesAreSkipped)
{
    const std::wstring programs = CommonPrograms();
    ASSERT_FALSE(programs.empty());
    std::wstring dir = MakeTestDir(L"startmenu");
    ASSERT_TRUE(WriteBytes(dir + L"\\readme.txt", "readme"));
    wchar_t root[MAX_PATH] = {};
    GetEnvironmentVariableW(L"SystemRoot", root, MAX_PATH);
    ASSERT_TRUE(WriteBytes(std::wstring(root) + L"\\system32\\zoltool.exe", "tool"));

    // Names that make the link's full path exactly 259 characters (fits) and
    // 260 (does not).
    const std::wstring group = L"ZOL Limits";
    const size_t fixed = programs.size() + 1 + group.size() + 1 + 4; // separators and ".lnk"
    ASSERT_LT(fixed + 1, 259u);
    const std::wstring fits(259 - fixed, L'f');
    const std::wstring tooLong(260 - fixed, L'x');

    std::wstring inf = dir + L"\\shortcuts.inf";
    ASSERT_TRUE(WriteUtf8(inf, kHead +
        L"[DestinationDirs]\r\nDefaultDestDir=" + dir + L"\\out\r\n"
        L"[Install]\r\nCopyFiles=Files\r\n"
        L"ZolStartMenuItems=Short.Tool,Short.Readme,Short.NoGroup,Short.NoName,Short.Fits,Short.TooLong,Short.Missing,"
        L"Short.UpGroup,Short.UpName\r\n"
        L"[Files]\r\n"
        L"[Short.Tool]\r\nName=\"ZOL Tool\"\r\nPath=\"%%SystemRoot%%\\system32\\zoltool.exe\"\r\n"
        L"Args=\"--log %%SystemRoot%%\\zoltool.log\"\r\nWorkingDir=\"%%SystemRoot%%\\temp\"\r\nGroup=\"ZOL Tools\"\r\n"
        L"[Short.Readme]\r\nName=\"ZOL Readme\"\r\nPath=\"" + dir + L"\\readme.txt\"\r\nGroup=\"ZOL Tools\"\r\n"
        L"[Short.NoGroup]\r\nName=\"ZOL Hidden\"\r\nPath=\"" + dir + L"\\readme.txt\"\r\n"
        L"[Short.NoName]\r\nPath=\"" + dir + L"\\readme.txt\"\r\nGroup=\"ZOL No Name\"\r\n"
        L"[Short.Fits]\r\nName=\"" + fits + L"\"\r\nPath=\"" + dir + L"\\readme.txt\"\r\nGroup=\"" + group + L"\"\r\n"
        L"[Short.TooLong]\r\nName=\"" + tooLong + L"\"\r\nPath=\"" + dir + L"\\readme.txt\"\r\nGroup=\"ZOL Too Long\"\r\n"
        L"[Short.UpGroup]\r\nName=\"ZOL Up\"\r\nPath=\"" + dir + L"\\readme.txt\"\r\nGroup=\"..\\..\\ZOL Escape\"\r\n"
        L"[Short.UpName]\r\nName=\"..\\ZOL Up\"\r\nPath=\"" + dir + L"\\readme.txt\"\r\nGroup=\"ZOL Tools\"\r\n"));

    // Only the first "CopyFiles" section is asked for shortcut sections.
    std::wstring later = dir + L"\\later.inf";
    ASSERT_TRUE(WriteUtf8(later, kHead +
        L"[DestinationDirs]\r\nDefaultDestDir=" + dir + L"\\out\r\n"
        L"[First]\r\nCopyFiles=Files\r\n"
        L"[Second]\r\nCopyFiles=Files\r\nZolStartMenuItems=Short.Later\r\n"
        L"[Files]\r\n"
        L"[Short.Later]\r\nName=\"ZOL Later\"\r\nPath=\"" + dir + L"\\readme.txt\"\r\nGroup=\"ZOL Later\"\r\n"));

    // This run reports 6.1: nothing is created.
    {
        CInf here(inf.c_str());
        here.CreateStartMenuItems();
        EXPECT_FALSE(FileExists(programs + L"\\ZOL Tools"));
    }

    std::string output = CreateInChildOnNt4({inf, later});
    ASSERT_NE(output.find("MAJOR=4"), std::string::npos) << output;
    ASSERT_NE(output.find("PROGRAMS=" + ToUtf8(programs) + "\r\n"), std::string::npos) << output;

    // The path and the working directory are stored expanded, the arguments
    // as written.
    LinkInfo tool = ReadLink(programs + L"\\ZOL Tools\\ZOL Tool.lnk");
    ASSERT_TRUE(tool.loaded);
    EXPECT_EQ(_wcsicmp(tool.path.c_str(), (std::wstring(root) + L"\\system32\\zoltool.exe").c_str()), 0) << ToUtf8(tool.path);
    EXPECT_EQ(tool.arguments, L"--log %SystemRoot%\\zoltool.log");
    EXPECT_EQ(_wcsicmp(tool.workingDir.c_str(), (std::wstring(root) + L"\\temp").c_str()), 0) << ToUtf8(tool.workingDir);
    EXPECT_EQ(tool.description, L"ZOL Tool");

    // A second shortcut of the same group lands in the same folder.
    LinkInfo readme = ReadLink(programs + L"\\ZOL Tools\\ZOL Readme.lnk");
    ASSERT_TRUE(readme.loaded);
    EXPECT_EQ(_wcsicmp(readme.path.c_str(), (dir + L"\\readme.txt").c_str()), 0);
    EXPECT_EQ(readme.description, L"ZOL Readme");
    EXPECT_EQ(readme.arguments, L"");

    // Without a group, or without a name, there is no shortcut (and no
    // folder for it); a name that makes the path too long is skipped, one
    // that just fits is not.
    EXPECT_FALSE(FileExists(programs + L"\\ZOL Hidden.lnk"));
    EXPECT_FALSE(FileExists(programs + L"\\ZOL Tools\\ZOL Hidden.lnk"));
    EXPECT_FALSE(FileExists(programs + L"\\ZOL No Name"));
    EXPECT_TRUE(ReadLink(programs + L"\\" + group + L"\\" + fits + L".lnk").loaded);
    EXPECT_FALSE(FileExists(programs + L"\\ZOL Too Long"));

    EXPECT_FALSE(FileExists(programs + L"\\ZOL Later"));

    // A group or a name that leads out of the start menu's folder makes
    // neither a folder nor a link there.
    EXPECT_FALSE(FileExists(programs + L"\\..\\..\\ZOL Escape"));
    EXPECT_FALSE(FileExists(programs + L"\\ZOL Up.lnk"));
}
