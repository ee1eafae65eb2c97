// The plug-and-play install path in-process: staging, the driver update on
// the real platform, and (through the stand-in library) the failures and
// restart requests Wine cannot produce.
#include <gtest/gtest.h>

#include <windows.h>
#include <winsvc.h>
#include <newdev.h>

#include "basecomp.h"
#include "devices/pnpdriver.h"
#include "pnphelpers.h"
#include "testsupport.h"

using namespace pnptest;

namespace {

const wchar_t kId0E83[] = L"PCI\\VEN_8086&DEV_0E83&SUBSYS_7C41A2E9";
const wchar_t kId0E84[] = L"PCI\\VEN_8086&DEV_0E84&SUBSYS_7C41A2E9";
const wchar_t kId0E90[] = L"PCI\\VEN_8086&DEV_0E90&SUBSYS_7C41A2E9";
const wchar_t kAbsentId[] = L"PCI\\VEN_8086&DEV_FFFE&SUBSYS_00000000";

const wchar_t kNoDevicesEn[] = L"No devices were found to install.";
const wchar_t kInstallErrorEn[] = L"An error occurred during installation.";
const wchar_t kDeviceFailedEn[] =
    L"Installation failed on at least one device.  One of the devices may have been deleted through Device Manager "
    L"and a reboot may be necessary to complete the driver installation for this device.";
// "インストール中にエラーが発生しました。"
const wchar_t kInstallErrorJa[] =
    L"\u30A4\u30F3\u30B9\u30C8\u30FC\u30EB\u4E2D\u306B\u30A8\u30E9\u30FC\u304C\u767A\u751F\u3057\u307E\u3057\u305F\u3002";
// "インストールするデバイスが見つかりませんでした。"
const wchar_t kNoDevicesJa[] = L"\u30A4\u30F3\u30B9\u30C8\u30FC\u30EB\u3059\u308B\u30C7\u30D0\u30A4\u30B9\u304C"
                               L"\u898B\u3064\u304B\u308A\u307E\u305B\u3093\u3067\u3057\u305F\u3002";

bool ServiceExists(const wchar_t* name)
{
    CUniqueScHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!manager)
        return false;
    CUniqueScHandle service(OpenServiceW(manager.get(), name, SERVICE_QUERY_CONFIG));
    return service.valid();
}

// A package directory holding the chipset sample, which is also the
// component's own directory and the current directory for the test.
class PnPInstall : public ::testing::Test
{
protected:
    void SetUp() override
    {
        const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
        m_dir = zoltest::MakeTestDir(zoltest::FromUtf8(info->name()));
        ASSERT_TRUE(zoltest::CopyTree(zoltest::ExamplePath(L"chipset"), m_dir));
        m_cwd.reset(new CCurrentDirectoryScope(m_dir));
        m_module.reset(new CComponentDirectoryScope(m_dir));
        ASSERT_TRUE(m_module->Valid());
        zoltest::RemoveTree(StagingFolder());
        wmemset(m_message, L'#', 511);
        m_message[511] = L'\0';
    }
    void TearDown() override
    {
        m_module.reset();
        m_cwd.reset();
    }

    // A framework component set up for the chipset INF with these IDs.
    void Configure(CBaseComponent& component, const std::vector<std::wstring>& ids)
    {
        component.SetInfFile(L"zolchip.inf", INF_TYPE_PNP);
        for (const std::wstring& id : ids)
            component.AddSupportedHardwareId(id.c_str());
    }
    bool MessageUntouched() const { return m_message[0] == L'#' && wcslen(m_message) == 511; }

    std::wstring m_dir;
    std::unique_ptr<CCurrentDirectoryScope> m_cwd;
    std::unique_ptr<CComponentDirectoryScope> m_module;
    wchar_t m_message[512];
};

} // namespace

TEST(CompressedName, ReplacesOrAppends)
{
    EXPECT_STREQ(CWin2000PnPDriver::GetCompressedName(L"driver.sys").GetString(), L"driver.sy_");
    EXPECT_STREQ(CWin2000PnPDriver::GetCompressedName(L"setup.inf").GetString(), L"setup.in_");
    EXPECT_STREQ(CWin2000PnPDriver::GetCompressedName(L"page.html").GetString(), L"page.htm_");
    EXPECT_STREQ(CWin2000PnPDriver::GetCompressedName(L"a.h").GetString(), L"a.h_");
    EXPECT_STREQ(CWin2000PnPDriver::GetCompressedName(L"readme").GetString(), L"readme._");
    EXPECT_STREQ(CWin2000PnPDriver::GetCompressedName(L"archive.tar.gz").GetString(), L"archive.tar.gz_");
    EXPECT_STREQ(CWin2000PnPDriver::GetCompressedName(L"name.").GetString(), L"name._");
}

