// Uninstall on the real platform, in-process: the component of a package
// folder installs and uninstalls as a host would drive it (a fresh component
// per run, initialised from the package folder), with simulated devices.
// What Wine cannot produce goes through the named seams: a device that is
// not present (SetDevicePresenceOverride) and the platform's driver-package
// uninstall (SetDriverPackageUninstallOverride).
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "component.h"
#include "devices/devicedrivers.h"
#include "inf/servicecontrol.h"
#include "installrecord.h"
#include "messages.h"
#include "pnphelpers.h"
#include "testsupport.h"

using namespace pnptest;

namespace {

const wchar_t kId0E83[] = L"PCI\\VEN_8086&DEV_0E83&SUBSYS_7C41A2E9";
const wchar_t kId0EA8[] = L"PCI\\VEN_8086&DEV_0EA8&SUBSYS_7C41A2E9";
const wchar_t kDriverFile[] = L"C:\\windows\\system32\\drivers\\zolchip.sys";
const wchar_t kInfCopy[] = L"C:\\windows\\inf\\zolchip.inf";

struct RunResult {
    int result = -1;
    std::wstring message;
    std::vector<ZOL_DEVICE_RESULT> devices; // property 10 afterwards
};

struct Plan {
    int result = -1;
    int state = -1;
    std::vector<ZOL_DEVICE_RESULT> devices;
};

// Property 10 or 11, asked as a host asks it.
int AskRecords(CBaseComponent& component, int property, std::vector<ZOL_DEVICE_RESULT>* records, int* state)
{
    std::vector<BYTE> block(ZOL_DEVICE_RESULTS_BYTES(0));
    auto header = [&block] { return reinterpret_cast<ZOL_DEVICE_RESULTS*>(block.data()); };
    header()->cbRecord = sizeof(ZOL_DEVICE_RESULT);
    int result = component.GetProperty(property, block.data(), static_cast<int>(block.size()), nullptr);
    if (!result && header()->nCount > 0) {
        int count = header()->nCount;
        block.assign(ZOL_DEVICE_RESULTS_BYTES(count), 0);
        header()->cbRecord = sizeof(ZOL_DEVICE_RESULT);
        result = component.GetProperty(property, block.data(), static_cast<int>(block.size()), nullptr);
    }
    if (state)
        *state = header()->nPackageState;
    records->assign(header()->Devices, header()->Devices + (result ? header()->nCount : 0));
    return result;
}

std::string Text(const std::wstring& text) { return zoltest::ToUtf8(text); }

// "instance action target-inf target-version outcome" for each record.
std::vector<std::string> Actions(const std::vector<ZOL_DEVICE_RESULT>& records)
{
    std::vector<std::string> out;
    for (const ZOL_DEVICE_RESULT& r : records)
        out.push_back(Text(r.szInstanceId) + " " + std::to_string(r.nAction) + " " + Text(r.szTargetInf) + " " +
                      Text(r.szTargetVersion) + " " + std::to_string(r.nOutcome));
    return out;
}

bool KeyExists(const wchar_t* path)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, KEY_READ | KEY_WOW64_64KEY, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

class Uninstall : public ::testing::Test
{
protected:
    void SetUp() override
    {
        // Every test starts from a machine this package never touched.
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\zolcomp");
        zoltest::RemoveTree(L"C:\\DEVAVOROR\\packages");
        zoltest::RemoveTree(StagingFolder());
        for (const wchar_t* file : {kInfCopy, L"C:\\windows\\inf\\zolchip.pnf", kDriverFile,
                                    L"C:\\windows\\system32\\drivers\\zolchip.cfg",
                                    L"C:\\windows\\system32\\drivers\\zolchip.dat"})
            DeleteFileW(file);
        StopAndDeleteService(L"zolchip", nullptr);
        zoltest::ClearLogs();
        const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
        std::wstring name = zoltest::FromUtf8(info->name());
        m_old = zoltest::MakeTestDir(name + L"_1.2.3.0");
        m_new = zoltest::MakeTestDir(name + L"_1.2.4.0");
        ASSERT_TRUE(zoltest::CopyTree(zoltest::ExamplePath(L"chipset"), m_old));
        ASSERT_TRUE(zoltest::CopyTree(zoltest::ExamplePath(L"chipset-1.2.4.0"), m_new));
    }

