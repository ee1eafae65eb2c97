// The start-up sequence: its verbose log lines, its result, and the supported
// hardware list that CComponent completes.
#include <gtest/gtest.h>

#include "component.h"
#include "testsupport.h"

using namespace zoltest;

namespace {

// Runs Initialize with verbose logging in dir and returns the verbose log
// (times masked).
template <typename Component>
std::string InitializeIn(const std::wstring& dir, int* result, Component& component)
{
    SetCurrentDirectoryW(dir.c_str());
    component.GetLog()->SetVerbose(1);
    *result = component.Initialize();
    std::wstring path = std::wstring(component.GetLog()->GetVerboseLogDir()) + component.GetLog()->GetVerboseLogName();
    component.GetLog()->Close();
    std::string log = MaskTimes(ReadBytes(path));
    DeleteFileW(path.c_str());
    SetCurrentDirectoryW(L"C:\\");
    return log;
}

const char kPreamble[] = "[T]::basecomp.cpp[84] Detecting if 64-bit operating system... \r\n"
                         "[T]::basecomp.cpp[1540]     - Operating system is 64-bit.\r\n"
                         "[T]::basecomp.cpp[1541]     - Operating system is x64 based.\r\n";

const char kPackage[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"
    "<zol_package>\r\n"
    "  <filename>qx012345.exe</filename>\r\n"
    "  <version value=\"1.2.3.0\"/>\r\n"
    "  <prerequisites>\r\n"
    "    <supported_devices>\r\n"
    "      <supported_devices_and>\r\n"
    "        <supported_device type=\"pnp\">\r\n"
    "          <supported_device_data name=\"id\">ZOLTEST\\PACKAGE_DEVICE</supported_device_data>\r\n"
    "        </supported_device>\r\n"
    "      </supported_devices_and>\r\n"
    "    </supported_devices>\r\n"
    "  </prerequisites>\r\n"
    "</zol_package>\r\n";

} // namespace

TEST(Initialize, EmptyDirectoryLogsEachStepAndSucceeds)
{
    std::wstring dir = MakeTestDir(L"init-empty");
    CComponent component;
    int result = -1;
    std::string log = InitializeIn(dir, &result, component);
    EXPECT_EQ(result, 1);
    EXPECT_EQ(log, std::string(kPreamble) +
                       "[T]::basecomp.cpp[87] Locating package definition file... Failed!\r\n"
                       "[T]::basecomp.cpp[110] Checking for install.xml... Not found.\r\n");
    // Without package devices the supported list is exactly the built-in one.
    const CStrList& ids = component.GetSupportedHardwareIds();
    ASSERT_EQ(ids.size(), 78u);
    EXPECT_STREQ(ids.front().GetString(), L"PCI\\VEN_8086&DEV_0E83&SUBSYS_7C41A2E9");
    EXPECT_STREQ(ids.back().GetString(), L"PCI\\VEN_8086&DEV_0E38&SUBSYS_7C41A2E9");
    EXPECT_TRUE(component.GetPresentDeviceIds().empty());
    EXPECT_EQ(component.Is64BitOs(), 1);
}

TEST(Initialize, MalformedInstallerXmlFailsTheResult)
{
    std::wstring dir = MakeTestDir(L"init-badinstall");
    ASSERT_TRUE(WriteBytes(dir + L"\\install.xml", "<zol_install><inf_information>"));
    CBaseComponent component;
    int result = -1;
    std::string log = InitializeIn(dir, &result, component);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(log, std::string(kPreamble) +
                       "[T]::basecomp.cpp[87] Locating package definition file... Failed!\r\n"
                       "[T]::basecomp.cpp[110] Checking for install.xml... Found.\r\n"
                       "[T]::basecomp.cpp[117]     - Reading installer XML... Failed!\r\n");
}

TEST(Initialize, PackageDevicesComeFirstAndTheDeviceListIsBuilt)
{
    std::wstring dir = MakeTestDir(L"init-package");
    ASSERT_TRUE(WriteBytes(dir + L"\\qx012345.xml", kPackage));
    CComponent component;
    int result = -1;
    std::string log = InitializeIn(dir, &result, component);
    EXPECT_EQ(result, 1);
    EXPECT_EQ(log, std::string(kPreamble) +
                       "[T]::basecomp.cpp[87] Locating package definition file... Done.\r\n"
                       "[T]::basecomp.cpp[93]     - Reading package definition file... Done.\r\n"
                       "[T]::basecomp.cpp[110] Checking for install.xml... Not found.\r\n"
                       "[T]::basecomp.cpp[136] Building PnP device list... Done.\r\n");
    const CStrList& ids = component.GetSupportedHardwareIds();
    ASSERT_EQ(ids.size(), 79u);
    EXPECT_STREQ(ids[0].GetString(), L"ZOLTEST\\PACKAGE_DEVICE");
    EXPECT_STREQ(ids[1].GetString(), L"PCI\\VEN_8086&DEV_0E83&SUBSYS_7C41A2E9");
    // The list was built during start-up: it holds the prefix's own devices.
    EXPECT_FALSE(component.GetPresentDeviceIds().empty());
}

namespace {

// A component whose package-definition reading fails: the start-up steps are
// called through the virtual table, so the override is what runs.
class FailingReadComponent : public CBaseComponent
{
public:
    int ReadPackageDefinition(const wchar_t*) override { return 5; }
};

} // namespace

TEST(Initialize, FailedPackageReadingIsLoggedAndLoadingGoesOn)
{
    std::wstring dir = MakeTestDir(L"init-badpackage");
    ASSERT_TRUE(WriteBytes(dir + L"\\qx000001.xml", kPackage));
    FailingReadComponent component;
    int result = -1;
    std::string log = InitializeIn(dir, &result, component);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(log, std::string(kPreamble) +
                       "[T]::basecomp.cpp[87] Locating package definition file... Done.\r\n"
                       "[T]::basecomp.cpp[93]     - Reading package definition file... Failed!\r\n"
                       "[T]::basecomp.cpp[110] Checking for install.xml... Not found.\r\n");
}

TEST(Initialize, PackageDefinitionIsReadOncePerComponent)
{
    std::wstring dir = MakeTestDir(L"init-readonce");
    ASSERT_TRUE(WriteBytes(dir + L"\\qx000001.xml", kPackage));
    CBaseComponent component;
    SetCurrentDirectoryW(dir.c_str());
    EXPECT_EQ(component.ReadPackageDefinition(L"qx000001.xml"), 0);
    EXPECT_EQ(component.ReadPackageDefinition(L"qx000001.xml"), 1);
    EXPECT_EQ(component.ReadPackageDefinition(nullptr), 4);
    SetCurrentDirectoryW(L"C:\\");
}