TEST(PnPDriverLists, KeepOneOfEachExactText)
{
    CWin2000PnPDriver driver(L"x.inf", 1);
    driver.AddHardwareId(L"PCI\\VEN_1&DEV_2");
    driver.AddHardwareId(L"PCI\\VEN_1&DEV_2");
    driver.AddHardwareId(L"pci\\ven_1&dev_2");
    driver.AddHardwareId(nullptr);
    EXPECT_EQ(ToVector(driver.GetHardwareIds()), (std::vector<std::wstring>{L"PCI\\VEN_1&DEV_2", L"pci\\ven_1&dev_2"}));

    EXPECT_EQ(driver.AddStageFile(L"a.sys"), 1);
    EXPECT_EQ(driver.AddStageFile(L"a.sys"), 1);
    EXPECT_EQ(driver.AddStageFile(L"A.sys"), 1);
    EXPECT_EQ(driver.AddStageFile(L""), 1);
    EXPECT_EQ(driver.AddStageFile(nullptr), 1);
    EXPECT_EQ(driver.AddStageFile(L"a.sy_"), 1); // listed already as a compressed name
    EXPECT_EQ(ToVector(driver.GetStageFiles()), (std::vector<std::wstring>{L"a.sys", L"a.sy_", L"A.sys", L"A.sy_"}));
}

TEST_F(PnPInstall, StagesTheInfItsCatalogsAndEveryFileItCopies)
{
    // A compressed file in the package is staged too.
    ASSERT_TRUE(zoltest::WriteBytes(m_dir + L"\\zolchip.sy_", "compressed"));
    CWin2000PnPDriver driver(L"zolchip.inf", 1);
    // Compressed names of files the package does not hold fail to copy.
    EXPECT_EQ(driver.StageDriverFiles(StagingFolder().c_str()), 0);
    EXPECT_EQ(ToVector(driver.GetStageFiles()),
              (std::vector<std::wstring>{L"zolchip.inf", L"zolchip.in_", L"zolchip_x86.cat", L"zolchip_x86.ca_",
                                         L"zolchip_amd64.cat", L"zolchip_amd64.ca_", L"zolchip.sys", L"zolchip.sy_",
                                         L"zolchip.cfg", L"zolchip.cf_", L"zolchip_src.dat", L"zolchip_src.da_"}));
    EXPECT_EQ(FilesIn(StagingFolder()),
              (std::vector<std::wstring>{L"zolchip.cfg", L"zolchip.inf", L"zolchip.sy_", L"zolchip.sys",
                                         L"zolchip_amd64.cat", L"zolchip_src.dat", L"zolchip_x86.cat"}));
    EXPECT_EQ(zoltest::ReadBytes(StagingFolder() + L"\\zolchip.sy_"), "compressed");

    // A read-only copy from an earlier run is overwritten.
    std::wstring staged = StagingFolder() + L"\\zolchip.cfg";
    ASSERT_TRUE(zoltest::WriteBytes(staged, "old"));
    SetFileAttributesW(staged.c_str(), FILE_ATTRIBUTE_READONLY);
    CWin2000PnPDriver again(L"zolchip.inf", 1);
    again.StageDriverFiles(StagingFolder().c_str());
    EXPECT_EQ(zoltest::ReadBytes(staged), zoltest::ReadBytes(m_dir + L"\\zolchip.cfg"));
}

