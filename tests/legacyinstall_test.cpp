// Legacy and virtual installs of whole packages by the host, on Wine's real
// service manager, registry, SetupAPI and file system: the sample packages, a
// target file in use, a package that asks for a restart, a named install
// section, an INF with a class but no service. And their uninstall, run
// in-process as a host would call it, from the install record: with and
// without the INF's own uninstall section, a virtual package's root device,
// and a run cut short finished by the next. Wine's class installer never
// refuses a device's removal; that one call goes through the INF platform
// table's stand-in.
#include <gtest/gtest.h>
#include <windows.h>
#include <setupapi.h>
#include <shlobj.h>

#include <string>
#include <vector>

#include "component.h"
#include "inf/infplatform.h"
#include "inf/servicecontrol.h"
#include "installrecord.h"
#include "legacyhelpers.h"
#include "messages.h"
#include "pnphelpers.h"
#include "prereqtest.h"
#include "support/handles.h"
#include "testsupport.h"

using namespace legacytest;

namespace {

// Installs the package in dir with the host: 0, 1 or 2 from its exit code,
// -1 when the host did not finish.
int InstallPackage(const std::wstring& dir)
{
    zoltest::ProcessResult r = zoltest::RunHost(dir, L"");
    switch (r.exitCode) {
    case 0: return 1;
    case 3010: return 2;
    case 1603: return 0;
    default:
        ADD_FAILURE() << "zolhost exit code " << r.exitCode << "\n" << r.output;
        return -1;
    }
}

std::wstring CopyExample(const wchar_t* example, const std::wstring& name)
{
    std::wstring dir = zoltest::MakeTestDir(name);
    EXPECT_TRUE(zoltest::CopyTree(zoltest::ExamplePath(example), dir));
    return dir;
}

const std::wstring kWdtNode = std::wstring(kEnumRoot) + L"LEGACY_ZOLWDT";
const std::wstring kWdtService = std::wstring(kServices) + L"zolwdt";
const std::wstring kVconNode = std::wstring(kEnumRoot) + L"ZOLVCON";
const std::wstring kVconService = std::wstring(kServices) + L"zolvcon";

class LegacyInstall : public ::testing::Test
{
protected:
    void SetUp() override { ClearPendingOperations(); }
    void TearDown() override { ClearPendingOperations(); }
};

// The host's report of a refused install in Japanese: exit 1603, message 5.
void ExpectRefusedWithMessage5InJapanese(const zoltest::ProcessResult& run)
{
    EXPECT_EQ(run.exitCode, 1603u) << run.output;
    EXPECT_NE(run.output.find("Install message:    \"" +
                              zoltest::ToUtf8(GetMessageText(MSG_INSTALL_ERROR, LANG_COL_JAPANESE)) + "\""),
              std::string::npos)
        << run.output;
}

} // namespace

TEST_F(LegacyInstall, SamplePackageInstallsServiceFilesDeviceAndSettings)
{
    std::wstring dir = CopyExample(L"legacy", L"legacy_sample");
    ASSERT_EQ(InstallPackage(dir), 1);

    // The service, with the INF's start type (2, automatic) and binary.
    EXPECT_TRUE(ServiceKnown(L"zolwdt"));
    EXPECT_EQ(ServiceStartType(L"zolwdt"), 2);
    EXPECT_EQ(ReadDword(kWdtService, L"Type"), 1u);
    EXPECT_EQ(ReadString(kWdtService, L"DisplayName"), L"ZOL Watchdog Timer Sample Driver");

    // The files, copied by the component from the package directory.
    const std::wstring root = SystemRoot();
    EXPECT_EQ(zoltest::ReadBytes(root + L"\\system32\\drivers\\zolwdt.sys"), zoltest::ReadBytes(dir + L"\\zolwdt.sys"));
    EXPECT_EQ(zoltest::ReadBytes(root + L"\\system32\\zolwdt\\zolwdt.ini"), zoltest::ReadBytes(dir + L"\\zolwdt.ini"));

    // The section's registry entries (relative root HKLM).
    EXPECT_EQ(ReadString(L"Software\\ZOL\\Watchdog", L"Version"), L"2.4.1.0");

    // The root device of the INF's class, bound to the service.
    EXPECT_TRUE(KeyExists(kWdtNode + L"\\0000"));
    EXPECT_FALSE(KeyExists(kWdtNode + L"\\0001"));
    EXPECT_EQ(ReadString(kWdtNode + L"\\0000", L"ClassGUID"), L"{4D36E97D-E325-11CE-BFC1-08002BE10318}");
    EXPECT_EQ(ReadString(kWdtNode + L"\\0000", L"Service"), L"zolwdt");

    // The software settings, under the service's Device0 key.
    EXPECT_EQ(ReadDword(kWdtService + L"\\Device0", L"TimeoutSeconds"), 300u);
    EXPECT_EQ(ReadDword(kWdtService + L"\\Device0", L"PreTimeoutSeconds"), 30u);
    EXPECT_EQ(ReadString(kWdtService + L"\\Device0", L"Action"), L"Reset");
    EXPECT_FALSE(KeyExists(kWdtService + L"\\Device1"));

    // Installing again succeeds: the service exists, the device node is not
    // created a second time.
    EXPECT_EQ(InstallPackage(dir), 1);
    EXPECT_TRUE(KeyExists(kWdtNode + L"\\0000"));
    EXPECT_FALSE(KeyExists(kWdtNode + L"\\0001"));
    EXPECT_TRUE(PendingOperations().empty());
}

