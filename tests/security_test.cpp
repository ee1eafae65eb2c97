// What the component may touch and load: a full run writes only to its log
// folder, its staging folder and what the platform's driver installation
// writes under the Windows folder; libraries are taken from the system
// folder even when a same-named library lies beside the host or in the
// package folder and Wine is told to prefer it; the post-install command
// runs as configured.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <map>
#include <regex>
#include <string>
#include <vector>

#include <aclapi.h>
#include <sddl.h>

#include "pnphelpers.h"
#include "support/trustedfolder.h"
#include "testsupport.h"

namespace {

const wchar_t kId0E83[] = L"PCI\\VEN_8086&DEV_0E83&SUBSYS_7C41A2E9";
const wchar_t kPlantMark[] = L"C:\\zoltest\\planted-loaded.txt";
const char kInstallFailed[] = "Install:            result 0 (failure)";
const char kInstallDone[] = "Install:            result 1 (success)";
// How a folder the component creates reads back under Wine: its protected
// list maps onto mode 750, so Administrators and the owner read back as
// the Wine user and the protected flag is lost. What matters is that no
// entry for anyone else (Everyone) is left.
const char kProtectedAsWineReadsIt[] =
    "O:S-1-5-21-0-0-0-1000D:(A;OICI;FA;;;SY)(A;OICI;FA;;;S-1-5-21-0-0-0-1000)";

struct FILESTATE {
    ULONGLONG size;
    ULONGLONG written;
};
typedef std::map<std::wstring, FILESTATE> Snapshot;

std::wstring Lower(std::wstring text)
{
    for (wchar_t& c : text)
        c = static_cast<wchar_t>(towlower(c));
    return text;
}

// Every file below root with its size and last write time, keyed by its
// lower-case path.
void TakeSnapshot(const std::wstring& root, Snapshot& out)
{
    std::vector<std::wstring> pending{root};
    while (!pending.empty()) {
        std::wstring dir = pending.back();
        pending.pop_back();
        WIN32_FIND_DATAW fd;
        HANDLE h = FindFirstFileW((dir + L"\\*").c_str(), &fd);
        if (h == INVALID_HANDLE_VALUE)
            continue;
        do {
            std::wstring name = fd.cFileName;
            if (name == L"." || name == L"..")
                continue;
            std::wstring path = dir + L"\\" + name;
            if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                if (!(fd.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
                    pending.push_back(path);
                continue;
            }
            FILESTATE state{(ULONGLONG(fd.nFileSizeHigh) << 32) | fd.nFileSizeLow,
                            (ULONGLONG(fd.ftLastWriteTime.dwHighDateTime) << 32) | fd.ftLastWriteTime.dwLowDateTime};
            out[Lower(path)] = state;
        } while (FindNextFileW(h, &fd));
        FindClose(h);
    }
}

// Paths created, changed or removed between two snapshots.
std::vector<std::wstring> Changes(const Snapshot& before, const Snapshot& after)
{
    std::vector<std::wstring> changed;
    for (const auto& entry : after) {
        auto old = before.find(entry.first);
        if (old == before.end() || old->second.size != entry.second.size ||
            old->second.written != entry.second.written)
            changed.push_back(entry.first);
    }
    for (const auto& entry : before)
        if (after.find(entry.first) == after.end())
            changed.push_back(entry.first + L" (removed)");
    return changed;
}

bool StartsWith(const std::wstring& text, const std::wstring& prefix) { return text.compare(0, prefix.size(), prefix) == 0; }

// The paths of the planted copies that were loaded, as the plant marks them.
std::string PlantsLoaded()
{
    std::string bytes = zoltest::ReadBytes(kPlantMark);
    return zoltest::ToUtf8(std::wstring(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / sizeof(wchar_t)));
}

// The marking DLL under a system library's name in dir.
bool PlantCopy(const std::wstring& dir, const wchar_t* name)
{
    return CopyFileW(zoltest::BinPath(L"zolplant.dll").c_str(), (dir + L"\\" + name).c_str(), FALSE) != FALSE;
}

class Security : public ::testing::Test
{
protected:
    void SetUp() override
    {
        const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
        m_dir = zoltest::MakeTestDir(zoltest::FromUtf8(info->name()));
        ASSERT_TRUE(zoltest::CopyTree(zoltest::ExamplePath(L"chipset"), m_dir));
        ASSERT_TRUE(zoltest::InstallComponentInto(m_dir));
        DeleteFileW(kPlantMark);
    }
    std::wstring m_dir;
};

TEST_F(Security, ARunWritesOnlyItsLogsStagingAndThePlatformsDriverStore)
{
    pnptest::CSimulatedDevice device({kId0E83});
    ASSERT_FALSE(device.Instance().empty());
    Snapshot before, afterCheck, afterInstall;
    TakeSnapshot(L"C:", before);

    // The questions write nothing but the logs.
    zoltest::ProcessResult check = zoltest::RunHost(m_dir, L"--check /verbose_log");
    EXPECT_EQ(check.exitCode, 0u) << check.output;
    TakeSnapshot(L"C:", afterCheck);
    std::vector<std::wstring> changed = Changes(before, afterCheck);
    EXPECT_FALSE(changed.empty());
    for (const std::wstring& path : changed)
        EXPECT_TRUE(StartsWith(path, L"c:\\devavoror\\log\\")) << zoltest::ToUtf8(path);

    // The installation adds its staging folder, its record's folder (the
    // kept package) and the kept copy its uninstall entry runs; the
    // platform's driver installation copies the INF and the driver's files.
    zoltest::ProcessResult install = zoltest::RunHost(m_dir, L"/verbose_log");
    EXPECT_EQ(install.exitCode, 0u) << install.output;
    TakeSnapshot(L"C:", afterInstall);
    changed = Changes(afterCheck, afterInstall);
    EXPECT_NE(std::find(changed.begin(), changed.end(), L"c:\\devavoror\\pnpdrvs\\zolchip.sys"), changed.end());
    const wchar_t kKeptHost[] = L"c:\\program files\\zolcomp\\zolchip.inf_1.2.3.0\\zolhost.exe";
    EXPECT_NE(std::find(changed.begin(), changed.end(), kKeptHost), changed.end());
    for (const std::wstring& path : changed) {
        bool documented = false;
        for (const wchar_t* place : {L"c:\\devavoror\\log\\", L"c:\\devavoror\\pnpdrvs\\",
                                     L"c:\\devavoror\\packages\\zolchip.inf_1.2.3.0\\", L"c:\\windows\\inf\\",
                                     L"c:\\windows\\system32\\drivers\\", L"c:\\devavoror\\zolcomp-install.lock",
                                     L"c:\\program files\\zolcomp\\zolchip.inf_1.2.3.0\\"})
            documented = documented || StartsWith(path, place);
        EXPECT_TRUE(documented) << zoltest::ToUtf8(path);
    }
}

// A library named like the device installation library, lying beside a host
// that runs from the package folder, is never loaded: the component names
// the system folder's copy by its full path.
TEST_F(Security, ALibraryPlantedBesideTheHostIsNotLoaded)
{
    pnptest::CSimulatedDevice device({kId0E83});
    ASSERT_FALSE(device.Instance().empty());
    ASSERT_TRUE(CopyFileW(zoltest::BinPath(L"zolhost.exe").c_str(), (m_dir + L"\\zolhost.exe").c_str(), FALSE));
    ASSERT_TRUE(CopyFileW(zoltest::BinPath(L"zolplant.dll").c_str(), (m_dir + L"\\newdev.dll").c_str(), FALSE));
    // Wine prefers its own libraries; this makes it take a native one
    // wherever the search finds it first.
    zoltest::CDllOverride preferNative(L"newdev", L"native,builtin");

    // The plant does load where a search by name reaches it.
    SetDllDirectoryW(m_dir.c_str());
    HMODULE byName = LoadLibraryW(L"newdev.dll");
    SetDllDirectoryW(nullptr);
    ASSERT_NE(byName, nullptr);
    FreeLibrary(byName);
    ASSERT_TRUE(zoltest::FileExists(kPlantMark));
    ASSERT_TRUE(DeleteFileW(kPlantMark));

    zoltest::ProcessResult run =
        zoltest::RunProcess(L"\"" + m_dir + L"\\zolhost.exe\" \"" + m_dir + L"\\zolcomp.dll\"", m_dir);
    EXPECT_EQ(run.exitCode, 0u) << run.output;
    EXPECT_FALSE(zoltest::FileExists(kPlantMark)) << zoltest::ReadBytes(kPlantMark);
    // The real library bound the device.
    EXPECT_NE(zoltest::ListDevices().find("zolchip.inf"), std::string::npos);
}

// version.dll and newdev.dll planted beside the host and in the package
// folder, where a folder open to other users lets them be put: neither runs,
// with the host in its own folder or in the package folder, and the
// installation succeeds with the system's libraries.
TEST_F(Security, VersionAndNewdevPlantedBesideTheHostAndInThePackageDoNotRun)
{
    pnptest::CSimulatedDevice device({kId0E83});
    ASSERT_FALSE(device.Instance().empty());
    std::wstring hostDir = zoltest::MakeTestDir(L"host folder");
    ASSERT_TRUE(CopyFileW(zoltest::BinPath(L"zolhost.exe").c_str(), (hostDir + L"\\zolhost.exe").c_str(), FALSE));
    ASSERT_TRUE(PlantCopy(hostDir, L"version.dll") && PlantCopy(hostDir, L"newdev.dll"));
    ASSERT_TRUE(PlantCopy(m_dir, L"version.dll") && PlantCopy(m_dir, L"newdev.dll"));
    ASSERT_TRUE(CopyFileW(zoltest::BinPath(L"zolhost.exe").c_str(), (m_dir + L"\\zolhost.exe").c_str(), FALSE));

    // Wine prefers its own libraries; this makes it take a native one
    // wherever the search finds it first, as Windows does for any library
    // that is not a known DLL.
    zoltest::CDllOverride preferVersion(L"version", L"native,builtin"), preferNewdev(L"newdev", L"native,builtin");

    // Each plant does run where a search by name reaches it: newdev.dll
    // here, version.dll in a program beside it that imports user32 (Wine's
    // imports version.dll).
    SetDllDirectoryW(hostDir.c_str());
    HMODULE byName = LoadLibraryW(L"newdev.dll");
    SetDllDirectoryW(nullptr);
    ASSERT_NE(byName, nullptr);
    FreeLibrary(byName);
    ASSERT_TRUE(DeleteFileW(kPlantMark));
    ASSERT_TRUE(CopyFileW(zoltest::BinPath(L"devsim.exe").c_str(), (hostDir + L"\\devsim.exe").c_str(), FALSE));
    zoltest::RunProcess(L"\"" + hostDir + L"\\devsim.exe\" list", hostDir);
    ASSERT_EQ(PlantsLoaded(), zoltest::ToUtf8(hostDir + L"\\version.dll"));
    ASSERT_TRUE(DeleteFileW(kPlantMark));

    for (const std::wstring& host : {hostDir + L"\\zolhost.exe", m_dir + L"\\zolhost.exe"}) {
        SCOPED_TRACE(zoltest::ToUtf8(host));
        zoltest::ProcessResult run = zoltest::RunProcess(L"\"" + host + L"\" \"" + m_dir + L"\\zolcomp.dll\"", m_dir);
        EXPECT_EQ(run.exitCode, 0u) << run.output;
        EXPECT_NE(run.output.find("Install:            result 1 (success)"), std::string::npos) << run.output;
        EXPECT_FALSE(zoltest::FileExists(kPlantMark)) << PlantsLoaded();
        DeleteFileW(kPlantMark);
    }
    EXPECT_NE(zoltest::ListDevices().find("zolchip.inf"), std::string::npos);
}

// The post-install command opens exactly the configured file, in the
// configured folder, both with spaces and environment variables.
TEST_F(Security, PostInstallCommandRunsAsConfigured)
{
    pnptest::CSimulatedDevice device({kId0E83});
    std::wstring tools = zoltest::MakeTestDir(L"post tools"), work = zoltest::MakeTestDir(L"post work");
    ASSERT_TRUE(zoltest::WriteBytes(tools + L"\\run me.bat", "@echo %CD%> ran.txt\r\n"));
    // What a command line split at the first space would start instead.
    ASSERT_TRUE(zoltest::WriteBytes(L"C:\\zoltest\\post.bat", "@echo wrong> C:\\zoltest\\wrong.txt\r\n"));
    std::string xml = "<?xml version=\"1.0\"?>\r\n<zol_install>\r\n"
                      "  <inf_information><inf_file filename=\"zolchip.inf\" type=\"PNP\"/></inf_information>\r\n"
                      "  <ShellExecute><ShellExecute_Info file=\"%SystemDrive%\\zoltest\\post tools\\run me.bat\" "
                      "DefaultDir=\"%SystemDrive%\\zoltest\\post work\"/></ShellExecute>\r\n</zol_install>\r\n";
    ASSERT_TRUE(zoltest::WriteBytes(m_dir + L"\\install.xml", xml));

    zoltest::ProcessResult run = zoltest::RunHost(m_dir, L"");
    EXPECT_EQ(run.exitCode, 0u) << run.output;
    // The command runs on its own; wait until it has written its line.
    std::string ran;
    for (int i = 0; i < 200 && (ran = zoltest::ReadBytes(work + L"\\ran.txt")).find('\n') == std::string::npos; ++i)
        Sleep(50);
    EXPECT_EQ(ran, "C:\\zoltest\\post work\r\n");
    EXPECT_FALSE(zoltest::FileExists(tools + L"\\ran.txt"));
    EXPECT_FALSE(zoltest::FileExists(m_dir + L"\\ran.txt"));
    EXPECT_FALSE(zoltest::FileExists(L"C:\\zoltest\\wrong.txt"));
}

} // namespace

namespace {

// The folders below the drive root as a local user may prepare them before
// an elevated run: links to a folder of the user's, and folders open to
// everyone.
class TrustedFolders : public Security
{
protected:
    void SetUp() override
    {
        Security::SetUp();
        zoltest::RemoveTree(L"C:\\devavoror");
        m_elsewhere = zoltest::MakeTestDir(L"elsewhere");
    }
    void TearDown() override
    {
        // Links are removed from the Linux side: the platform follows them.
        for (const wchar_t* link : {L"C:\\devavoror", L"C:\\devavoror\\log", L"C:\\devavoror\\pnpdrvs"})
            zoltest::RemoveUnixLink(link);
        zoltest::RemoveTree(L"C:\\devavoror");
    }
    std::wstring m_elsewhere;
};

} // namespace

// A link at each folder is never written through. Wine opens what a link
// points to even when asked for the link itself, so there the component
// cannot move the link aside without moving the user's folder: it leaves
// it alone and does without that folder (Windows renames the link). Without
// \DEVAVOROR there is no install lock either: the host does not call
// Install and says why.
TEST_F(TrustedFolders, ALinkAtAFolderIsNeverWrittenThrough)
{
    pnptest::CSimulatedDevice device({kId0E83});
    ASSERT_FALSE(device.Instance().empty());
    struct LINKCASE {
        const wchar_t* folder;
        bool logWritten;
        const char* outcome;
        const char* message; // the refusal's message, or null
    };
    const char kLockRefused[] = "Install:            not called (another installation is in progress)";
    for (const LINKCASE& c :
         {LINKCASE{L"C:\\devavoror\\log", false, kInstallDone, nullptr},
          LINKCASE{L"C:\\DEVAVOROR\\pnpdrvs", true, kInstallFailed, "An error occurred during installation."},
          LINKCASE{L"C:\\devavoror", false, kLockRefused,
                   "The install lock cannot be taken: its folder cannot be made one only administrators can change: "
                   "C:\\DEVAVOROR is a link (reparse point) and cannot be moved aside."}}) {
        SCOPED_TRACE(zoltest::ToUtf8(c.folder));
        TearDown();
        m_elsewhere = zoltest::MakeTestDir(L"elsewhere");
        if (wcscmp(c.folder, L"C:\\devavoror") != 0) {
            ASSERT_TRUE(CreateDirectoryW(L"C:\\devavoror", nullptr));
        }
        ASSERT_TRUE(zoltest::MakeUnixLink(m_elsewhere, c.folder))
            << zoltest::UnixPath(m_elsewhere) << " " << zoltest::UnixPath(c.folder);
        ASSERT_EQ(GetFileAttributesW(c.folder), DWORD(FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT));

        zoltest::ProcessResult run = zoltest::RunHost(m_dir, L"--lang en /verbose_log");
        std::string through;
        for (const std::wstring& name : pnptest::FilesIn(m_elsewhere))
            through += zoltest::ToUtf8(name) + " ";
        EXPECT_EQ(through, "");
        EXPECT_EQ(GetFileAttributesW(c.folder), DWORD(FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT));
        EXPECT_NE(run.output.find(c.outcome), std::string::npos) << run.output;
        std::string log = zoltest::ReadMainLog();
        EXPECT_EQ(!log.empty(), c.logWritten) << log;
        if (c.message) {
            EXPECT_NE(run.output.find(c.message), std::string::npos) << run.output;
        }
        if (c.logWritten) {
            EXPECT_NE(log.find("\r\n**ERROR** - Staging folder not trusted: C:\\DEVAVOROR\\pnpdrvs\r\n"),
                      std::string::npos)
                << log;
            // The device shows why no update was started.
            EXPECT_NE(run.output.find("staging folder not trusted"), std::string::npos) << run.output;
        }
    }
}

// A folder another account left open to everyone may hold what that
// account put there (folders it owns, files it keeps open): it is moved
// aside whole and made anew. The shared log's history moves with it, and
// the new log says where it went.
TEST_F(TrustedFolders, AFolderOpenToEveryoneIsMovedAsideWhole)
{
    pnptest::CSimulatedDevice device({kId0E83});
    for (const wchar_t* open : {L"C:\\devavoror", L"C:\\devavoror\\log"}) {
        SCOPED_TRACE(zoltest::ToUtf8(open));
        TearDown();
        for (const wchar_t* folder : {L"C:\\devavoror", L"C:\\devavoror\\log", L"C:\\devavoror\\pnpdrvs"})
            ASSERT_TRUE(CreateDirectoryW(folder, nullptr));
        ASSERT_TRUE(zoltest::UnixChmod(open, "777", "(A;OICI;0x1301ff;;;WD)")) << zoltest::ReadSecurity(open);
        ASSERT_TRUE(zoltest::WriteBytes(zoltest::MainLogPath(), "history\r\n"));

        zoltest::ProcessResult run = zoltest::RunHost(m_dir, L"--lang en");
        EXPECT_NE(run.output.find(kInstallDone), std::string::npos) << run.output;
        std::string log = zoltest::ReadMainLog();
        const std::regex moved(std::string("^\\*\\*WARNING\\*\\* - Untrusted folder moved aside: ") +
                               (wcscmp(open, L"C:\\devavoror") == 0 ? "C:\\\\devavoror" : "C:\\\\devavoror\\\\log") +
                               " -> (\\S+\\.untrusted-[0-9]{8}T[0-9]{6}-[0-9a-f]{8})\r\n");
        std::smatch match;
        ASSERT_TRUE(std::regex_search(log, match, moved)) << log;
        // One line names where the history went; it is there, untouched.
        EXPECT_EQ(log.find("**WARNING**", 1), std::string::npos) << log;
        std::wstring aside = zoltest::FromUtf8(match[1].str());
        std::wstring oldLog = wcscmp(open, L"C:\\devavoror") == 0 ? aside + L"\\log\\zolsetup.log"
                                                                  : aside + L"\\zolsetup.log";
        EXPECT_EQ(zoltest::ReadBytes(oldLog), "history\r\n");
        // The folders made anew (the open one and, in place of its own, those
        // below it) allow SYSTEM and Administrators alone.
        for (const wchar_t* folder : {L"C:\\devavoror", L"C:\\devavoror\\log", L"C:\\devavoror\\pnpdrvs"}) {
            if (wcsncmp(folder, open, wcslen(open)) == 0) {
                EXPECT_EQ(zoltest::ReadSecurity(folder), kProtectedAsWineReadsIt) << zoltest::ToUtf8(folder);
            }
        }

        // Once made anew, a later run finds nothing to change.
        size_t mark = zoltest::ReadMainLog().size();
        run = zoltest::RunHost(m_dir, L"--lang en");
        EXPECT_EQ(zoltest::ReadMainLog().find("**WARNING**", mark), std::string::npos) << zoltest::ReadMainLog();
        zoltest::RemoveTree(aside);
    }
}

// A file where a folder belongs is no folder of ours: it is renamed aside
// as it is, content and all, and a protected folder takes its place. (Wine
// reports every owner as its own user, so this is the move aside that Wine
// can show; the owner cases are judged in FolderVerdicts.)
TEST_F(TrustedFolders, AFileInPlaceOfAFolderIsMovedAsideKeepingItsContent)
{
    pnptest::CSimulatedDevice device({kId0E83});
    ASSERT_TRUE(CreateDirectoryW(L"C:\\devavoror", nullptr));
    ASSERT_TRUE(zoltest::WriteBytes(L"C:\\devavoror\\pnpdrvs", "a user's file\r\n"));

    zoltest::ProcessResult run = zoltest::RunHost(m_dir, L"--lang en");
    EXPECT_NE(run.output.find(kInstallDone), std::string::npos) << run.output;
    static const std::regex moved("\r\n\\*\\*WARNING\\*\\* - Untrusted folder moved aside: C:\\\\DEVAVOROR\\\\pnpdrvs -> "
                                  "(C:\\\\DEVAVOROR\\\\pnpdrvs\\.untrusted-[0-9]{8}T[0-9]{6}-[0-9a-f]{8})\r\n");
    std::string log = zoltest::ReadMainLog();
    std::smatch match;
    ASSERT_TRUE(std::regex_search(log, match, moved)) << log;
    EXPECT_EQ(zoltest::ReadBytes(zoltest::FromUtf8(match[1].str())), "a user's file\r\n");
    EXPECT_EQ(zoltest::ReadSecurity(L"C:\\devavoror\\pnpdrvs"), kProtectedAsWineReadsIt);
}

// The folders a run creates allow SYSTEM and Administrators alone, and a
// normal run's log has no line about them.
TEST_F(TrustedFolders, FoldersTheComponentCreatesHaveExactlyTwoEntries)
{
    pnptest::CSimulatedDevice device({kId0E83});
    zoltest::ProcessResult run = zoltest::RunHost(m_dir, L"--lang en");
    EXPECT_NE(run.output.find(kInstallDone), std::string::npos) << run.output;
    for (const wchar_t* folder : {L"C:\\devavoror", L"C:\\devavoror\\log", L"C:\\devavoror\\pnpdrvs"})
        EXPECT_EQ(zoltest::ReadSecurity(folder), kProtectedAsWineReadsIt) << zoltest::ToUtf8(folder);
    EXPECT_EQ(zoltest::ReadMainLog().find("**WARNING**"), std::string::npos) << zoltest::ReadMainLog();
    // Named by its short name, a folder is still judged as itself, not as a
    // handle that went elsewhere.
    wchar_t shortName[MAX_PATH] = {};
    ASSERT_GT(GetShortPathNameW(L"C:\\devavoror\\pnpdrvs", shortName, MAX_PATH), 0u);
    ASSERT_NE(wcschr(shortName, L'~'), nullptr) << zoltest::ToUtf8(shortName);
    std::wstring why;
    EXPECT_EQ(JudgeFolderAt(shortName, &why), FOLDER_TRUSTED) << zoltest::ToUtf8(why);
}

// Another process that takes the main log's append lock and never lets it
// go delays each writer by a bounded wait only: the install ends and its
// lines are in the log after the other process's.
TEST_F(Security, AnInstallEndsWhileAnotherProcessHoldsTheLogLockForEver)
{
    pnptest::CSimulatedDevice device({kId0E83});
    zoltest::ClearLogs();
    CreateDirectoryW(L"C:\\devavoror", nullptr);
    CreateDirectoryW(zoltest::LogDir().c_str(), nullptr);
    HANDLE log = CreateFileW(zoltest::MainLogPath().c_str(), GENERIC_READ | FILE_APPEND_DATA,
                             FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS, 0, nullptr);
    ASSERT_NE(log, INVALID_HANDLE_VALUE);
    OVERLAPPED range = {};
    range.Offset = 0xFFFFFFF0u;
    range.OffsetHigh = 0x3FFFFFFFu;
    ASSERT_TRUE(LockFileEx(log, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &range));
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(log, "held\r\n", 6, &written, nullptr));

