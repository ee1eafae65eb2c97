// Legacy and virtual installs of whole packages by the host, on Wine's real
// service manager, registry, SetupAPI and file system: the sample packages, a
// target file in use, a package that asks for a restart, a named install
// section, an INF with a class but no service.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "legacyhelpers.h"
#include "messages.h"
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
    // Every failure named: the copy of the file, then the update not started.
    std::string log = zoltest::ReadMainLog();
    EXPECT_NE(log.find("**ERROR** - File copy failed: "), std::string::npos) << log;
    EXPECT_NE(log.find("**ERROR** - Package file missing: zolvcon.sys\r\n"), std::string::npos) << log;
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