TEST_F(LegacyInstall, TargetInUseIsReplacedAtRestart)
{
    std::wstring dir = CopyExample(L"legacy", L"legacy_inuse");
    const std::wstring target = SystemRoot() + L"\\system32\\drivers\\zolwdt.sys";
    ASSERT_TRUE(zoltest::WriteBytes(target, "running driver"));
    {
        CHeldFile held(target);
        ASSERT_TRUE(held.valid());
        EXPECT_EQ(InstallPackage(dir), 2);
    }
    // Nothing changed now; the replacement from a private copy of the
    // package's file waits for the restart.
    EXPECT_EQ(zoltest::ReadBytes(target), "running driver");
    std::vector<std::wstring> pending = PendingOperations();
    ASSERT_EQ(pending.size(), 2u);
    EXPECT_EQ(_wcsicmp(pending[1].c_str(), (L"!\\??\\" + target).c_str()), 0);
    std::wstring copy = pending[0].substr(4); // after "\??\"
    EXPECT_EQ(zoltest::ReadBytes(copy), zoltest::ReadBytes(dir + L"\\zolwdt.sys"));
    EXPECT_TRUE(ServiceKnown(L"zolwdt"));
}

TEST_F(LegacyInstall, PackageThatAsksForRestartGivesTwo)
{
    std::wstring dir = CopyExample(L"legacy", L"legacy_reboot");
    ASSERT_TRUE(EditFile(dir + L"\\qx4c7d21.xml", "<reboot_required value=\"no\"/>", "<reboot_required value=\"yes\"/>"));
    EXPECT_EQ(InstallPackage(dir), 2);
    EXPECT_TRUE(PendingOperations().empty());
}

TEST_F(LegacyInstall, VirtualNamedSectionCreatesDeviceNamedAfterService)
{
    std::wstring dir = CopyExample(L"virtual", L"virtual_sample");
    ASSERT_EQ(InstallPackage(dir), 1);

    // The root device is named after the service itself, with the INF's
    // model as hardware ID and the service bound to it.
    EXPECT_TRUE(KeyExists(kVconNode + L"\\0000"));
    EXPECT_FALSE(KeyExists(std::wstring(kEnumRoot) + L"LEGACY_ZOLVCON"));
    EXPECT_EQ(ReadString(kVconNode + L"\\0000", L"HardwareID"), L"ROOT\\ZOLVCON");
    EXPECT_EQ(ReadString(kVconNode + L"\\0000", L"Service"), L"zolvcon");
    EXPECT_FALSE(ReadString(kVconNode + L"\\0000", L"Driver").empty());

    // Only the named section: its files, its services, its settings.
    const std::wstring root = SystemRoot();
    EXPECT_TRUE(zoltest::FileExists(root + L"\\system32\\drivers\\zolvcon.sys"));
    EXPECT_EQ(zoltest::ReadBytes(root + L"\\system32\\zolvcon\\vcon.tpl"), zoltest::ReadBytes(dir + L"\\vcon.tpl"));
    EXPECT_EQ(ServiceStartType(L"zolvcon"), 3);
    EXPECT_EQ(ReadDword(kVconService + L"\\Device0", L"BaudRate"), 115200u);
    EXPECT_EQ(ReadString(kVconService + L"\\Device0", L"TerminalType"), L"vt100+");
    EXPECT_EQ(ReadString(L"Software\\ZOL\\Virtual Console", L"Version"), L"1.0.3.0");

    wchar_t programFiles[MAX_PATH] = {};
    GetEnvironmentVariableW(L"ProgramFiles", programFiles, MAX_PATH);
    EXPECT_FALSE(zoltest::FileExists(std::wstring(programFiles) + L"\\ZOL\\Console Tools\\zolvcons.exe"));
    EXPECT_FALSE(ServiceKnown(L"zolvcons"));
    EXPECT_FALSE(KeyExists(std::wstring(kServices) + L"zolvcons"));
    EXPECT_FALSE(KeyExists(L"Software\\ZOL\\Virtual Console\\Tools"));

    // A repeated install finds the node under the service's name and does
    // not create a second device.
    EXPECT_EQ(InstallPackage(dir), 1);
    EXPECT_TRUE(KeyExists(kVconNode + L"\\0000"));
    EXPECT_FALSE(KeyExists(kVconNode + L"\\0001"));
}

