// Properties 5 and 3 through the host after the sample PnP package has been
// installed: the status follows the key file's version, and with the device
// gone the package counts as installed without hardware.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "basecomp.h"
#include "prereqtest.h"
#include "testsupport.h"

using namespace prereqtest;

namespace {

const wchar_t kKeyFile[] = L"C:\\windows\\system32\\drivers\\zolchip.sys";
const wchar_t kEnumKey[] = L"SYSTEM\\CurrentControlSet\\Services\\zolchip\\Enum";

// Records the device instance the service drives, as the PnP manager does
// on Windows once the driver is bound (Wine does not write these values).
bool RecordDrivenDevice(const std::wstring& instance)
{
    return SetRegDword(kEnumKey, L"Count", 1) && SetRegString(kEnumKey, L"0", instance);
}

bool ReplaceKeyFile(const wchar_t* versionDll)
{
    return CopyFileW(zoltest::BinPath(versionDll).c_str(), kKeyFile, FALSE) != 0;
}

} // namespace

TEST(PrereqInstalled, StatusFollowsTheKeyFileVersion)
{
    ASSERT_TRUE(SetHostWindowsVersion(L"win7"));
    CDeviceScope device(ChipsetDeviceIds());
    ASSERT_TRUE(device.Valid());
    std::wstring dir = MakePackage(L"pi_package");
    EXPECT_EQ(CheckPackage(dir).status, STATUS_NOT_INSTALLED);

    zoltest::ProcessResult install = zoltest::RunHost(dir, L"--json --lang en");
    ASSERT_NE(install.output.find("\"install\":{\"result\":1,"), std::string::npos) << install.output;
    ASSERT_TRUE(zoltest::FileExists(kKeyFile));

    // The service exists but drives no device yet: not installed.
    EXPECT_EQ(CheckPackage(dir).status, STATUS_NOT_INSTALLED);
    ASSERT_TRUE(RecordDrivenDevice(L"PCI\\VEN_8086&DEV_0E83&SUBSYS_7C41A2E9&REV_04\\3&11583659&0&00"));

    // The sample's driver file has no version resource: 0.0.0.0, older than
    // the package's 1.2.3.0.
    zoltest::ClearLogs();
    HostAnswer answer = CheckPackage(dir);
    EXPECT_EQ(answer.status, STATUS_INSTALLED_OLDER) << answer.output;
    EXPECT_EQ(answer.message, "");
    EXPECT_EQ(CheckPackage(dir, L"en", 3).result, 0);
    std::vector<std::string> lines = ChecklistLines(zoltest::ReadMainLog());
    ASSERT_GE(lines.size(), 7u);
    EXPECT_EQ(lines[3], "    - Is component already installed... Yes");
    EXPECT_EQ(lines[5], "    - Installed component version status... Older");

    struct Case {
        const wchar_t* dll;
        int status;
        const char* version;
        const char* logged;
    };
    const Case cases[] = {
        {L"ver_1_2_3_0.dll", STATUS_INSTALLED_SAME, "1.2.3.0", "Same"},
        {L"ver_1_10_0_0.dll", STATUS_INSTALLED_NEWER, "1.10.0.0", "Newer"},
        {L"ver_1_0_0_0.dll", STATUS_INSTALLED_OLDER, "1.0.0.0", "Older"},
        {L"ver_1_2_3_4.dll", STATUS_INSTALLED_NEWER, "1.2.3.4", "Newer"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(zoltest::ToUtf8(c.dll));
        ASSERT_TRUE(ReplaceKeyFile(c.dll));
        zoltest::ClearLogs();
        answer = CheckPackage(dir);
        EXPECT_EQ(answer.status, c.status) << answer.output;
        EXPECT_EQ(answer.message, "");
        lines = ChecklistLines(zoltest::ReadMainLog());
        ASSERT_GE(lines.size(), 7u);
        EXPECT_EQ(lines[5], std::string("    - Installed component version status... ") + c.logged);
        HostAnswer version = CheckPackage(dir, L"en", 3);
        EXPECT_EQ(version.result, 1);
        EXPECT_EQ(version.value, c.version);
    }

    // The device gone: installed, but no hardware.
    device.Remove();
    answer = CheckPackage(dir);
    EXPECT_EQ(answer.status, STATUS_INSTALLED_NO_HARDWARE) << answer.output;
    EXPECT_EQ(answer.message, "");

    SetHostWindowsVersion(nullptr);
}