    // One run of a host in a package folder: load (initialise), then
    // Install or Uninstall, then property 10.
    RunResult Operate(const std::wstring& dir, bool uninstall, int flags = 0, const wchar_t* language = L"en")
    {
        CCurrentDirectoryScope cwd(dir);
        CComponentDirectoryScope module(dir);
        CComponent component;
        component.Initialize();
        wchar_t message[ZOL_MESSAGE_CHARS] = {};
        RunResult run;
        run.result = uninstall ? component.Uninstall(flags, nullptr, message, 0, language)
                               : component.Install(0, nullptr, message, 0, language);
        run.message = message;
        AskRecords(component, ZOL_PROP_DEVICE_RESULTS, &run.devices, nullptr);
        component.GetLog()->Close();
        return run;
    }
    Plan AskPlan(const std::wstring& dir)
    {
        CCurrentDirectoryScope cwd(dir);
        CComponentDirectoryScope module(dir);
        CComponent component;
        component.Initialize();
        Plan plan;
        plan.result = AskRecords(component, ZOL_PROP_UNINSTALL_PLAN, &plan.devices, &plan.state);
        component.GetLog()->Close();
        return plan;
    }
    int Status(const std::wstring& dir)
    {
        CCurrentDirectoryScope cwd(dir);
        CComponentDirectoryScope module(dir);
        CComponent component;
        component.Initialize();
        PREREQSTATUS status = {};
        component.GetProperty(ZOL_PROP_PREREQUISITES, &status, sizeof(status), const_cast<wchar_t*>(L"en"));
        component.GetLog()->Close();
        return status.nStatus;
    }
    static DEVICEDRIVER Driver(const std::wstring& instance)
    {
        DEVICEDRIVER driver;
        ReadDeviceDriver(instance.c_str(), &driver);
        return driver;
    }