TEST_F(LegacyInstall, ClassWithoutServiceFailsAfterEveryStep)
{
    // An INF that names a class but installs no service: the root device
    // cannot be named, so the install fails; the other steps still ran.
    std::wstring dir = CopyExample(L"legacy", L"legacy_noservice");
    ASSERT_TRUE(EditFile(dir + L"\\zolwdt.inf", "AddService = zolwdt, 0x00000002, ZolWdt_Service, ZolWdt_EventLog",
                         "; no service"));
    ASSERT_TRUE(EditFile(dir + L"\\zolwdt.inf", "\"2.4.1.0\"", "\"2.4.1.0-noservice\""));
    ASSERT_TRUE(zoltest::WriteBytes(dir + L"\\zolwdt.ini", "no service edition"));
    EXPECT_EQ(InstallPackage(dir), 0);
    EXPECT_EQ(zoltest::ReadBytes(SystemRoot() + L"\\system32\\zolwdt\\zolwdt.ini"), "no service edition");
    EXPECT_EQ(ReadString(L"Software\\ZOL\\Watchdog", L"Version"), L"2.4.1.0-noservice");
    EXPECT_FALSE(KeyExists(std::wstring(kEnumRoot) + L"LEGACY_"));
}

TEST_F(LegacyInstall, VirtualPackageWithoutItsDriverFileEndsWithMessage5)
{
    // The driver update of the root device would copy the missing file:
    // Wine's retries it without end, so the host is stopped after a minute
    // rather than hanging the suite when the update is reached.
    std::wstring dir = CopyExample(L"virtual", L"virtual_incomplete");
    ASSERT_TRUE(DeleteFileW((dir + L"\\zolvcon.sys").c_str()));
    // A root device left by an earlier install would not be created (nor
    // updated) again.
    zoltest::RunProcess(L"\"" + zoltest::BinPath(L"devsim.exe") + L"\" remove ROOT\\ZOLVCON\\0000");
    ASSERT_FALSE(KeyExists(kVconNode + L"\\0000"));
    zoltest::ClearLogs();
    zoltest::ProcessResult run = zoltest::RunHost(dir, L"--lang ja", 60000);
    ExpectRefusedWithMessage5InJapanese(run);
    // Refused before the first copy: the missing file is named, nothing is
    // copied or recorded.
    std::string log = zoltest::ReadMainLog();
    EXPECT_EQ(log.find("**ERROR** - File copy failed: "), std::string::npos) << log;
    EXPECT_NE(log.find("**ERROR** - Package file missing: zolvcon.sys\r\n"), std::string::npos) << log;
    EXPECT_FALSE(KeyExists(kVconNode + L"\\0000"));
}

TEST_F(LegacyInstall, IncompleteVirtualPackageOverAnInstalledOneTouchesNothing)
{
    // The same package installed again without one of its files, through the
    // named section and through the whole INF: refused before any change,
    // every installed file byte for byte the first install's.
    const std::wstring root = SystemRoot();
    const std::wstring driver = root + L"\\system32\\drivers\\zolvcon.sys";
    const std::wstring templ = root + L"\\system32\\zolvcon\\vcon.tpl";
    std::wstring dir = CopyExample(L"virtual", L"virtual_repeat");
    ASSERT_EQ(InstallPackage(dir), 1);
    const std::string driverBytes = zoltest::ReadBytes(driver);
    const std::string templBytes = zoltest::ReadBytes(templ);
    ASSERT_FALSE(templBytes.empty());
    const std::wstring record = L"SOFTWARE\\zolcomp\\Packages\\zolvcon.inf_1.0.3.0";
    ASSERT_EQ(ReadString(record, L"State"), L"installed");

    // A changed driver image with the template missing.
    ASSERT_TRUE(zoltest::WriteBytes(dir + L"\\zolvcon.sys", "a later driver image"));
    ASSERT_TRUE(DeleteFileW((dir + L"\\vcon.tpl").c_str()));
    for (bool wholeInf : {false, true}) {
        SCOPED_TRACE(wholeInf ? "whole INF" : "named section");
        if (wholeInf) {
            // The whole INF copies the console tools as well.
            ASSERT_TRUE(EditFile(dir + L"\\install.xml", "ZolVcon_Install", ""));
            ASSERT_TRUE(zoltest::WriteBytes(dir + L"\\zolvcons.exe", "tools"));
        }
        zoltest::ClearLogs();
        zoltest::ProcessResult run = zoltest::RunHost(dir, L"--lang ja", 60000);
        ExpectRefusedWithMessage5InJapanese(run);
        // Nothing between the start and the session's end but the line.
        std::string log = zoltest::ReadMainLog();
        EXPECT_NE(log.find("Initiating installation... \r\n**ERROR** - Package file missing: vcon.tpl\r\n"
                           "\r\n\r\nLog Session End."),
                  std::string::npos)
            << log;
        EXPECT_EQ(zoltest::ReadBytes(driver), driverBytes);
        EXPECT_EQ(zoltest::ReadBytes(templ), templBytes);
        EXPECT_EQ(ReadString(record, L"State"), L"installed");
    }
}