    zoltest::ProcessResult run = zoltest::RunHost(m_dir, L"--lang en", 600000);
    UnlockFileEx(log, 0, 1, 0, &range);
    CloseHandle(log);
    EXPECT_EQ(run.exitCode, 0u) << run.output;
    std::string text = zoltest::ReadMainLog();
    EXPECT_EQ(text.compare(0, 6, "held\r\n"), 0) << text;
    EXPECT_NE(text.find("Initiating installation... \r\n", 6), std::string::npos) << text;
}

// A user who keeps something of theirs open where \DEVAVOROR belongs (here a
// file, held without delete sharing) stops it being moved aside: no log can
// be written and no install lock taken. The run is refused rather than
// going on unlogged, and the report and the console say why.
TEST_F(TrustedFolders, AHeldDevavororMakesNoSilentRun)
{
    std::wstring legacy = zoltest::MakeTestDir(L"held legacy");
    ASSERT_TRUE(zoltest::CopyTree(zoltest::ExamplePath(L"legacy"), legacy));
    ASSERT_TRUE(zoltest::WriteBytes(L"C:\\devavoror", "a user's file\r\n"));
    HANDLE held = CreateFileW(L"C:\\devavoror", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);

    zoltest::ProcessResult run = zoltest::RunHost(legacy, L"--json");
    CloseHandle(held);
    EXPECT_EQ(run.exitCode, 1618u) << run.output;
    const std::string why = "the log folder cannot be made one only administrators can change: C:\\\\devavoror is "
                            "not a folder and cannot be moved aside: error 0x00000020 ";
    EXPECT_NE(run.output.find(",\"log\":{\"written\":false,\"reason\":\"" + why), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("\"in_progress\":true,\"in_progress_reason\":\"lock_unavailable\"}"), std::string::npos)
        << run.output;
    EXPECT_NE(run.output.find("zolhost: the log cannot be written: the log folder cannot be made one only "
                              "administrators can change: C:\\devavoror is not a folder"),
              std::string::npos)
        << run.output;
    EXPECT_EQ(zoltest::ReadBytes(L"C:\\devavoror"), "a user's file\r\n");

    // Let go, the file is moved aside and the run is logged.
    run = zoltest::RunHost(legacy, L"--json");
    EXPECT_EQ(run.exitCode, 0u) << run.output;
    EXPECT_NE(run.output.find(",\"log\":{\"written\":true,\"reason\":null}"), std::string::npos) << run.output;
    EXPECT_NE(zoltest::ReadMainLog().find("**WARNING** - Untrusted folder moved aside: C:\\devavoror -> "),
              std::string::npos)
        << zoltest::ReadMainLog();
}