TEST_F(PnPInstall, StagingFollowsEveryCopyFilesFormAndCatalogKey)
{
    std::wstring longName(300, L'n');
    std::wstring inf = L"[Version]\r\n"
                       L"Signature=\"$Windows NT$\"\r\n"
                       L"CatalogFile=all.cat\r\n"
                       L"CatalogFile.nt=nt.cat\r\n"
                       L"CatalogFile.ntia64=" + longName + L".cat\r\n"
                       L"[Install.NT]\r\n"
                       L"CopyFiles=@first.sys, ListA, Missing.Section, @" + longName + L".sys\r\n"
                       L"CopyFiles=ListB\r\n"
                       L"[Other]\r\n"
                       L"copyfiles=ListA,@readme\r\n"
                       L"[ListA]\r\n"
                       L"dest.sys,src.sys\r\n"
                       L"plain.dll\r\n"
                       L"empty_source.dll,\r\n"
                       L"[ListB]\r\n"
                       L"first.sys\r\n"
                       L"[Empty.Section]\r\n"
                       L"[Strings]\r\n";
    ASSERT_TRUE(zoltest::WriteUtf8(m_dir + L"\\test.inf", inf));
    for (const wchar_t* name : {L"first.sys", L"src.sys", L"plain.dll", L"empty_source.dll", L"readme", L"all.cat",
                                L"nt.cat"})
        ASSERT_TRUE(zoltest::WriteBytes(m_dir + L"\\" + name, "x"));

    CWin2000PnPDriver driver(L"test.inf", 1);
    EXPECT_EQ(driver.StageDriverFiles(StagingFolder().c_str()), 0);
    // The over-long catalog name does not fit its field and is left out; the
    // over-long "@" name is listed but cannot be copied.
    EXPECT_EQ(ToVector(driver.GetStageFiles()),
              (std::vector<std::wstring>{L"test.inf", L"test.in_", L"all.cat", L"all.ca_", L"nt.cat", L"nt.ca_",
                                         L"first.sys", L"first.sy_", longName + L".sys", longName + L".sy_",
                                         L"readme", L"readme._", L"src.sys", L"src.sy_", L"plain.dll", L"plain.dl_",
                                         L"empty_source.dll", L"empty_source.dl_"}));
    EXPECT_EQ(FilesIn(StagingFolder()),
              (std::vector<std::wstring>{L"all.cat", L"empty_source.dll", L"first.sys", L"nt.cat", L"plain.dll",
                                         L"readme", L"src.sys", L"test.inf"}));
}

TEST_F(PnPInstall, AnInfThatCannotBeOpenedStagesOnlyItself)
{
    CWin2000PnPDriver driver(L"missing.inf", 1);
    EXPECT_EQ(driver.StageDriverFiles(StagingFolder().c_str()), 0);
    EXPECT_EQ(ToVector(driver.GetStageFiles()), (std::vector<std::wstring>{L"missing.inf", L"missing.in_"}));

    // A name too long for any path: nothing is read or copied, nothing overruns.
    std::wstring longInf(400, L'i');
    CWin2000PnPDriver tooLong((longInf + L".inf").c_str(), 1);
    EXPECT_EQ(tooLong.StageDriverFiles(StagingFolder().c_str()), 0);
    EXPECT_EQ(tooLong.GetStageFiles().size(), 2u);
}

TEST_F(PnPInstall, NoSupportedIdsGivesMessage4InBothLogs)
{
    zoltest::ClearLogs();
    CBaseComponent component;
    component.GetLog()->SetVerbose(1);
    component.GetLog()->Open();
    component.SetInfFile(L"zolchip.inf", INF_TYPE_PNP);
    EXPECT_EQ(component.InstallPnP(0, nullptr, m_message, 0, L"en"), 0);
    EXPECT_STREQ(m_message, L"No supported devices were specified.");
    component.GetLog()->Close();
    EXPECT_EQ(zoltest::ReadMainLog(), "No supported devices were specified.\r\n");
    EXPECT_EQ(zoltest::ReadVerboseLogs(), "No supported devices were specified.\r\n");
    EXPECT_FALSE(zoltest::FileExists(StagingFolder() + L"\\zolchip.inf"));
}

TEST_F(PnPInstall, NoSupportedDevicePresentStagesNothing)
{
    CBaseComponent component;
    Configure(component, {kAbsentId, L"PCI\\VEN_8086&DEV_0E83"});
    EXPECT_EQ(component.InstallPnP(0, nullptr, m_message, 0, L"en"), 0);
    EXPECT_STREQ(m_message, kNoDevicesEn);
    EXPECT_TRUE(FilesIn(StagingFolder()).empty());

    CFakeNewDevLibrary library;
    CNewDevOverrideScope scope(&library);
    CBaseComponent japanese;
    Configure(japanese, {kAbsentId});
    EXPECT_EQ(japanese.InstallPnP(0, nullptr, m_message, 0, L"JA"), 0);
    EXPECT_STREQ(m_message, kNoDevicesJa);
    EXPECT_TRUE(library.loadPaths.empty()) << "the library is not loaded without a device";
}