TEST_F(LegacyInstall, RootDeviceLeftUnregisteredByACutRunIsMadeAgain)
{
    // A run ended between the device's creation and its registration (the
    // crash sweep's cut): Wine keeps the created device's key, marked as a
    // phantom. The next install makes the device whole under the same name
    // instead of taking the phantom for it or adding a second device.
    std::wstring dir = CopyExample(L"legacy", L"legacy_phantom");
    zoltest::RunProcess(L"\"" + zoltest::BinPath(L"devsim.exe") + L"\" remove ROOT\\LEGACY_ZOLWDT\\0000");
    ASSERT_FALSE(KeyExists(kWdtNode + L"\\0000"));
    GUID system = {0x4d36e97d, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};
    {
        CUniqueDevInfo set(SetupDiCreateDeviceInfoList(&system, nullptr));
        SP_DEVINFO_DATA element = {sizeof(element)};
        ASSERT_TRUE(SetupDiCreateDeviceInfoW(set.get(), L"LEGACY_ZOLWDT", &system, nullptr, nullptr,
                                             DICD_GENERATE_ID, &element));
        // Destroying the list would delete the unregistered device; a cut
        // run never gets there. The list is left to this process's end.
        set.release();
    }
    ASSERT_EQ(ReadDword(kWdtNode + L"\\0000", L"Phantom"), 1u);
    EXPECT_EQ(InstallPackage(dir), 1);
    EXPECT_EQ(ReadString(kWdtNode + L"\\0000", L"Service"), L"zolwdt");
    EXPECT_FALSE(ReadString(kWdtNode + L"\\0000", L"Driver").empty());
    EXPECT_FALSE(KeyExists(kWdtNode + L"\\0001"));
}

TEST_F(LegacyInstall, VirtualPackageNeedsItsCoInstallerFile)
{
    // The root device's update copies the co-installer DLL as well; without
    // it the update is not started (Wine's would not return).
    std::wstring dir = CopyExample(L"virtual", L"virtual_coinstaller");
    ASSERT_TRUE(EditFile(dir + L"\\zolvcon.inf", "ZolVcon.Drivers   = 12",
                         "ZolVcon.Drivers   = 12\r\nZolVcon.CoInstaller = 11"));
    ASSERT_TRUE(EditFile(dir + L"\\zolvcon.inf", "[ZolVcon_Install.Services]",
                         "[ZolVcon_Install.CoInstallers]\r\nCopyFiles = ZolVcon.CoInstaller\r\n"
                         "[ZolVcon.CoInstaller]\r\nzolvcoin.dll\r\n[ZolVcon_Install.Services]"));
    const std::wstring removeNode = L"\"" + zoltest::BinPath(L"devsim.exe") + L"\" remove ROOT\\ZOLVCON\\0000";
    zoltest::RunProcess(removeNode);
    zoltest::ClearLogs();
    zoltest::ProcessResult run = zoltest::RunHost(dir, L"--lang ja", 60000);
    ExpectRefusedWithMessage5InJapanese(run);
    std::string log = zoltest::ReadMainLog();
    EXPECT_NE(log.find("**ERROR** - Package file missing: zolvcoin.dll\r\n"), std::string::npos) << log;

    // With the DLL in the package the device gets its driver and the DLL is
    // copied.
    ASSERT_TRUE(zoltest::WriteBytes(dir + L"\\zolvcoin.dll", "co-installer"));
    zoltest::RunProcess(removeNode);
    EXPECT_EQ(InstallPackage(dir), 1);
    EXPECT_EQ(ReadString(kVconNode + L"\\0000", L"Service"), L"zolvcon");
    EXPECT_EQ(zoltest::ReadBytes(SystemRoot() + L"\\system32\\zolvcoin.dll"), "co-installer");
}

