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
#include <string>
#include <vector>

#include "pnphelpers.h"
#include "testsupport.h"

namespace {

const wchar_t kId0E83[] = L"PCI\\VEN_8086&DEV_0E83&SUBSYS_7C41A2E9";
const wchar_t kPlantMark[] = L"C:\\zoltest\\planted-loaded.txt";

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

    // The installation adds its staging folder; the platform's driver
    // installation copies the INF and the driver's files.
    zoltest::ProcessResult install = zoltest::RunHost(m_dir, L"/verbose_log");
    EXPECT_EQ(install.exitCode, 0u) << install.output;
    TakeSnapshot(L"C:", afterInstall);
    changed = Changes(afterCheck, afterInstall);
    EXPECT_NE(std::find(changed.begin(), changed.end(), L"c:\\devavoror\\pnpdrvs\\zolchip.sys"), changed.end());
    for (const std::wstring& path : changed) {
        bool documented = false;
        for (const wchar_t* place : {L"c:\\devavoror\\log\\", L"c:\\devavoror\\pnpdrvs\\", L"c:\\windows\\inf\\",
                                     L"c:\\windows\\system32\\drivers\\"})
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