// zolhost run from a folder other accounts may change would read files they
// can swap between its reads: it refuses before loading anything, unless
// told it is being tried out as a user.
TEST_F(Security, ZolhostRefusesAComponentOrPackageFolderOthersMayChange)
{
    ASSERT_TRUE(zoltest::UnixChmod(m_dir, "777", "(A;OICI;0x1301ff;;;WD)")) << zoltest::ReadSecurity(m_dir);
    const size_t logged = zoltest::ReadMainLog().size();
    zoltest::ProcessResult run = zoltest::RunHost(m_dir, L"--check");
    EXPECT_EQ(run.exitCode, 87u) << run.output;
    EXPECT_EQ(run.output, "zolhost: the component's folder " + zoltest::ToUtf8(m_dir) +
                              " has an access list that lets other accounts change it: run it from a folder only "
                              "administrators can change (--allow-untrusted-folder runs it anyway, for trying it as "
                              "a user)\r\n");
    EXPECT_EQ(zoltest::ReadMainLog().size(), logged);

    run = zoltest::RunHost(m_dir, L"--check --allow-untrusted-folder");
    EXPECT_EQ(run.exitCode, 0u) << run.output;
    EXPECT_NE(run.output.find("Warning:            The run goes on (--allow-untrusted-folder) although the "
                              "component's folder " + zoltest::ToUtf8(m_dir) + " has an access list"),
              std::string::npos)
        << run.output;

    // A package folder that is a link, with the component in a folder of
    // its own.
    std::wstring linked = zoltest::MakeTestDir(L"linkedpackage");
    ASSERT_TRUE(RemoveDirectoryW(linked.c_str()));
    ASSERT_TRUE(zoltest::MakeUnixLink(m_dir, linked));
    std::wstring own = zoltest::MakeTestDir(L"componentonly");
    ASSERT_TRUE(zoltest::InstallComponentInto(own));
    run = zoltest::RunProcess(L"\"" + zoltest::BinPath(L"zolhost.exe") + L"\" --check --package \"" + linked + L"\" \"" +
                              own + L"\\zolcomp.dll\"");
    EXPECT_EQ(run.exitCode, 87u) << run.output;
    EXPECT_EQ(run.output.rfind("zolhost: the package folder " + zoltest::ToUtf8(linked) + " is a link (reparse point)", 0),
              0u)
        << run.output;
    EXPECT_TRUE(zoltest::RemoveUnixLink(linked));
}