namespace {

// A host's run in a package folder, in this process: the component is
// loaded from there, Uninstall is called (unless only the what-if is
// asked), then property 10 (or 11) is read.
struct HostRun {
    int result = -1;
    std::wstring message;
    int state = -1;
    std::vector<ZOL_DEVICE_RESULT> devices;
};

HostRun RunUninstall(const std::wstring& dir, bool whatIf = false)
{
    pnptest::CCurrentDirectoryScope cwd(dir);
    pnptest::CComponentDirectoryScope module(dir);
    CComponent component;
    component.Initialize();
    HostRun run;
    wchar_t message[ZOL_MESSAGE_CHARS] = {};
    if (!whatIf)
        run.result = component.Uninstall(0, nullptr, message, 0, L"en");
    run.message = message;
    std::vector<BYTE> block(ZOL_DEVICE_RESULTS_BYTES(4));
    auto* header = reinterpret_cast<ZOL_DEVICE_RESULTS*>(block.data());
    header->cbRecord = sizeof(ZOL_DEVICE_RESULT);
    if (component.GetProperty(whatIf ? ZOL_PROP_UNINSTALL_PLAN : ZOL_PROP_DEVICE_RESULTS, block.data(),
                              static_cast<int>(block.size()), nullptr))
        run.devices.assign(header->Devices, header->Devices + header->nCount);
    run.state = header->nPackageState;
    component.GetLog()->Close();
    return run;
}

// The log holds each line, in this order.
void ExpectLogLines(const std::vector<std::string>& lines)
{
    std::string log = zoltest::ReadMainLog();
    size_t at = 0;
    for (const std::string& line : lines) {
        size_t found = log.find(line, at);
        EXPECT_NE(found, std::string::npos) << line << "\n" << log;
        at = found == std::string::npos ? at : found + line.size();
    }
}

const wchar_t kWdtRecord[] = L"zolwdt.inf_2.4.1.0";
const wchar_t kVconRecord[] = L"zolvcon.inf_1.0.3.0";

// Nothing of the two sample packages (nor of the earlier tests' installs of
// them) is left on the machine.
void ForgetSamples()
{
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\zolcomp");
    zoltest::RemoveTree(L"C:\\DEVAVOROR\\packages");
    for (const wchar_t* device : {L"ROOT\\LEGACY_ZOLWDT\\0000", L"ROOT\\ZOLVCON\\0000"})
        zoltest::RunDevsim(std::wstring(L"remove ") + device);
    for (const wchar_t* service : {L"zolwdt", L"zolvcon"})
        StopAndDeleteService(service, nullptr);
    const std::wstring root = SystemRoot();
    for (const wchar_t* file : {L"\\system32\\drivers\\zolwdt.sys", L"\\system32\\drivers\\zolvcon.sys",
                                L"\\inf\\zolvcon.inf", L"\\inf\\zolvcon.pnf", L"\\inf\\zolwdt.inf", L"\\inf\\zolwdt.pnf"})
        DeleteFileW((root + file).c_str());
    zoltest::RemoveTree(root + L"\\system32\\zolwdt");
    zoltest::RemoveTree(root + L"\\system32\\zolvcon");
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, L"Software\\ZOL");
}

class LegacyUninstall : public LegacyInstall
{
protected:
    void SetUp() override
    {
        LegacyInstall::SetUp();
        ForgetSamples();
        zoltest::ClearLogs();
    }
    void TearDown() override
    {
        InfPlatform() = DefaultInfPlatform();
        prereqtest::SetHostWindowsVersion(nullptr);
        LegacyInstall::TearDown();
    }
};

// The class installer refuses to remove a device, as Windows' may; Wine's
// never does.
BOOL WINAPI RefuseRemoval(DI_FUNCTION function, HDEVINFO set, PSP_DEVINFO_DATA element)
{
    if (function != DIF_REMOVE)
        return SetupDiCallClassInstaller(function, set, element);
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
}

} // namespace

