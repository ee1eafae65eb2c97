// Properties 5 and 3 through the host after the sample PnP package has been
// installed: a new installation, the same version once the driver runs, an
// upgrade by a newer package; the status follows the key file's version, and
// with the device gone the package counts as installed without hardware.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "basecomp.h"
#include "prereqtest.h"
#include "testsupport.h"

using namespace prereqtest;

namespace {

const wchar_t kKeyFile[] = L"C:\\windows\\system32\\drivers\\zolchip.sys";

bool ReplaceKeyFile(const wchar_t* versionDll)
{
    return CopyFileW(zoltest::BinPath(versionDll).c_str(), kKeyFile, FALSE) != 0;
}

// Installs the package through the host; the install result, -1 when the
// report has none.
int InstallPackage(const std::wstring& dir)
{
    const std::string key = "\"install\":{\"result\":";
    zoltest::ProcessResult run = zoltest::RunHost(dir, L"--json --lang en");
    size_t at = run.output.find(key);
    return at == std::string::npos ? -1 : std::atoi(run.output.c_str() + at + key.size());
}

// Starts the drivers of the bound devices, as Windows does once a device's
// driver is installed (Wine does not).
bool StartDrivers()
{
    return zoltest::RunDevsim(L"start").exitCode == 0;
}

} // namespace

TEST(PrereqInstalled, NewInstallationThenSameVersionThenUpgrade)
{
    ASSERT_TRUE(SetHostWindowsVersion(L"win7"));
    CDeviceScope device(ChipsetDeviceIds());
    ASSERT_TRUE(device.Valid());
    std::wstring dir = MakePackage(L"pi_lifecycle");
    std::wstring newer = MakePackage(L"pi_lifecycle_newer", L"chipset-1.2.4.0");
    EXPECT_EQ(CheckPackage(dir).status, STATUS_NOT_INSTALLED);
    EXPECT_EQ(CheckPackage(dir, L"en", 3).result, 0);
    ASSERT_EQ(InstallPackage(dir), 1);

    // Installed, but its driver not started yet: the service drives no device.
    EXPECT_EQ(CheckPackage(dir).status, STATUS_NOT_INSTALLED);
    ASSERT_TRUE(StartDrivers());
    HostAnswer answer = CheckPackage(dir);
    EXPECT_EQ(answer.status, STATUS_INSTALLED_SAME) << answer.output;
    EXPECT_EQ(answer.message, "");
    EXPECT_EQ(CheckPackage(dir, L"en", 3).value, "1.2.3.0");

    // The newer build of the package upgrades it; the older one then finds a
    // newer version installed.
    answer = CheckPackage(newer);
    EXPECT_EQ(answer.status, STATUS_INSTALLED_OLDER) << answer.output;
    EXPECT_EQ(CheckPackage(newer, L"en", 4).value, "1.2.4.0");
    ASSERT_EQ(InstallPackage(newer), 1);
    answer = CheckPackage(newer);
    EXPECT_EQ(answer.status, STATUS_INSTALLED_SAME) << answer.output;
    EXPECT_EQ(CheckPackage(newer, L"en", 3).value, "1.2.4.0");
    EXPECT_EQ(CheckPackage(dir).status, STATUS_INSTALLED_NEWER);

    SetHostWindowsVersion(nullptr);
}

TEST(PrereqInstalled, StatusFollowsTheKeyFileVersion)
{
    ASSERT_TRUE(SetHostWindowsVersion(L"win7"));
    CDeviceScope device(ChipsetDeviceIds());
    ASSERT_TRUE(device.Valid());
    std::wstring dir = MakePackage(L"pi_package");
    ASSERT_EQ(InstallPackage(dir), 1);
    ASSERT_TRUE(zoltest::FileExists(kKeyFile));
    ASSERT_TRUE(StartDrivers());

    // A key file without a version resource reads as 0.0.0.0, older than the
    // package's 1.2.3.0.
    ASSERT_TRUE(zoltest::WriteBytes(kKeyFile, "not a driver image"));
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