    std::wstring m_old, m_new;
};

TEST_F(Uninstall, AnUpgradeTakenOffPutsTheDevicesBackOnTheEarlierVersion)
{
    CSimulatedDevice device({kId0E83});
    ASSERT_FALSE(device.Instance().empty());
    ASSERT_EQ(Operate(m_old, false).result, ZOL_INSTALL_SUCCESS);
    ASSERT_EQ(Operate(m_new, false).result, ZOL_INSTALL_SUCCESS);
    // The platform's PnP manager starts the bound drivers (devsim plays it).
    zoltest::RunDevsim(L"start");
    ASSERT_EQ(zoltest::ReadBytes(kDriverFile), zoltest::ReadBytes(m_new + L"\\zolchip.sys"));
    EXPECT_EQ(CInstallRecord(L"zolchip.inf_1.2.3.0").ReadValue(RECORD_SUPERSEDED_BY).GetString(),
              std::wstring(L"zolchip.inf_1.2.4.0"));

    // The older version cannot be taken off from under the newer one.
    RunResult refused = Operate(m_old, true, 0, L"de");
    EXPECT_EQ(refused.result, ZOL_INSTALL_FAILED);
    EXPECT_EQ(refused.message,
              L"Version 1.2.4.0 dieses Pakets ist \u00FCber dieser installiert. Deinstallieren Sie sie zuerst.");

    Plan plan = AskPlan(m_new);
    EXPECT_EQ(plan.result, 1);
    EXPECT_EQ(plan.state, ZOL_PACKAGE_INSTALLED);
    EXPECT_EQ(Actions(plan.devices),
              (std::vector<std::string>{Text(device.Instance()) + " 1 zolchip.inf 1.2.3.0 4"}));

    RunResult run = Operate(m_new, true);
    EXPECT_EQ(run.result, ZOL_INSTALL_SUCCESS) << Text(run.message) << zoltest::ReadMainLog();
    EXPECT_EQ(run.message, L"");
    EXPECT_EQ(Actions(run.devices), (std::vector<std::string>{Text(device.Instance()) + " 1 zolchip.inf 1.2.3.0 1"}));
    // The earlier version's driver, byte for byte, on the device.
    EXPECT_EQ(zoltest::ReadBytes(kDriverFile), zoltest::ReadBytes(m_old + L"\\zolchip.sys"));
    EXPECT_EQ(Driver(device.Instance()).inf.GetString(), std::wstring(L"zolchip.inf"));
    EXPECT_EQ(Driver(device.Instance()).service.GetString(), std::wstring(L"zolchip"));
    EXPECT_TRUE(zoltest::FileExists(kInfCopy)) << "the earlier version uses it";
    EXPECT_FALSE(CInstallRecord(L"zolchip.inf_1.2.4.0").Exists());
    EXPECT_FALSE(zoltest::FileExists(L"C:\\DEVAVOROR\\packages\\zolchip.inf_1.2.4.0\\store\\zolchip.inf"));
    CInstallRecord earlier(L"zolchip.inf_1.2.3.0");
    EXPECT_EQ(earlier.GetState(), RECORD_STATE_INSTALLED);
    EXPECT_TRUE(earlier.ReadValue(RECORD_SUPERSEDED_BY).IsEmpty());
    EXPECT_EQ(Status(m_old), STATUS_INSTALLED_SAME);
    EXPECT_TRUE(pnptest::FilesIn(StagingFolder()).empty());

    std::string log = zoltest::ReadMainLog();
    for (const char* line : {"Initiating uninstallation... \r\n",
                             "    - Staging zolchip.inf 1.2.3.0 again... Done.\r\n",
                             "    - Putting back C:\\windows\\system32\\drivers\\zolchip.sys... Done.\r\n",
                             "    - Emptying the staging folder... Done.\r\n",
                             "    - Removing the install record zolchip.inf_1.2.4.0... Done.\r\n"})
        EXPECT_NE(log.find(line), std::string::npos) << line << "\n" << log;
}

TEST_F(Uninstall, TheOnlyVersionNeedsForceToLeaveADeviceWithoutADriver)
{
    CSimulatedDevice device({kId0E83});
    ASSERT_EQ(Operate(m_old, false).result, ZOL_INSTALL_SUCCESS);
    zoltest::RunDevsim(L"start");
    EXPECT_EQ(Status(m_old), STATUS_INSTALLED_SAME);
    Plan plan = AskPlan(m_old);
    EXPECT_EQ(Actions(plan.devices), (std::vector<std::string>{Text(device.Instance()) + " 3   4"}));

    RunResult refused = Operate(m_old, true);
    EXPECT_EQ(refused.result, ZOL_INSTALL_FAILED);
    EXPECT_EQ(refused.message, L"No other driver is available for device " + device.Instance() +
                                   L". The package was not uninstalled; uninstall it with force to leave the device "
                                   L"without a driver.");
    ASSERT_EQ(refused.devices.size(), 1u);
    EXPECT_EQ(refused.devices[0].nOutcome, ZOL_DEVICE_NOT_ATTEMPTED);
    EXPECT_EQ(refused.devices[0].nReason, ZOL_REASON_NO_DRIVER_LEFT);
    EXPECT_EQ(Driver(device.Instance()).inf.GetString(), std::wstring(L"zolchip.inf"));
    EXPECT_EQ(CInstallRecord(L"zolchip.inf_1.2.3.0").GetState(), RECORD_STATE_INSTALLED);

    RunResult forced = Operate(m_old, true, ZOL_UNINSTALL_FORCE);
    EXPECT_EQ(forced.result, ZOL_INSTALL_SUCCESS) << Text(forced.message) << zoltest::ReadMainLog();
    DEVICEDRIVER after = Driver(device.Instance());
    EXPECT_TRUE(after.inf.IsEmpty()) << Text(after.inf.GetString());
    EXPECT_TRUE(after.service.IsEmpty()) << Text(after.service.GetString());
    EXPECT_FALSE(zoltest::FileExists(kDriverFile));
    EXPECT_FALSE(zoltest::FileExists(kInfCopy));
    EXPECT_FALSE(CServiceControl(L"zolchip").ServiceExists());
    EXPECT_FALSE(KeyExists(L"SOFTWARE\\zolcomp\\Packages\\zolchip.inf_1.2.3.0"));
    EXPECT_EQ(Status(m_old), STATUS_NOT_INSTALLED);

    // Nothing is left to take off.
    RunResult again = Operate(m_old, true);
    EXPECT_EQ(again.result, ZOL_INSTALL_FAILED);
    EXPECT_EQ(again.message, L"This package is not installed.");
    EXPECT_EQ(AskPlan(m_old).state, ZOL_PACKAGE_NOT_INSTALLED);
}

} // namespace