TEST_F(LegacyUninstall, WithoutAnUninstallSectionTheRecordIsTakenBackInReverse)
{
    // A start-menu shortcut as well: the host runs on Windows NT 4.0.
    std::wstring dir = CopyExample(L"legacy", L"legacy_uninstall");
    ASSERT_TRUE(EditFile(dir + L"\\zolwdt.inf", "AddReg    = ZolWdt.Product.AddReg",
                         "AddReg    = ZolWdt.Product.AddReg\r\nZolStartMenuItems = ZolWdt.Shortcut\r\n"
                         "[ZolWdt.Shortcut]\r\nName = Watchdog Console\r\nGroup = ZOL Watchdog\r\n"
                         "Path = %SystemRoot%\\system32\\notepad.exe"));
    const std::wstring root = SystemRoot(), driver = root + L"\\system32\\drivers\\zolwdt.sys";
    ASSERT_TRUE(zoltest::WriteBytes(driver, "earlier driver"));
    ASSERT_TRUE(SetDword(L"Software\\ZOL", L"Other", 1));
    ASSERT_TRUE(prereqtest::SetHostWindowsVersion(L"nt40"));
    ASSERT_EQ(InstallPackage(dir), 1);
    ASSERT_TRUE(prereqtest::SetHostWindowsVersion(nullptr));
    wchar_t programs[MAX_PATH] = {};
    ASSERT_TRUE(SHGetSpecialFolderPathW(nullptr, programs, CSIDL_COMMON_PROGRAMS, FALSE));
    const std::wstring group = std::wstring(programs) + L"\\ZOL Watchdog";
    ASSERT_TRUE(zoltest::FileExists(group + L"\\Watchdog Console.lnk"));

    // The what-if names the root device; nothing changes.
    HostRun plan = RunUninstall(dir, true);
    EXPECT_EQ(plan.state, ZOL_PACKAGE_INSTALLED);
    ASSERT_EQ(plan.devices.size(), 1u);
    EXPECT_EQ(plan.devices[0].nAction, ZOL_ACTION_REMOVE_DEVICE);
    EXPECT_EQ(plan.devices[0].nOutcome, ZOL_DEVICE_PLANNED);
    EXPECT_STREQ(plan.devices[0].szInstanceId, L"ROOT\\LEGACY_ZOLWDT\\0000");

    // The file it replaced is in use: it is put back at the next restart.
    HostRun run;
    {
        CHeldFile held(driver);
        ASSERT_TRUE(held.valid());
        run = RunUninstall(dir);
    }
    EXPECT_EQ(run.result, ZOL_INSTALL_RESTART) << zoltest::ReadMainLog();
    EXPECT_EQ(run.message, L"");
    ASSERT_EQ(run.devices.size(), 1u);
    EXPECT_EQ(run.devices[0].nOutcome, ZOL_DEVICE_REMOVED);
    EXPECT_FALSE(KeyExists(kWdtNode));
    EXPECT_FALSE(ServiceKnown(L"zolwdt"));
    std::vector<std::wstring> pending = PendingOperations();
    ASSERT_EQ(pending.size(), 2u);
    EXPECT_EQ(_wcsicmp(pending[1].c_str(), (L"!\\??\\" + driver).c_str()), 0);
    EXPECT_EQ(zoltest::ReadBytes(pending[0].substr(4)), "earlier driver");
    // What it created is gone, with the folder and key it made; what was
    // there before stays.
    EXPECT_FALSE(zoltest::FileExists(root + L"\\system32\\zolwdt"));
    EXPECT_FALSE(KeyExists(L"Software\\ZOL\\Watchdog"));
    EXPECT_EQ(ReadDword(L"Software\\ZOL", L"Other"), 1u);
    EXPECT_FALSE(zoltest::FileExists(root + L"\\inf\\zolwdt.inf"));
    EXPECT_FALSE(zoltest::FileExists(group));
    EXPECT_FALSE(CInstallRecord(kWdtRecord).Exists());
    EXPECT_FALSE(zoltest::FileExists(L"C:\\DEVAVOROR\\packages\\zolwdt.inf_2.4.1.0"));
    ExpectLogLines({"Initiating uninstallation... \r\n",
                    "    - Removing device ROOT\\LEGACY_ZOLWDT\\0000... Done.\r\n",
                    "    - Removing zolwdt.inf from the INF folder... Done.\r\n",
                    "    - Deleting service zolwdt... Done.\r\n",
                    "    - Putting back C:\\windows\\system32\\drivers\\zolwdt.sys... Done.\r\n",
                    "    - Deleting registry key HKLM\\Software\\ZOL\\Watchdog... Done.\r\n",
                    "    - Deleting shortcut " + zoltest::ToUtf8(group) + "\\Watchdog Console.lnk... Done.\r\n",
                    "    - Removing folder C:\\windows\\system32\\zolwdt... Done.\r\n",
                    "    - Removing the install record zolwdt.inf_2.4.1.0... Done.\r\n"});

    HostRun again = RunUninstall(dir);
    EXPECT_EQ(again.result, ZOL_INSTALL_FAILED);
    EXPECT_EQ(again.message, L"This package is not installed.");
}

TEST_F(LegacyUninstall, AnInfGoneWithoutItsPrecompiledCopyLeavesNeitherAfterTheNextRun)
{
    // A run cut off between the INF's removal and its precompiled copy's:
    // the next run finds the INF gone and still takes the copy away.
    std::wstring dir = CopyExample(L"legacy", L"legacy_pnf");
    ASSERT_EQ(InstallPackage(dir), 1);
    const std::wstring inf = SystemRoot() + L"\\inf\\zolwdt.inf", pnf = SystemRoot() + L"\\inf\\zolwdt.pnf";
    ASSERT_TRUE(zoltest::FileExists(pnf));
    ASSERT_TRUE(DeleteFileW(inf.c_str()));
    EXPECT_EQ(RunUninstall(dir).result, ZOL_INSTALL_SUCCESS) << zoltest::ReadMainLog();
    EXPECT_FALSE(zoltest::FileExists(pnf));
    ExpectLogLines({"    - Removing zolwdt.inf from the INF folder... Done.\r\n"});
}

