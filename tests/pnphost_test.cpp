// The plug-and-play installation as the host sees it: zolhost loads the
// component in a copy of the chipset sample package and installs it on the
// Wine prefix's simulated devices.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "hostreport.h"
#include "inf/servicecontrol.h"
#include "messages.h"
#include "pnphelpers.h"
#include "testsupport.h"

using namespace pnptest;

namespace {

const wchar_t kId0E83[] = L"PCI\\VEN_8086&DEV_0E83&SUBSYS_7C41A2E9";
const wchar_t kId0EA8[] = L"PCI\\VEN_8086&DEV_0EA8&SUBSYS_7C41A2E9";

using zoltest::CDllOverride;

struct HostRun {
    DWORD exitCode;
    std::string report;
    std::string result;  // "1 (success)"
    std::string message; // the install message, UTF-8
};

std::string After(const std::string& report, const std::string& label)
{
    for (const std::string& line : zoltest::Lines(report)) {
        if (line.compare(0, label.size(), label) == 0)
            return line.substr(label.size());
    }
    return "<missing " + label + ">";
}

std::string Replace(std::string text, const std::string& from, const std::string& to)
{
    size_t pos = text.find(from);
    if (pos != std::string::npos)
        text.replace(pos, from.size(), to);
    return text;
}

// The block "devsim list" prints for one device.
std::string DeviceBlock(const std::string& list, const std::wstring& instance)
{
    std::string id = zoltest::ToUtf8(instance), block;
    bool inside = false;
    for (const std::string& line : zoltest::Lines(list)) {
        if (!line.empty() && line[0] != ' ')
            inside = line == id;
        if (inside)
            block += line + "\n";
    }
    return block;
}

// What an uninstall changes, as text: its registry keys and every file below
// the folders an install writes, with a digest of its bytes.
std::string MachineState()
{
    std::string state = ExportUninstallKeys();
    std::vector<std::wstring> folders{L"C:\\DEVAVOROR\\packages", StagingFolder(), L"C:\\windows\\inf",
                                      L"C:\\windows\\system32\\drivers"};
    while (!folders.empty()) {
        std::wstring folder = folders.back();
        folders.pop_back();
        for (const std::wstring& name : FilesIn(folder)) {
            std::string bytes = zoltest::ReadBytes(folder + L"\\" + name);
            state += zoltest::ToUtf8(folder + L"\\" + name) + " " + std::to_string(std::hash<std::string>()(bytes)) +
                     "\n";
        }
        WIN32_FIND_DATAW fd;
        HANDLE h = FindFirstFileW((folder + L"\\*").c_str(), &fd);
        for (BOOL more = h != INVALID_HANDLE_VALUE; more; more = FindNextFileW(h, &fd)) {
            if ((fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && fd.cFileName[0] != L'.')
                folders.push_back(folder + L"\\" + fd.cFileName);
        }
        if (h != INVALID_HANDLE_VALUE)
            FindClose(h);
    }
    return state;
}

class PnPHost : public ::testing::Test
{
protected:
    void SetUp() override
    {
        const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
        m_dir = zoltest::MakeTestDir(zoltest::FromUtf8(info->name()));
        ASSERT_TRUE(zoltest::CopyTree(zoltest::ExamplePath(L"chipset"), m_dir));
        zoltest::RemoveTree(StagingFolder());
        zoltest::ClearLogs();
    }

    HostRun Host(const std::wstring& args, DWORD timeoutMs = 120000) { return HostIn(m_dir, args, timeoutMs); }
    HostRun HostIn(const std::wstring& dir, const std::wstring& args, DWORD timeoutMs = 120000)
    {
        zoltest::ProcessResult r = zoltest::RunHost(dir, args, timeoutMs);
        HostRun run{r.exitCode, r.output, After(r.output, "Install:            result "), ""};
        std::string message = After(r.output, "Install message:    ");
        if (message.size() >= 2 && message.front() == '"' && message.back() == '"')
            message = message.substr(1, message.size() - 2);
        run.message = message;
        return run;
    }
    void SetRebootRequired()
    {
        std::wstring path = FindPackageDefinition();
        std::string xml = zoltest::ReadBytes(path);
        std::string changed = Replace(xml, "<reboot_required value=\"no\"/>", "<reboot_required value=\"yes\"/>");
        ASSERT_NE(xml, changed);
        ASSERT_TRUE(zoltest::WriteBytes(path, changed));
    }
    void WriteInstallXml(const std::wstring& type, const std::wstring& shellExecute = std::wstring())
    {
        std::wstring xml = L"<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<zol_install>\r\n"
                           L"  <inf_information><inf_file filename=\"zolchip.inf\" type=\"" + type +
                           L"\"/></inf_information>\r\n";
        if (!shellExecute.empty())
            xml += L"  <ShellExecute><ShellExecute_Info file=\"" + shellExecute + L"\" DefaultDir=\"" + m_dir +
                   L"\"/></ShellExecute>\r\n";
        xml += L"</zol_install>\r\n";
        ASSERT_TRUE(zoltest::WriteUtf8(m_dir + L"\\install.xml", xml));
    }
    std::wstring FindPackageDefinition()
    {
        WIN32_FIND_DATAW fd;
        HANDLE h = FindFirstFileW((m_dir + L"\\qx*.xml").c_str(), &fd);
        if (h == INVALID_HANDLE_VALUE)
            return std::wstring();
        FindClose(h);
        return m_dir + L"\\" + fd.cFileName;
    }

    std::wstring m_dir;
};

} // namespace

TEST_F(PnPHost, NoChipsetDevicePresentFailsAndStagesNothing)
{
    HostRun run = Host(L"--lang en");
    EXPECT_EQ(run.exitCode, 1603u) << run.report;
    EXPECT_EQ(run.result, "0 (failure)");
    EXPECT_EQ(run.message, "No devices were found to install.");
    EXPECT_TRUE(FilesIn(StagingFolder()).empty());
    EXPECT_NE(zoltest::ReadMainLog().find("Initiating installation... \r\n"), std::string::npos);

    HostRun japanese = Host(L"--lang ja");
    // "インストールするデバイスが見つかりませんでした。"
    EXPECT_EQ(japanese.message, zoltest::ToUtf8(L"\u30A4\u30F3\u30B9\u30C8\u30FC\u30EB\u3059\u308B\u30C7\u30D0\u30A4"
                                                L"\u30B9\u304C\u898B\u3064\u304B\u308A\u307E\u305B\u3093\u3067\u3057"
                                                L"\u305F\u3002"));
}

TEST_F(PnPHost, PresentDevicesAreBoundAndResultIs1)
{
    CSimulatedDevice first({std::wstring(kId0E83) + L"&REV_04", kId0E83});
    CSimulatedDevice second({kId0EA8});
    ASSERT_FALSE(first.Instance().empty());
    ASSERT_FALSE(second.Instance().empty());

    HostRun run = Host(L"--lang de");
    EXPECT_EQ(run.exitCode, 0u) << run.report;
    EXPECT_EQ(run.result, "1 (success)");
    EXPECT_EQ(run.message, "");

    std::string list = zoltest::ListDevices();
    for (const CSimulatedDevice* device : {&first, &second}) {
        std::string block = DeviceBlock(list, device->Instance());
        EXPECT_NE(block.find("service:      zolchip\n"), std::string::npos) << block;
        EXPECT_NE(block.find("zolchip.inf"), std::string::npos) << block;
    }
    EXPECT_EQ(FilesIn(StagingFolder()), (std::vector<std::wstring>{L"zolchip.cfg", L"zolchip.inf", L"zolchip.sys",
                                                        L"zolchip_amd64.cat", L"zolchip_src.dat",
                                                        L"zolchip_x86.cat"}));
    EXPECT_TRUE(zoltest::FileExists(L"C:\\windows\\system32\\drivers\\zolchip.sys"));
}

TEST_F(PnPHost, PackageFolderOptionInstallsFromAnotherFolder)
{
    CSimulatedDevice device({kId0E83});
    ASSERT_FALSE(device.Instance().empty());
    ASSERT_TRUE(zoltest::InstallComponentInto(m_dir));
    std::wstring elsewhere = zoltest::MakeTestDir(L"pnphost_elsewhere");
    zoltest::ProcessResult r = zoltest::RunProcess(L"\"" + zoltest::BinPath(L"zolhost.exe") + L"\" --sta --package \"" +
                                                       m_dir + L"\" \"" + m_dir + L"\\zolcomp.dll\"",
                                                   elsewhere);
    EXPECT_EQ(r.exitCode, 0u) << r.output;
    EXPECT_EQ(After(r.output, "Install:            result "), "1 (success)") << r.output;
    EXPECT_EQ(r.output.find("Warning:"), std::string::npos) << r.output;
    EXPECT_EQ(After(r.output, "Host apartment:     "), "single-threaded") << r.output;
    EXPECT_TRUE(zoltest::FileExists(StagingFolder() + L"\\zolchip.inf"));
}

TEST_F(PnPHost, PackageRestartDemandGives2)
{
    CSimulatedDevice device({kId0E83});
    SetRebootRequired();
    HostRun run = Host(L"--lang en");
    EXPECT_EQ(run.exitCode, 3010u) << run.report;
    EXPECT_EQ(run.result, "2 (success, restart required)");
    EXPECT_EQ(run.message, "");
}

TEST_F(PnPHost, UnknownInfTypeGivesMessage0InTheHostsLanguageAndAnEnglishErrorLine)
{
    WriteInstallXml(L"BOGUS");
    const std::string errorLine = "**ERROR** - Unknown INF file type -- installation will not continue.\r\n";
    HostRun japanese = Host(L"--lang ja /verbose_log");
    EXPECT_EQ(japanese.exitCode, 1603u) << japanese.report;
    // "不明なINFファイル タイプです -- インストールを続行できません"
    EXPECT_EQ(japanese.message,
              zoltest::ToUtf8(L"\u4E0D\u660E\u306AINF\u30D5\u30A1\u30A4\u30EB \u30BF\u30A4\u30D7\u3067\u3059 -- "
                              L"\u30A4\u30F3\u30B9\u30C8\u30FC\u30EB\u3092\u7D9A\u884C\u3067\u304D\u307E\u305B"
                              L"\u3093"));
    EXPECT_NE(zoltest::ReadMainLog().find(errorLine), std::string::npos);
    EXPECT_NE(zoltest::ReadVerboseLogs().find(errorLine), std::string::npos);

    for (const wchar_t* language : {L"de", L"xx"}) {
        HostRun run = Host(std::wstring(L"--lang ") + language);
        EXPECT_EQ(run.message, "Unknown INF file type -- installation will not continue.") << run.report;
    }
}

TEST_F(PnPHost, PostInstallCommandDecidesLast)
{
    CSimulatedDevice device({kId0E83});
    SetRebootRequired();
    ASSERT_TRUE(zoltest::WriteBytes(m_dir + L"\\post.bat", "@echo ran> ran.txt\r\n"));
    WriteInstallXml(L"PNP", m_dir + L"\\post.bat");
    HostRun works = Host(L"--lang en");
    EXPECT_EQ(works.exitCode, 3010u) << works.report;
    EXPECT_EQ(works.result, "2 (success, restart required)");
    for (int i = 0; i < 100 && !zoltest::FileExists(m_dir + L"\\ran.txt"); ++i)
        Sleep(50);
    EXPECT_TRUE(zoltest::FileExists(m_dir + L"\\ran.txt"));

    WriteInstallXml(L"PNP", m_dir + L"\\missing.exe");
    HostRun fails = Host(L"--lang ja /verbose_log");
    EXPECT_EQ(fails.exitCode, 1603u) << fails.report;
    EXPECT_EQ(fails.result, "0 (failure)");
    EXPECT_EQ(fails.message, "An error occurred during the ShellExecute command.");
    EXPECT_NE(zoltest::MaskTimes(zoltest::ReadVerboseLogs())
                  .find("[T]::basecomp.cpp[297] Executing ShellExecute command... Failed!\r\n"),
              std::string::npos);
}

TEST_F(PnPHost, MissingLibraryOrFunctionGivesMessage5AndStagesNothing)
{
    CSimulatedDevice device({kId0E83});
    {
        // Wine refuses to load a disabled library.
        CDllOverride disabled(L"newdev", L"");
        HostRun run = Host(L"--lang en");
        EXPECT_EQ(run.exitCode, 1603u) << run.report;
        EXPECT_EQ(run.message, "An error occurred during installation.");
        EXPECT_TRUE(FilesIn(StagingFolder()).empty());
    }
    {
        // A native "newdev.dll" without the update function: a program image
        // put in its place.
        wchar_t system[MAX_PATH];
        GetSystemDirectoryW(system, MAX_PATH);
        std::wstring library = std::wstring(system) + L"\\newdev.dll";
        std::wstring saved = library + L".saved";
        ASSERT_TRUE(MoveFileW(library.c_str(), saved.c_str()));
        ASSERT_TRUE(CopyFileW(zoltest::BinPath(L"devsim.exe").c_str(), library.c_str(), FALSE));
        CDllOverride native(L"newdev", L"native");
        HostRun run = Host(L"--lang ja");
        EXPECT_EQ(run.exitCode, 1603u) << run.report;
        // "インストール中にエラーが発生しました。"
        EXPECT_EQ(run.message, zoltest::ToUtf8(L"\u30A4\u30F3\u30B9\u30C8\u30FC\u30EB\u4E2D\u306B\u30A8\u30E9\u30FC"
                                               L"\u304C\u767A\u751F\u3057\u307E\u3057\u305F\u3002"));
        EXPECT_TRUE(FilesIn(StagingFolder()).empty());
        DeleteFileW(library.c_str());
        MoveFileW(saved.c_str(), library.c_str());
    }
    // With the library back the same package installs.
    HostRun run = Host(L"--lang en");
    EXPECT_EQ(run.exitCode, 0u) << run.report;
}

TEST_F(PnPHost, PackageWithoutItsDriverFileEndsWithMessage5AndNamesTheFile)
{
    // Wine's own driver update retries the copy of a missing file without
    // end: the host is stopped after a minute, so that a package that
    // reaches the update fails this test instead of hanging the suite.
    CSimulatedDevice device({kId0E83});
    ASSERT_FALSE(device.Instance().empty());
    ASSERT_TRUE(DeleteFileW((m_dir + L"\\zolchip.sys").c_str()));
    HostRun run = Host(L"--lang ja", 60000);
    EXPECT_EQ(run.exitCode, 1603u) << run.report;
    EXPECT_EQ(run.message, zoltest::ToUtf8(GetMessageText(MSG_INSTALL_ERROR, LANG_COL_JAPANESE)));
    std::string log = zoltest::ReadMainLog();
    EXPECT_NE(log.find("Initiating installation... \r\n**ERROR** - Package file missing: zolchip.sys\r\n"),
              std::string::npos)
        << log;
    // No update was started: the device is not bound to the package.
    EXPECT_EQ(DeviceBlock(zoltest::ListDevices(), device.Instance()).find("zolchip"), std::string::npos);
}

TEST_F(PnPHost, BusyMachineExits1618WithoutInstallingAndDevicesShowTheirDrivers)
{
    CSimulatedDevice device({kId0E83});
    ASSERT_FALSE(device.Instance().empty());
    std::string instance = zoltest::ToUtf8(CHostReport::JsonString(device.Instance()));
    const std::string present = "\"devices\":[{\"instance_id\":" + instance +
                                ",\"hardware_id\":\"PCI\\\\VEN_8086&DEV_0E83&SUBSYS_7C41A2E9\",";
    {
        zoltest::CInstallLockHolder holder(20);
        ASSERT_TRUE(holder.Holding());
        HostRun busy = Host(L"--json --wait 0");
        EXPECT_EQ(busy.exitCode, 1618u) << busy.report;
        EXPECT_NE(busy.report.find(",\"install\":{\"result\":null,\"message\":\"Another installation is in progress "
                                   "(process ID " + std::to_string(holder.ProcessId()) + ").\",\"in_progress\":true,"
                                   "\"in_progress_reason\":\"installation\"}," +
                                   present + "\"outcome\":\"present\",\"error\":null,\"reason\":null,\"restart\":false,"
                                   "\"service\":null,\"inf\":null,\"driver_version\":null}]"),
                  std::string::npos)
            << busy.report;
        // Install was never called: nothing staged, the device unbound, and
        // the host's log says why.
        EXPECT_TRUE(FilesIn(StagingFolder()).empty());
        EXPECT_EQ(DeviceBlock(zoltest::ListDevices(), device.Instance()).find("zolchip"), std::string::npos);
        std::string log = zoltest::ReadMainLog();
        EXPECT_EQ(log.find("Initiating installation"), std::string::npos) << log;
        EXPECT_NE(log.find("**ERROR** - Another installation is in progress (process ID "), std::string::npos) << log;
        EXPECT_NE(log.find("Return Code (1618)"), std::string::npos) << log;
    }
    // Free again: the install runs and each device shows the driver it has now.
    HostRun run = Host(L"--json --wait 5");
    EXPECT_EQ(run.exitCode, 0u) << run.report;
    EXPECT_NE(run.report.find(",\"install\":{\"result\":1,\"message\":\"\",\"in_progress\":false}," + present +
                              "\"outcome\":\"updated\",\"error\":null,\"reason\":null,\"restart\":false,"
                              "\"service\":\"zolchip\",\"inf\":\"zolchip.inf\",\"driver_version\":\"9.3.0.1019\"}]"),
              std::string::npos)
        << run.report;
    HostRun check = Host(L"--check");
    EXPECT_NE(check.report.find("Devices:            1\r\n"
                                "  Instance ID       Hardware ID                            Outcome  Restart  Service  "
                                "INF          Driver version\r\n"
                                "  " + zoltest::ToUtf8(device.Instance()) +
                                "  PCI\\VEN_8086&DEV_0E83&SUBSYS_7C41A2E9  present  no       zolchip  zolchip.inf  "
                                "9.3.0.1019\r\n"),
              std::string::npos)
        << check.report;
}

// Uninstall through zolhost, from a machine this package never touched (the
// other tests here install it): not installed (1605); 1.2.4.0 over 1.2.3.0
// taken off, where the what-if and a busy machine (1618) change nothing and
// the uninstall puts the device back on 1.2.3.0; then 1.2.3.0, the only
// version, refused without --force and taken off with it.
TEST_F(PnPHost, UninstallThroughTheHost)
{
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\zolcomp");
    zoltest::RemoveTree(L"C:\\DEVAVOROR\\packages");
    const std::wstring driverFile = L"C:\\windows\\system32\\drivers\\zolchip.sys";
    for (const std::wstring& file : {std::wstring(L"C:\\windows\\inf\\zolchip.inf"), driverFile})
        DeleteFileW(file.c_str());
    StopAndDeleteService(L"zolchip", nullptr);
    const std::wstring newer = zoltest::MakeTestDir(L"UninstallThroughTheHost_1.2.4.0");
    ASSERT_TRUE(zoltest::CopyTree(zoltest::ExamplePath(L"chipset-1.2.4.0"), newer));
    CSimulatedDevice device({kId0E83});
    ASSERT_FALSE(device.Instance().empty());
    const std::string notInstalled = ",\"uninstall\":{\"result\":0,\"message\":\"This package is not installed.\","
                                     "\"in_progress\":false,\"package_state\":\"not_installed\",\"forced\":";
    HostRun never = Host(L"--uninstall --json");
    EXPECT_EQ(never.exitCode, 1605u) << never.report;
    EXPECT_NE(never.report.find(notInstalled + "false,\"check\":false,\"plan\":[]}"), std::string::npos) << never.report;

    ASSERT_EQ(Host(L"").exitCode, 0u);
    ASSERT_EQ(HostIn(newer, L"").exitCode, 0u);
    zoltest::RunDevsim(L"start");
    ASSERT_EQ(zoltest::ReadBytes(driverFile), zoltest::ReadBytes(newer + L"\\zolchip.sys"));
    const std::string planned = "\"plan\":[{\"instance_id\":" + zoltest::ToUtf8(CHostReport::JsonString(device.Instance())) +
                                ",\"hardware_id\":" + zoltest::ToUtf8(CHostReport::JsonString(kId0E83)) +
                                ",\"outcome\":\"planned\",\"error\":null,\"reason\":null,\"restart\":false,";
    const std::string before = MachineState();
    HostRun check = HostIn(newer, L"--uninstall --check --json");
    EXPECT_EQ(check.exitCode, 0u) << check.report;
    EXPECT_NE(check.report.find(",\"uninstall\":{\"result\":null,\"message\":\"\",\"in_progress\":false,"
                                "\"package_state\":\"installed\",\"forced\":false,\"check\":true," + planned),
              std::string::npos)
        << check.report;
    EXPECT_NE(check.report.find("\"action\":\"restore_previous\",\"target_inf\":\"zolchip.inf\","
                                "\"target_version\":\"1.2.3.0\"}]},\"devices\":[],\"log\":{\"written\":true,\"reason\":null}}"),
              std::string::npos)
        << check.report;
    EXPECT_EQ(MachineState(), before);
    {
        zoltest::CInstallLockHolder holder(20);
        ASSERT_TRUE(holder.Holding());
        zoltest::ClearLogs();
        HostRun busy = HostIn(newer, L"--uninstall --json --wait 0");
        EXPECT_EQ(busy.exitCode, 1618u) << busy.report;
        EXPECT_NE(busy.report.find(",\"uninstall\":{\"result\":null,\"message\":\"Another installation is in progress "
                                   "(process ID " + std::to_string(holder.ProcessId()) + ").\",\"in_progress\":true,"
                                   "\"in_progress_reason\":\"installation\",\"package_state\":\"installed\",\"forced\":false,\"check\":false," + planned),
                  std::string::npos)
            << busy.report;
        EXPECT_EQ(MachineState(), before);
        std::string log = zoltest::ReadMainLog();
        EXPECT_EQ(log.find("Initiating uninstallation"), std::string::npos) << log;
        EXPECT_NE(log.find("Return Code (1618)"), std::string::npos) << log;
    }

    zoltest::ClearLogs();
    HostRun run = HostIn(newer, L"--uninstall");
    EXPECT_EQ(run.exitCode, 0u) << run.report;
    EXPECT_EQ(After(run.report, "Uninstall:          "), "result 1 (success)") << run.report;
    // The what-if asked again under the lock replaces the first answer.
    EXPECT_EQ(After(run.report, "Uninstall plan:     "), "1") << run.report;
    EXPECT_NE(run.report.find("  " + zoltest::ToUtf8(device.Instance()) + "  " + zoltest::ToUtf8(kId0E83) +
                              "  updated  no       zolchip  zolchip.inf"),
              std::string::npos)
        << run.report;
    EXPECT_NE(run.report.find("restore_previous  zolchip.inf  1.2.3.0\r\n"), std::string::npos) << run.report;
    EXPECT_EQ(zoltest::ReadBytes(driverFile), zoltest::ReadBytes(m_dir + L"\\zolchip.sys"));
    EXPECT_NE(DeviceBlock(zoltest::ListDevices(), device.Instance()).find("driver INF:   zolchip.inf"),
              std::string::npos);
    EXPECT_NE(zoltest::ReadMainLog().find("Initiating uninstallation... \r\n"), std::string::npos);

    HostRun refused = Host(L"--uninstall");
    EXPECT_EQ(refused.exitCode, 1603u) << refused.report;
    EXPECT_NE(refused.report.find("not_attempted (no driver left)"), std::string::npos) << refused.report;
    HostRun forced = Host(L"--uninstall --force --json");
    EXPECT_EQ(forced.exitCode, 0u) << forced.report;
    EXPECT_NE(forced.report.find("\"action\":\"no_driver\",\"target_inf\":null,\"target_version\":null}]}"),
              std::string::npos)
        << forced.report;
    EXPECT_NE(DeviceBlock(zoltest::ListDevices(), device.Instance()).find("service:      (none)\n"),
              std::string::npos);
    HostRun again = Host(L"--uninstall --force --json");
    EXPECT_EQ(again.exitCode, 1605u) << again.report;
    EXPECT_NE(again.report.find(notInstalled + "true,"), std::string::npos) << again.report;
}