TEST_F(PnPInstall, PresentDevicesAreBoundToTheStagedInf)
{
    CTestDevice first({kId0E83, L"PCI\\VEN_8086&DEV_0E83&SUBSYS_7C41A2E9&REV_02"});
    CTestDevice second({kId0E84});
    ASSERT_TRUE(first.Valid() && second.Valid());

    CBaseComponent component;
    Configure(component, {kAbsentId, kId0E83, kId0E84});
    EXPECT_EQ(component.InstallPnP(0, nullptr, m_message, 0, L"en"), 1);
    EXPECT_TRUE(MessageUntouched());

    for (const CTestDevice* device : {&first, &second}) {
        EXPECT_EQ(device->Property(SPDRP_SERVICE), L"zolchip") << device->Instance();
        std::wstring driverKey = device->Property(SPDRP_DRIVER);
        EXPECT_EQ(_wcsnicmp(driverKey.c_str(), L"{4d36e97d-e325-11ce-bfc1-08002be10318}\\", 39), 0) << driverKey;
    }
    EXPECT_TRUE(ServiceExists(L"zolchip"));
    EXPECT_TRUE(zoltest::FileExists(L"C:\\windows\\system32\\drivers\\zolchip.sys"));
    // The file-list line with another source name arrives under its own name.
    EXPECT_EQ(zoltest::ReadBytes(L"C:\\windows\\system32\\drivers\\zolchip.dat"),
              zoltest::ReadBytes(m_dir + L"\\zolchip_src.dat"));
    EXPECT_EQ(FilesIn(StagingFolder()),
              (std::vector<std::wstring>{L"zolchip.cfg", L"zolchip.inf", L"zolchip.sys", L"zolchip_amd64.cat",
                                         L"zolchip_src.dat", L"zolchip_x86.cat"}));

    // The package's own restart demand turns success into 2.
    CBaseComponent rebooting;
    Configure(rebooting, {kId0E83});
    rebooting.SetRebootRequired(1);
    EXPECT_EQ(rebooting.InstallPnP(0, nullptr, m_message, 0, L"en"), 2);
    EXPECT_TRUE(MessageUntouched());
}

TEST_F(PnPInstall, EachPresentIdIsUpdatedOnceWithTheForcedStagedInf)
{
    CTestDevice device({kId0E90});
    CTestDevice other({kId0E84});
    ASSERT_TRUE(device.Valid() && other.Valid());
    CFakeNewDevLibrary library;
    CNewDevOverrideScope scope(&library);

    const wchar_t lower[] = L"pci\\ven_8086&dev_0e90&subsys_7c41a2e9";
    UINT errorMode = GetErrorMode();
    CBaseComponent component;
    Configure(component, {kId0E90, kAbsentId, lower, kId0E84, kId0E90});
    EXPECT_EQ(component.InstallPnP(0, nullptr, m_message, 0, L"en"), 1);
    EXPECT_TRUE(MessageUntouched());

    ASSERT_EQ(library.calls.size(), 3u);
    EXPECT_EQ(library.calls[0].hardwareId, kId0E90);
    EXPECT_EQ(library.calls[1].hardwareId, lower);
    EXPECT_EQ(library.calls[2].hardwareId, kId0E84);
    for (const UPDATECALL& call : library.calls) {
        EXPECT_EQ(call.infPath, L"C:\\DEVAVOROR\\pnpdrvs\\zolchip.inf");
        EXPECT_EQ(call.flags, static_cast<DWORD>(INSTALLFLAG_FORCE));
    }
    wchar_t system[MAX_PATH];
    GetSystemDirectoryW(system, MAX_PATH);
    ASSERT_EQ(library.loadPaths.size(), 1u);
    EXPECT_EQ(library.loadPaths[0], std::wstring(system) + L"\\newdev.dll");
    EXPECT_TRUE(library.errorModeAtLoad & SEM_FAILCRITICALERRORS);
    EXPECT_EQ(GetErrorMode(), errorMode) << "the error mode is restored";
    EXPECT_EQ(library.frees, 1);
    EXPECT_TRUE(zoltest::FileExists(StagingFolder() + L"\\zolchip.inf"));
}