TEST_F(LegacyUninstall, AnUninstallSectionDecidesWhatOfThePackageGoes)
{
    std::wstring dir = CopyExample(L"legacy", L"legacy_defaultuninstall");
    ASSERT_TRUE(EditFile(dir + L"\\zolwdt.inf", "[Strings]",
                         "[DefaultUninstall]\r\nDelFiles = ZolWdt.Drivers\r\nDelReg = ZolWdt.Product.DelReg\r\n"
                         "[DefaultUninstall.Services]\r\nDelService = zolwdt, 0x200\r\n"
                         "[ZolWdt.Product.DelReg]\r\nHKLM,\"Software\\ZOL\\Watchdog\"\r\n[Strings]"));
    const std::wstring root = SystemRoot(), driver = root + L"\\system32\\drivers\\zolwdt.sys";
    ASSERT_TRUE(zoltest::WriteBytes(driver, "earlier driver"));
    ASSERT_EQ(InstallPackage(dir), 1);

    HostRun run = RunUninstall(dir);
    EXPECT_EQ(run.result, ZOL_INSTALL_SUCCESS) << zoltest::ReadMainLog();
    // The INF's section: its registry entries and service.
    EXPECT_FALSE(KeyExists(L"Software\\ZOL\\Watchdog"));
    EXPECT_FALSE(ServiceKnown(L"zolwdt"));
    // The component's own: the root device, its driver's INF, and the file
    // it kept, back although the section deleted it.
    EXPECT_FALSE(KeyExists(kWdtNode));
    EXPECT_FALSE(zoltest::FileExists(root + L"\\inf\\zolwdt.inf"));
    EXPECT_EQ(zoltest::ReadBytes(driver), "earlier driver");
    // What the section leaves is the INF's decision: a file it created.
    EXPECT_TRUE(zoltest::FileExists(root + L"\\system32\\zolwdt\\zolwdt.ini"));
    EXPECT_FALSE(CInstallRecord(kWdtRecord).Exists());
    ExpectLogLines({"    - Removing device ROOT\\LEGACY_ZOLWDT\\0000... Done.\r\n",
                    "    - Removing zolwdt.inf from the INF folder... Done.\r\n",
                    "    - Running DefaultUninstall of zolwdt.inf... Done.\r\n",
                    "    - Putting back " + zoltest::ToUtf8(driver) + "... Done.\r\n",
                    "    - Removing the install record zolwdt.inf_2.4.1.0... Done.\r\n"});
}

TEST_F(LegacyUninstall, VirtualRootDeviceGoesAndAPartialRunIsFinishedByTheNext)
{
    std::wstring dir = CopyExample(L"virtual", L"virtual_uninstall");
    ASSERT_EQ(InstallPackage(dir), 1);
    const std::wstring inf = SystemRoot() + L"\\inf\\zolvcon.inf";
    ASSERT_TRUE(KeyExists(kVconNode + L"\\0000"));
    ASSERT_TRUE(zoltest::FileExists(inf));
    EXPECT_STREQ(CInstallRecord(kVconRecord).ReadValue(RECORD_PUBLISHED_INF).GetString(), L"zolvcon.inf");

    // The device cannot be removed: nothing after it is touched, and the
    // record says what is left.
    InfPlatform().pCallClassInstaller = &RefuseRemoval;
    HostRun partial = RunUninstall(dir);
    EXPECT_EQ(partial.result, ZOL_INSTALL_FAILED);
    EXPECT_EQ(partial.message, GetMessageText(MSG_UNINSTALL_PARTIAL, LANG_COL_ENGLISH));
    ASSERT_EQ(partial.devices.size(), 1u);
    EXPECT_EQ(partial.devices[0].nOutcome, ZOL_DEVICE_FAILED);
    EXPECT_EQ(partial.devices[0].dwError, static_cast<DWORD>(ERROR_ACCESS_DENIED));
    ExpectLogLines({"    - Removing device ROOT\\ZOLVCON\\0000... Failed!\r\n",
                    "**ERROR** - Device not removed: ROOT\\ZOLVCON\\0000, error 0x00000005"});
    EXPECT_TRUE(KeyExists(kVconNode + L"\\0000"));
    EXPECT_TRUE(ServiceKnown(L"zolvcon"));
    EXPECT_TRUE(zoltest::FileExists(inf));
    EXPECT_EQ(CInstallRecord(kVconRecord).GetState(), RECORD_STATE_PARTIAL);
    EXPECT_EQ(RunUninstall(dir, true).state, ZOL_PACKAGE_PARTIAL);

    InfPlatform() = DefaultInfPlatform();
    zoltest::ClearLogs();
    HostRun finished = RunUninstall(dir);
    EXPECT_EQ(finished.result, ZOL_INSTALL_SUCCESS) << zoltest::ReadMainLog();
    ASSERT_EQ(finished.devices.size(), 1u);
    EXPECT_EQ(finished.devices[0].nOutcome, ZOL_DEVICE_REMOVED);
    EXPECT_FALSE(KeyExists(kVconNode));
    EXPECT_FALSE(zoltest::FileExists(inf));
    EXPECT_FALSE(ServiceKnown(L"zolvcon"));
    EXPECT_FALSE(zoltest::FileExists(SystemRoot() + L"\\system32\\drivers\\zolvcon.sys"));
    EXPECT_FALSE(zoltest::FileExists(SystemRoot() + L"\\system32\\zolvcon"));
    EXPECT_FALSE(KeyExists(L"Software\\ZOL\\Virtual Console"));
    EXPECT_FALSE(CInstallRecord(kVconRecord).Exists());
    ExpectLogLines({"    - Removing device ROOT\\ZOLVCON\\0000... Done.\r\n",
                    "    - Removing zolvcon.inf from the INF folder... Done.\r\n",
                    "    - Deleting service zolvcon... Done.\r\n",
                    "    - Removing the install record zolvcon.inf_1.0.3.0... Done.\r\n"});
}