// The decision on an existing folder, with owners and lists Wine cannot
// produce: it maps every owner to its own user and has no access checks.
TEST(FolderVerdicts, LinksForeignOwnersAndOpenListsAreNotTrusted)
{
    std::vector<BYTE> selfStorage;
    PSID self = ProcessUserSid(selfStorage);
    ASSERT_NE(self, nullptr);
    struct VERDICTCASE {
        const wchar_t* sddl;
        DWORD pathAttributes;
        DWORD handleAttributes;
        FolderVerdict expected;
    };
    const DWORD dir = FILE_ATTRIBUTE_DIRECTORY, link = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT;
    const VERDICTCASE cases[] = {
        {L"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)", dir, dir, FOLDER_TRUSTED},
        {L"O:SYD:(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;WD)", dir, dir, FOLDER_TRUSTED},
        // A denied right is no right.
        {L"O:BAD:(D;OICI;FA;;;WD)(A;OICI;FA;;;BA)", dir, dir, FOLDER_TRUSTED},
        // Links, whether the path or the handle shows them, and files.
        {L"O:BAD:P(A;OICI;FA;;;BA)", link, dir, FOLDER_MOVE_ASIDE},
        {L"O:BAD:P(A;OICI;FA;;;BA)", dir, link, FOLDER_MOVE_ASIDE},
        {L"O:BAD:P(A;OICI;FA;;;BA)", FILE_ATTRIBUTE_ARCHIVE, FILE_ATTRIBUTE_ARCHIVE, FOLDER_MOVE_ASIDE},
        // An owner who is a plain user, even with an access list that
        // shuts them out.
        {L"O:S-1-5-21-1-2-3-1001D:P(A;OICI;FA;;;BA)", dir, dir, FOLDER_MOVE_ASIDE},
        {L"O:AUD:P(A;OICI;FA;;;BA)", dir, dir, FOLDER_MOVE_ASIDE},
        // Others may write, delete, change permissions or take ownership,
        // here or (inherit-only) in what is created inside.
        {L"O:BAD:(A;OICI;FA;;;BA)(A;OICI;FA;;;WD)", dir, dir, FOLDER_PROTECT},
        {L"O:BAD:(A;OICI;FA;;;BA)(A;OICIIO;0x1301bf;;;AU)", dir, dir, FOLDER_PROTECT},
        {L"O:BAD:(A;OICI;FA;;;BA)(A;CI;0x4;;;BU)", dir, dir, FOLDER_PROTECT},
        {L"O:BAD:(A;OICI;FA;;;BA)(A;;WD;;;S-1-5-21-1-2-3-1001)", dir, dir, FOLDER_PROTECT},
        {L"O:BAD:(A;OICI;FA;;;BA)(A;;WO;;;BU)", dir, dir, FOLDER_PROTECT},
        {L"O:BAD:(A;OICI;FA;;;BA)(A;;SD;;;BU)", dir, dir, FOLDER_PROTECT},
        {L"O:BAD:(A;OICI;FA;;;BA)(A;;GW;;;BU)", dir, dir, FOLDER_PROTECT},
        // No list at all lets everyone in.
    };
    for (const VERDICTCASE& c : cases) {
        SCOPED_TRACE(zoltest::ToUtf8(c.sddl));
        PSECURITY_DESCRIPTOR sd = nullptr;
        ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(c.sddl, SDDL_REVISION_1, &sd, nullptr));
        FOLDERFACTS facts = {};
        facts.exists = true;
        facts.pathAttributes = c.pathAttributes;
        facts.handleAttributes = c.handleAttributes;
        BOOL present = FALSE, defaulted = FALSE;
        ASSERT_TRUE(GetSecurityDescriptorOwner(sd, &facts.owner, &defaulted));
        ASSERT_TRUE(GetSecurityDescriptorDacl(sd, &present, &facts.dacl, &defaulted));
        facts.daclRead = true;
        EXPECT_EQ(JudgeFolder(facts, self), c.expected);
        LocalFree(sd);
    }
    // No list at all lets everyone in.
    FOLDERFACTS open = {};
    open.exists = open.daclRead = true;
    open.pathAttributes = open.handleAttributes = FILE_ATTRIBUTE_DIRECTORY;
    ASSERT_TRUE(ConvertStringSidToSidW(L"BA", &open.owner));
    EXPECT_EQ(JudgeFolder(open, self), FOLDER_PROTECT);
    LocalFree(open.owner);
    FOLDERFACTS missing = {};
    EXPECT_EQ(JudgeFolder(missing, self), FOLDER_MISSING);
    // An owner or list that could not be read is not trusted.
    FOLDERFACTS unread = {};
    unread.exists = true;
    unread.pathAttributes = unread.handleAttributes = FILE_ATTRIBUTE_DIRECTORY;
    EXPECT_EQ(JudgeFolder(unread, self), FOLDER_MOVE_ASIDE);
}