TEST_F(PnPInstall, RestartRequestAndFailuresMapToTheResult)
{
    CTestDevice a({kId0E83});
    CTestDevice b({kId0E84});
    ASSERT_TRUE(a.Valid() && b.Valid());

    {   // One device asks for a restart: 2.
        CFakeNewDevLibrary library;
        library.SetOutcome(kId0E84, TRUE, TRUE);
        CNewDevOverrideScope scope(&library);
        CBaseComponent component;
        Configure(component, {kId0E83, kId0E84});
        EXPECT_EQ(component.InstallPnP(0, nullptr, m_message, 0, L"en"), 2);
        EXPECT_TRUE(MessageUntouched());
    }
    {   // The first asks for a restart, the second fails: 0 with message 7,
        // and the loop went on past the failure.
        CFakeNewDevLibrary library;
        library.SetOutcome(kId0E83, TRUE, TRUE);
        library.SetOutcome(kId0E84, FALSE, FALSE);
        CNewDevOverrideScope scope(&library);
        CBaseComponent component;
        Configure(component, {kId0E83, kId0E84});
        component.SetRebootRequired(1);
        EXPECT_EQ(component.InstallPnP(0, nullptr, m_message, 0, L"en"), 0);
        EXPECT_STREQ(m_message, kDeviceFailedEn);
        EXPECT_EQ(library.calls.size(), 2u);
    }
    {   // A failing first device does not stop the second.
        CFakeNewDevLibrary library;
        library.SetOutcome(kId0E83, FALSE, FALSE);
        CNewDevOverrideScope scope(&library);
        CBaseComponent component;
        Configure(component, {kId0E83, kId0E84});
        EXPECT_EQ(component.InstallPnP(0, nullptr, m_message, 0, L"de"), 0);
        EXPECT_STREQ(m_message, kDeviceFailedEn);
        EXPECT_EQ(library.calls.size(), 2u);
    }
}

TEST_F(PnPInstall, MissingLibraryOrFunctionGivesMessage5AndStagesNothing)
{
    CTestDevice device({kId0E83});
    ASSERT_TRUE(device.Valid());
    {
        CFakeNewDevLibrary library;
        library.loads = 0;
        CNewDevOverrideScope scope(&library);
        CBaseComponent component;
        Configure(component, {kId0E83});
        EXPECT_EQ(component.InstallPnP(0, nullptr, m_message, 0, L"fr"), 0);
        EXPECT_STREQ(m_message, kInstallErrorEn);
        EXPECT_EQ(library.lookups, 0);
        EXPECT_TRUE(library.calls.empty());
    }
    EXPECT_TRUE(FilesIn(StagingFolder()).empty());
    {
        CFakeNewDevLibrary library;
        library.hasFunction = 0;
        CNewDevOverrideScope scope(&library);
        CBaseComponent component;
        Configure(component, {kId0E83});
        EXPECT_EQ(component.InstallPnP(0, nullptr, m_message, 0, L"ja"), 0);
        EXPECT_STREQ(m_message, kInstallErrorJa);
        EXPECT_EQ(library.frees, 1);
        EXPECT_TRUE(library.calls.empty());
    }
    EXPECT_TRUE(FilesIn(StagingFolder()).empty());
}

TEST_F(PnPInstall, AnIdTooLongForItsBufferCountsAsAFailedDevice)
{
    CFakeNewDevLibrary library;
    CNewDevOverrideScope scope(&library);
    std::wstring longest(255, L'A');
    std::wstring tooLong(256, L'B');
    CWin2000PnPDriver driver(L"zolchip.inf", 1);
    driver.AddHardwareId(longest.c_str());
    driver.AddHardwareId(tooLong.c_str());
    driver.AddHardwareId(kId0E83);
    EXPECT_EQ(driver.InstallDrivers(), PNP_INSTALL_UPDATE_FAILED);
    ASSERT_EQ(library.calls.size(), 2u);
    EXPECT_EQ(library.calls[0].hardwareId, longest);
    EXPECT_EQ(library.calls[1].hardwareId, kId0E83);

    // An INF name too long for the staged path: no device can be updated.
    CFakeNewDevLibrary second;
    CNewDevOverrideScope secondScope(&second);
    CWin2000PnPDriver longInf((std::wstring(300, L'i') + L".inf").c_str(), 1);
    longInf.AddHardwareId(kId0E83);
    EXPECT_EQ(longInf.InstallDrivers(), PNP_INSTALL_UPDATE_FAILED);
    EXPECT_TRUE(second.calls.empty());

    CWin2000PnPDriver empty(L"zolchip.inf", 0);
    EXPECT_EQ(empty.InstallDrivers(), PNP_INSTALL_NO_DEVICES);
}

TEST_F(PnPInstall, UnforcedDriverPassesNoFlags)
{
    CFakeNewDevLibrary library;
    library.SetOutcome(kId0E83, TRUE, TRUE);
    CNewDevOverrideScope scope(&library);
    CWin2000PnPDriver driver(L"zolchip.inf", 0);
    driver.AddHardwareId(kId0E83);
    EXPECT_EQ(driver.IsRebootRequired(), 0);
    EXPECT_EQ(driver.InstallDrivers(), PNP_INSTALL_DONE);
    ASSERT_EQ(library.calls.size(), 1u);
    EXPECT_EQ(library.calls[0].flags, 0u);
    EXPECT_EQ(driver.IsRebootRequired(), 1);
}