TEST_F(LegacyUninstall, ARecordThatCannotBeWrittenStopsTheInstallBeforeItsFirstChange)
{
    // The record's key is volatile, so the non-volatile keys of its items
    // cannot be made below it (ERROR_CHILD_MUST_BE_VOLATILE): its values
    // are written, its first item is not.
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\zolcomp\\Packages\\zolwdt.inf_2.4.1.0", 0, nullptr,
                              REG_OPTION_VOLATILE, KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    RegCloseKey(key);
    std::wstring dir = CopyExample(L"legacy", L"legacy_unrecorded");
    zoltest::ProcessResult run = zoltest::RunHost(dir, L"");
    EXPECT_EQ(run.exitCode, 1603u) << run.output;
    EXPECT_NE(run.output.find("Install message:    \"" +
                              zoltest::ToUtf8(GetMessageText(MSG_INSTALL_ERROR, LANG_COL_ENGLISH)) + "\""),
              std::string::npos)
        << run.output;
    ExpectLogLines({"**ERROR** - Install record not written: zolwdt.inf_2.4.1.0, a file, error 0x000003FD"});
    // Nothing the record would have to list was made.
    EXPECT_FALSE(zoltest::FileExists(SystemRoot() + L"\\system32\\drivers\\zolwdt.sys"));
    EXPECT_FALSE(zoltest::FileExists(SystemRoot() + L"\\system32\\zolwdt"));
    EXPECT_FALSE(KeyExists(L"Software\\ZOL\\Watchdog"));
    EXPECT_FALSE(ServiceKnown(L"zolwdt"));
    EXPECT_FALSE(KeyExists(kWdtNode));
}

TEST_F(LegacyUninstall, AnUpgradeTakenOffLeavesTheEarlierVersionInstalled)
{
    std::wstring earlier = CopyExample(L"legacy", L"legacy_2410");
    std::wstring later = CopyExample(L"legacy", L"legacy_2420");
    ASSERT_TRUE(EditFile(later + L"\\qx4c7d21.xml", "<version value=\"2.4.1.0\"/>", "<version value=\"2.4.2.0\"/>"));
    ASSERT_TRUE(zoltest::WriteBytes(later + L"\\zolwdt.sys", "driver 2.4.2.0"));
    const std::wstring driver = SystemRoot() + L"\\system32\\drivers\\zolwdt.sys";
    ASSERT_EQ(InstallPackage(earlier), 1);
    ASSERT_EQ(InstallPackage(later), 1);
    ASSERT_EQ(zoltest::ReadBytes(driver), "driver 2.4.2.0");

    // The earlier version cannot be taken off from under the later one.
    HostRun refused = RunUninstall(earlier);
    EXPECT_EQ(refused.result, ZOL_INSTALL_FAILED);
    EXPECT_NE(refused.message.find(L"2.4.2.0"), std::wstring::npos) << zoltest::ToUtf8(refused.message);
    EXPECT_TRUE(CInstallRecord(kWdtRecord).Exists());

    // The later one goes: the earlier driver is back, and what the earlier
    // version made (service, device) stays, as its record does.
    EXPECT_EQ(RunUninstall(later).result, ZOL_INSTALL_SUCCESS) << zoltest::ReadMainLog();
    EXPECT_EQ(zoltest::ReadBytes(driver), zoltest::ReadBytes(earlier + L"\\zolwdt.sys"));
    EXPECT_TRUE(ServiceKnown(L"zolwdt"));
    EXPECT_TRUE(KeyExists(kWdtNode + L"\\0000"));
    EXPECT_FALSE(CInstallRecord(L"zolwdt.inf_2.4.2.0").Exists());
    CInstallRecord record(kWdtRecord);
    EXPECT_EQ(record.GetState(), RECORD_STATE_INSTALLED);
    EXPECT_TRUE(record.ReadValue(RECORD_SUPERSEDED_BY).IsEmpty());

    EXPECT_EQ(RunUninstall(earlier).result, ZOL_INSTALL_SUCCESS) << zoltest::ReadMainLog();
    EXPECT_FALSE(zoltest::FileExists(driver));
    EXPECT_FALSE(ServiceKnown(L"zolwdt"));
    EXPECT_FALSE(KeyExists(kWdtNode));
}
