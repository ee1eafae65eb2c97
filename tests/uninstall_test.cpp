// Uninstall on the real platform, in-process: the component of a package
// folder installs and uninstalls as a host would drive it (a fresh component
// per run, initialised from the package folder), with simulated devices.
// What Wine cannot produce goes through the named seams: a device that is
// not present (SetDevicePresenceOverride) and the platform's driver-package
// uninstall (SetDriverPackageUninstallOverride).
#include <gtest/gtest.h>

#include <windows.h>
#include <newdev.h>

#include <algorithm>
#include <string>
#include <vector>

#include "component.h"
#include "devices/devicedrivers.h"
#include "inf/newdevlibrary.h"
#include "inf/servicecontrol.h"
#include "installrecord.h"
#include "legacyhelpers.h"
#include "messages.h"
#include "pnphelpers.h"
#include "testsupport.h"

using namespace pnptest;
using legacytest::PendingOperations;

namespace {

const wchar_t kId0E83[] = L"PCI\\VEN_8086&DEV_0E83&SUBSYS_7C41A2E9";
const wchar_t kId0EA8[] = L"PCI\\VEN_8086&DEV_0EA8&SUBSYS_7C41A2E9";
const wchar_t kDriverFile[] = L"C:\\windows\\system32\\drivers\\zolchip.sys";
const wchar_t kInfCopy[] = L"C:\\windows\\inf\\zolchip.inf";
const wchar_t kEntry[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\zolcomp_zolchip.inf";
const wchar_t kKeptOld[] = L"C:\\Program Files\\zolcomp\\zolchip.inf_1.2.3.0";

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

// Another vendor's driver for two of the chipset's devices: no files, no
// service, so the INF folder's copy is complete on its own.
const char kOtherInf[] = "[Version]\r\nSignature=\"$Windows NT$\"\r\nClass=System\r\n"
                         "ClassGUID={4d36e97d-e325-11ce-bfc1-08002be10318}\r\nProvider=Other\r\n"
                         "DriverVer=01/01/2020,2.0.0.0\r\n[Manufacturer]\r\nOther=Other,NTamd64\r\n"
                         "[Other.NTamd64]\r\nOther device=Other_Install,PCI\\VEN_8086&DEV_0E83&SUBSYS_7C41A2E9\r\n"
                         "Other device=Other_Install,PCI\\VEN_8086&DEV_0EA8&SUBSYS_7C41A2E9\r\n"
                         "[Other_Install.NT]\r\n";

// The state an uninstall plan must not touch: the records, the kept files,
// the devices' driver keys and the files the package installs.
std::string Snapshot()
{
    std::string out = ExportUninstallKeys();
    for (const wchar_t* file : {kDriverFile, kInfCopy, L"C:\\windows\\system32\\drivers\\zolchip.cfg"})
        out += zoltest::ReadBytes(file);
    WIN32_FIND_DATAW entry;
    for (const wchar_t* folder : {L"C:\\DEVAVOROR\\packages\\zolchip.inf_1.2.4.0\\backup",
                                  L"C:\\DEVAVOROR\\packages\\zolchip.inf_1.2.4.0\\store"}) {
        HANDLE find = FindFirstFileW((std::wstring(folder) + L"\\*").c_str(), &entry);
        if (find == INVALID_HANDLE_VALUE)
            continue;
        do {
            out += Text(entry.cFileName) + ":" + zoltest::ReadBytes(std::wstring(folder) + L"\\" + entry.cFileName);
        } while (FindNextFileW(find, &entry));
        FindClose(find);
    }
    return out;
}

// A value of the package's entry among the installed programs; empty (or
// 0xFFFFFFFF) when it is not there.
std::wstring Entry(const wchar_t* name) { return legacytest::ReadString(kEntry, name); }
DWORD EntryNumber(const wchar_t* name) { return legacytest::ReadDword(kEntry, name); }

// The command an entry gives for the kept copy in folder.
std::wstring Command(const std::wstring& folder, const wchar_t* options)
{
    return L"\"" + folder + L"\\zolhost.exe\" --uninstall --force" + options + L" --package \"" + folder + L"\" \"" +
           folder + L"\\zolcomp.dll\"";
}

std::string Today()
{
    SYSTEMTIME now;
    GetLocalTime(&now);
    char text[16];
    snprintf(text, sizeof(text), "%04u%02u%02u", now.wYear, now.wMonth, now.wDay);
    return text;
}

// The component's entries among the installed programs.
std::vector<std::wstring> ComponentEntries()
{
    std::vector<std::wstring> names;
    HKEY root = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall", 0,
                      KEY_READ | KEY_WOW64_64KEY, &root) != ERROR_SUCCESS)
        return names;
    wchar_t name[256];
    for (DWORD i = 0, chars = 256; RegEnumKeyExW(root, i, name, &chars, nullptr, nullptr, nullptr, nullptr) ==
                                   ERROR_SUCCESS;
         ++i, chars = 256) {
        if (wcsncmp(name, L"zolcomp_", 8) == 0)
            names.push_back(name);
    }
    RegCloseKey(root);
    return names;
}

void ExpectLogLines(const std::vector<std::string>& lines)
{
    std::string log = zoltest::ReadMainLog();
    for (const std::string& line : lines)
        EXPECT_NE(log.find(line), std::string::npos) << line << "\n" << log;
}

std::wstring g_absentInstance;
bool AbsentDevice(const wchar_t* instance) { return g_absentInstance != instance; }

class Uninstall : public ::testing::Test
{
protected:
    void SetUp() override
    {
        // Every test starts from a machine this package never touched.
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\zolcomp");
        zoltest::RemoveTree(L"C:\\DEVAVOROR\\packages");
        zoltest::RemoveTree(StagingFolder());
        for (const wchar_t* file : {kInfCopy, L"C:\\windows\\inf\\zolchip.pnf", L"C:\\windows\\inf\\zolother.inf",
                                    L"C:\\windows\\inf\\zolother.pnf", kDriverFile,
                                    L"C:\\windows\\system32\\drivers\\zolchip.cfg",
                                    L"C:\\windows\\system32\\drivers\\zolchip.dat"})
            DeleteFileW(file);
        StopAndDeleteService(L"zolchip", nullptr);
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, kEntry);
        zoltest::RemoveTree(L"C:\\Program Files\\zolcomp");
        legacytest::ClearPendingOperations();
        zoltest::ClearLogs();
        const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
        std::wstring name = zoltest::FromUtf8(info->name());
        m_old = zoltest::MakeTestDir(name + L"_1.2.3.0");
        m_new = zoltest::MakeTestDir(name + L"_1.2.4.0");
        ASSERT_TRUE(zoltest::CopyTree(zoltest::ExamplePath(L"chipset"), m_old));
        ASSERT_TRUE(zoltest::CopyTree(zoltest::ExamplePath(L"chipset-1.2.4.0"), m_new));
    }

    // One host's session in a package folder: load (initialise), ask, and
    // close the log as unloading does.
    template <typename Ask> static auto InPackage(const std::wstring& dir, Ask ask)
    {
        CCurrentDirectoryScope cwd(dir);
        CComponentDirectoryScope module(dir);
        CComponent component;
        component.Initialize();
        auto answer = ask(component);
        component.GetLog()->Close();
        return answer;
    }
    // Install or Uninstall, then property 10.
    RunResult Operate(const std::wstring& dir, bool uninstall, int flags = 0, const wchar_t* language = L"en")
    {
        return InPackage(dir, [&](CComponent& component) {
            wchar_t message[ZOL_MESSAGE_CHARS] = {};
            RunResult run;
            run.result = uninstall ? component.Uninstall(flags, nullptr, message, 0, language)
                                   : component.Install(0, nullptr, message, 0, language);
            run.message = message;
            AskRecords(component, ZOL_PROP_DEVICE_RESULTS, &run.devices, nullptr);
            return run;
        });
    }
    Plan AskPlan(const std::wstring& dir)
    {
        return InPackage(dir, [](CComponent& component) {
            Plan plan;
            plan.result = AskRecords(component, ZOL_PROP_UNINSTALL_PLAN, &plan.devices, &plan.state);
            return plan;
        });
    }
    int Status(const std::wstring& dir)
    {
        return InPackage(dir, [](CComponent& component) {
            PREREQSTATUS status = {};
            component.GetProperty(ZOL_PROP_PREREQUISITES, &status, sizeof(status), const_cast<wchar_t*>(L"en"));
            return status.nStatus;
        });
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

    // The what-if changes nothing.
    std::string before = Snapshot();
    Plan plan = AskPlan(m_new);
    EXPECT_EQ(Snapshot(), before);
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
    EXPECT_EQ(Entry(L"DisplayVersion"), L"1.2.3.0") << "a failed uninstall keeps the entry";

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
    EXPECT_FALSE(KeyExists(kEntry));

    // Nothing is left to take off.
    RunResult again = Operate(m_old, true);
    EXPECT_EQ(again.result, ZOL_INSTALL_FAILED);
    EXPECT_EQ(again.message, L"This package is not installed.");
    EXPECT_EQ(AskPlan(m_old).state, ZOL_PACKAGE_NOT_INSTALLED);

    // The device's driver properties are gone, not left empty: installed
    // again, the device gets its driver (an empty "Driver" value made Wine's
    // update write the driver into the class key and the device had none).
    const std::wstring deviceKey = L"SYSTEM\\CurrentControlSet\\Enum\\" + device.Instance();
    for (const wchar_t* value : {L"Driver", L"Service"})
        EXPECT_NE(RegGetValueW(HKEY_LOCAL_MACHINE, deviceKey.c_str(), value, RRF_RT_ANY, nullptr, nullptr, nullptr),
                  ERROR_SUCCESS)
            << Text(value);
    ASSERT_EQ(Operate(m_old, false).result, ZOL_INSTALL_SUCCESS);
    EXPECT_EQ(Driver(device.Instance()).inf.GetString(), std::wstring(L"zolchip.inf"));
    EXPECT_EQ(Driver(device.Instance()).service.GetString(), std::wstring(L"zolchip"));
}

TEST_F(Uninstall, ADriverHalfTakenOffByACutRunIsTakenOffByTheNext)
{
    // A forced uninstall cut off once the device's driver key had gone,
    // before its "Driver" and "Service" values: the device is no longer on
    // the INF, and not yet without a driver. The next run finishes it.
    CSimulatedDevice device({kId0E83});
    ASSERT_EQ(Operate(m_old, false).result, ZOL_INSTALL_SUCCESS);
    const std::wstring deviceKey = L"SYSTEM\\CurrentControlSet\\Enum\\" + device.Instance();
    wchar_t name[200] = {};
    DWORD bytes = sizeof(name);
    ASSERT_EQ(RegGetValueW(HKEY_LOCAL_MACHINE, deviceKey.c_str(), L"Driver", RRF_RT_REG_SZ, nullptr, name, &bytes),
              ERROR_SUCCESS);
    const std::wstring driverKey = L"SYSTEM\\CurrentControlSet\\Control\\Class\\" + std::wstring(name);
    ASSERT_EQ(RegDeleteTreeW(HKEY_LOCAL_MACHINE, driverKey.c_str()), ERROR_SUCCESS);
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, driverKey.c_str());
    ASSERT_FALSE(KeyExists(driverKey.c_str()));

    RunResult forced = Operate(m_old, true, ZOL_UNINSTALL_FORCE);
    EXPECT_EQ(forced.result, ZOL_INSTALL_SUCCESS) << Text(forced.message) << zoltest::ReadMainLog();
    ASSERT_EQ(forced.devices.size(), 1u);
    EXPECT_EQ(forced.devices[0].nAction, ZOL_ACTION_NO_DRIVER);
    for (const wchar_t* value : {L"Driver", L"Service"})
        EXPECT_NE(RegGetValueW(HKEY_LOCAL_MACHINE, deviceKey.c_str(), value, RRF_RT_ANY, nullptr, nullptr, nullptr),
                  ERROR_SUCCESS)
            << Text(value);
    EXPECT_FALSE(CServiceControl(L"zolchip").ServiceExists());
    EXPECT_EQ(Status(m_old), STATUS_NOT_INSTALLED);
}

TEST_F(Uninstall, EachDeviceGoesBackToItsOwnEarlierDriverOrTheNextBest)
{
    CSimulatedDevice bare({kId0E83});
    CSimulatedDevice other({kId0EA8});
    // Before the package: one device has another vendor's driver, one none.
    std::wstring otherInf = m_old + L"\\other\\zolother.inf";
    CreateDirectoryW((m_old + L"\\other").c_str(), nullptr);
    ASSERT_TRUE(zoltest::WriteBytes(otherInf, kOtherInf));
    BOOL reboot = FALSE;
    ASSERT_TRUE(UpdateDriverFromNewDev(kId0EA8, otherInf.c_str(), INSTALLFLAG_FORCE, &reboot));
    ASSERT_EQ(Driver(other.Instance()).inf.GetString(), std::wstring(L"zolother.inf"));
    ASSERT_EQ(Operate(m_old, false).result, ZOL_INSTALL_SUCCESS);
    ASSERT_EQ(Driver(other.Instance()).inf.GetString(), std::wstring(L"zolchip.inf"));

    std::vector<std::string> planned = {Text(bare.Instance()) + " 2 zolother.inf 2.0.0.0 4",
                                        Text(other.Instance()) + " 1 zolother.inf 2.0.0.0 4"};
    std::vector<std::string> done = {Text(bare.Instance()) + " 2 zolother.inf 2.0.0.0 1",
                                     Text(other.Instance()) + " 1 zolother.inf 2.0.0.0 1"};
    Plan plan = AskPlan(m_old);
    std::vector<std::string> actions = Actions(plan.devices);
    std::sort(actions.begin(), actions.end());
    EXPECT_EQ(actions, planned);

    RunResult run = Operate(m_old, true);
    EXPECT_EQ(run.result, ZOL_INSTALL_SUCCESS) << Text(run.message) << zoltest::ReadMainLog();
    actions = Actions(run.devices);
    std::sort(actions.begin(), actions.end());
    EXPECT_EQ(actions, done);
    for (const CSimulatedDevice* device : {&bare, &other})
        EXPECT_EQ(Driver(device->Instance()).inf.GetString(), std::wstring(L"zolother.inf"));
    EXPECT_FALSE(zoltest::FileExists(kInfCopy));
    EXPECT_FALSE(zoltest::FileExists(kDriverFile));
    EXPECT_FALSE(CServiceControl(L"zolchip").ServiceExists());
}

TEST_F(Uninstall, ADeviceThatIsNotPresentGetsItsDriverThroughTheClassInstaller)
{
    // Seam: Wine counts every device present.
    CSimulatedDevice present({kId0E83});
    CSimulatedDevice absent({kId0EA8});
    ASSERT_EQ(Operate(m_old, false).result, ZOL_INSTALL_SUCCESS);
    ASSERT_EQ(Operate(m_new, false).result, ZOL_INSTALL_SUCCESS);
    g_absentInstance = absent.Instance();
    PFN_DEVICEPRESENCE previous = SetDevicePresenceOverride(&AbsentDevice);
    // The present device is updated through the device installation
    // library (here a stand-in that records the call); the absent one,
    // which that library cannot reach, through the class installer.
    CFakeNewDevLibrary library;
    RunResult run;
    {
        CNewDevOverrideScope scope(&library);
        run = Operate(m_new, true);
    }
    SetDevicePresenceOverride(previous);
    ASSERT_EQ(library.calls.size(), 1u);
    EXPECT_EQ(library.calls[0].hardwareId, kId0E83);
    EXPECT_EQ(library.calls[0].infPath, StagingFolder() + L"\\zolchip.inf");
    EXPECT_EQ(run.result, ZOL_INSTALL_SUCCESS) << Text(run.message) << zoltest::ReadMainLog();
    std::vector<std::string> actions = Actions(run.devices);
    std::sort(actions.begin(), actions.end());
    EXPECT_EQ(actions, (std::vector<std::string>{Text(present.Instance()) + " 1 zolchip.inf 1.2.3.0 1",
                                                 Text(absent.Instance()) + " 1 zolchip.inf 1.2.3.0 1"}));
    EXPECT_EQ(Driver(absent.Instance()).inf.GetString(), std::wstring(L"zolchip.inf"));
    EXPECT_EQ(zoltest::ReadBytes(kDriverFile), zoltest::ReadBytes(m_old + L"\\zolchip.sys"));
}

TEST_F(Uninstall, AnUninstallStoppedPartWayIsFinishedByTheNextRun)
{
    CSimulatedDevice device({kId0E83});
    ASSERT_EQ(Operate(m_old, false).result, ZOL_INSTALL_SUCCESS);
    ASSERT_EQ(Operate(m_new, false).result, ZOL_INSTALL_SUCCESS);
    // The kept copy of the driver file cannot be read back this time.
    std::wstring backup = L"C:\\DEVAVOROR\\packages\\zolchip.inf_1.2.4.0\\backup\\0000";
    ASSERT_TRUE(zoltest::FileExists(backup));
    ASSERT_TRUE(MoveFileW(backup.c_str(), (backup + L".away").c_str()));
    RunResult partial = Operate(m_new, true, 0, L"fr");
    EXPECT_EQ(partial.result, ZOL_INSTALL_FAILED);
    EXPECT_EQ(partial.message,
              L"Le package n'a \u00E9t\u00E9 supprim\u00E9 qu'en partie. Relancez la d\u00E9sinstallation pour "
              L"l'achever.");
    EXPECT_EQ(CInstallRecord(L"zolchip.inf_1.2.4.0").GetState(), RECORD_STATE_PARTIAL);
    EXPECT_EQ(AskPlan(m_new).state, ZOL_PACKAGE_PARTIAL);
    std::string log = zoltest::ReadMainLog();
    for (const char* line : {"    - Putting back C:\\windows\\system32\\drivers\\zolchip.sys... Failed!\r\n",
                             "**ERROR** - File not taken back: C:\\windows\\system32\\drivers\\zolchip.sys, error "
                             "0x00000002"})
        EXPECT_NE(log.find(line), std::string::npos) << line << "\n" << log;

    ASSERT_TRUE(MoveFileW((backup + L".away").c_str(), backup.c_str()));
    RunResult finished = Operate(m_new, true);
    EXPECT_EQ(finished.result, ZOL_INSTALL_SUCCESS) << Text(finished.message) << zoltest::ReadMainLog();
    EXPECT_FALSE(CInstallRecord(L"zolchip.inf_1.2.4.0").Exists());
    EXPECT_EQ(zoltest::ReadBytes(kDriverFile), zoltest::ReadBytes(m_old + L"\\zolchip.sys"));
    EXPECT_EQ(CInstallRecord(L"zolchip.inf_1.2.3.0").GetState(), RECORD_STATE_INSTALLED);
}

// Seam: Windows 10 1703 and later have the platform's driver-package
// uninstall, which Wine 8 lacks; this stand-in does what it does (every
// device of the package to no driver here, as nothing else matches) and
// asks for a restart.
class CPlatformUninstallStandIn : public IDriverPackageUninstall
{
public:
    bool Available() override { return true; }
    BOOL UninstallDriver(const wchar_t* infPath, BOOL* reboot) override
    {
        calls.push_back(infPath);
        for (const DEVICEDRIVER& device : FindDevicesUsingInf(L"zolchip.inf"))
            RemoveDeviceDriver(device.instanceId.GetString(), nullptr);
        *reboot = TRUE;
        return TRUE;
    }
    std::vector<std::wstring> calls;
};

TEST_F(Uninstall, WhereThePlatformUninstallsDriverPackagesItMovesTheDevicesOnce)
{
    CSimulatedDevice first({kId0E83});
    CSimulatedDevice second({kId0EA8});
    ASSERT_EQ(Operate(m_old, false).result, ZOL_INSTALL_SUCCESS);
    CPlatformUninstallStandIn platform;
    IDriverPackageUninstall* previous = SetDriverPackageUninstallOverride(&platform);
    RunResult run = Operate(m_old, true, ZOL_UNINSTALL_FORCE);
    SetDriverPackageUninstallOverride(previous);
    EXPECT_EQ(run.result, ZOL_INSTALL_RESTART) << Text(run.message) << zoltest::ReadMainLog();
    EXPECT_EQ(platform.calls, (std::vector<std::wstring>{kInfCopy}));
    ASSERT_EQ(run.devices.size(), 2u);
    for (const ZOL_DEVICE_RESULT& device : run.devices) {
        EXPECT_EQ(device.nAction, ZOL_ACTION_NO_DRIVER);
        EXPECT_EQ(device.nOutcome, ZOL_DEVICE_UPDATED);
        EXPECT_EQ(device.bRestart, 1);
    }
    EXPECT_FALSE(zoltest::FileExists(kInfCopy));
    EXPECT_FALSE(CInstallRecord(L"zolchip.inf_1.2.3.0").Exists());
    EXPECT_NE(zoltest::ReadMainLog().find("    - Uninstalling zolchip.inf from its devices... Done.\r\n"),
              std::string::npos);
}

TEST_F(Uninstall, AnEarlierVersionInstalledOverALaterOneTakesItsPlace)
{
    CSimulatedDevice device({kId0E83});
    ASSERT_EQ(Operate(m_old, false).result, ZOL_INSTALL_SUCCESS);
    ASSERT_EQ(Operate(m_new, false).result, ZOL_INSTALL_SUCCESS);
    ASSERT_EQ(Operate(m_old, false).result, ZOL_INSTALL_SUCCESS);
    // The later version's record and kept files are gone; the earlier one
    // is the installed one, and goes back to what the device had first.
    EXPECT_FALSE(CInstallRecord(L"zolchip.inf_1.2.4.0").Exists());
    EXPECT_FALSE(zoltest::FileExists(L"C:\\DEVAVOROR\\packages\\zolchip.inf_1.2.4.0\\store\\zolchip.inf"));
    CInstallRecord record(L"zolchip.inf_1.2.3.0");
    EXPECT_EQ(record.GetState(), RECORD_STATE_INSTALLED);
    EXPECT_TRUE(record.ReadValue(RECORD_SUPERSEDED_BY).IsEmpty());
    EXPECT_EQ(Actions(AskPlan(m_old).devices), (std::vector<std::string>{Text(device.Instance()) + " 3   4"}));

    // A kept copy that is no longer whole is not installed again.
    ASSERT_EQ(Operate(m_new, false).result, ZOL_INSTALL_SUCCESS);
    ASSERT_TRUE(DeleteFileW(L"C:\\DEVAVOROR\\packages\\zolchip.inf_1.2.3.0\\store\\zolchip.sys"));
    EXPECT_EQ(Actions(AskPlan(m_new).devices), (std::vector<std::string>{Text(device.Instance()) + " 3   4"}));
}

TEST_F(Uninstall, TheUninstallEntryDescribesTheVersionInPlace)
{
    CSimulatedDevice device({kId0E83});
    // The earlier version ships its host beside its component; the later
    // one does not, so its entry has no command to run.
    ASSERT_TRUE(CopyFileW(zoltest::BinPath(L"zolhost.exe").c_str(), (m_old + L"\\zolhost.exe").c_str(), FALSE));
    ASSERT_EQ(Operate(m_old, false, 0, L"ja").result, ZOL_INSTALL_SUCCESS);
    EXPECT_EQ(Entry(L"DisplayName"), L"Server Chipset Device Driver") << "English whatever the host's language";
    EXPECT_EQ(Entry(L"DisplayVersion"), L"1.2.3.0");
    EXPECT_EQ(Entry(L"Publisher"), L"ZOL Sample Drivers");
    EXPECT_EQ(Text(Entry(L"InstallDate")), Today());
    EXPECT_EQ(EntryNumber(L"NoModify"), 1u);
    EXPECT_EQ(EntryNumber(L"NoRepair"), 1u);
    EXPECT_EQ(Entry(L"QuietUninstallString"), Command(kKeptOld, L""));
    EXPECT_EQ(Entry(L"UninstallString"), Command(kKeptOld, L" --pause"));
    // What the command runs, in a folder only administrators can change.
    EXPECT_EQ(FilesIn(kKeptOld), (std::vector<std::wstring>{L"install.xml", L"qx012345.xml", L"zolchip.inf",
                                                             L"zolcomp.dll", L"zolhost.exe"}));
    const std::string host = zoltest::ReadBytes(zoltest::BinPath(L"zolhost.exe"));
    const std::string component = zoltest::ReadBytes(zoltest::BinPath(L"zolcomp.dll"));
    EXPECT_TRUE(zoltest::ReadBytes(std::wstring(kKeptOld) + L"\\zolhost.exe") == host);
    EXPECT_TRUE(zoltest::ReadBytes(std::wstring(kKeptOld) + L"\\zolcomp.dll") == component);
    EXPECT_EQ(zoltest::ReadSecurity(kKeptOld).find("WD"), std::string::npos) << zoltest::ReadSecurity(kKeptOld);
    // In KB: the kept binaries and the package's small files.
    EXPECT_GE(EntryNumber(L"EstimatedSize"), (host.size() + component.size()) / 1024);
    EXPECT_LT(EntryNumber(L"EstimatedSize"), (host.size() + component.size()) / 1024 + 1024);

    // An upgrade rewrites the one entry; the earlier version keeps its copy.
    ASSERT_EQ(Operate(m_new, false).result, ZOL_INSTALL_SUCCESS);
    EXPECT_EQ(ComponentEntries(), std::vector<std::wstring>{L"zolcomp_zolchip.inf"});
    EXPECT_EQ(Entry(L"DisplayVersion"), L"1.2.4.0");
    EXPECT_EQ(Entry(L"UninstallString"), L"");
    EXPECT_EQ(Entry(L"QuietUninstallString"), L"");
    EXPECT_TRUE(zoltest::FileExists(std::wstring(kKeptOld) + L"\\zolhost.exe"));

    // Taking the upgrade off gives the entry back to the earlier version.
    RunResult rollback = Operate(m_new, true);
    ASSERT_EQ(rollback.result, ZOL_INSTALL_SUCCESS) << Text(rollback.message) << zoltest::ReadMainLog();
    EXPECT_EQ(Entry(L"DisplayVersion"), L"1.2.3.0");
    EXPECT_EQ(Entry(L"QuietUninstallString"), Command(kKeptOld, L""));
    EXPECT_EQ(Text(Entry(L"InstallDate")), Today());
    ExpectLogLines({"    - Pointing the uninstall entry zolcomp_zolchip.inf at 1.2.3.0... Done.\r\n"});

    // The last version takes the entry and its kept copy with it. The
    // command Programs and Features runs waits for Enter only at a console.
    zoltest::ClearLogs();
    zoltest::ProcessResult last = zoltest::RunProcess(Entry(L"UninstallString"), L"C:\\", 60000);
    EXPECT_EQ(last.exitCode, 0u) << last.output;
    EXPECT_EQ(last.output.find("Press Enter"), std::string::npos) << last.output;
    EXPECT_TRUE(ComponentEntries().empty());
    ExpectLogLines({"    - Removing the install record zolchip.inf_1.2.3.0... Done.\r\n"
                    "    - Removing the uninstall entry zolcomp_zolchip.inf... Done.\r\n"
                    "    - Removing the kept copy C:\\Program Files\\zolcomp\\zolchip.inf_1.2.3.0... Done at the next "
                    "restart.\r\n"});
}

TEST_F(Uninstall, TheQuietUninstallStringWorksOnceThePackageFoldersAreGone)
{
    CSimulatedDevice device({kId0E83});
    // Deployed as the fleet does it: zolhost in the deployment folder, the
    // package below it. The host that installs is the one kept.
    const std::wstring deploy = zoltest::MakeTestDir(L"QuietDeploy");
    const std::wstring package = deploy + L"\\chipset";
    ASSERT_TRUE(zoltest::CopyTree(m_old, package));
    ASSERT_TRUE(CopyFileW(zoltest::BinPath(L"zolhost.exe").c_str(), (deploy + L"\\zolhost.exe").c_str(), FALSE));
    zoltest::ProcessResult install =
        zoltest::RunProcess(L"\"" + deploy + L"\\zolhost.exe\" \"" + package + L"\\zolcomp.dll\"", package);
    ASSERT_EQ(install.exitCode, 0u) << install.output;
    zoltest::RunDevsim(L"start");
    for (const std::wstring& folder : {deploy, m_old, m_new})
        ASSERT_TRUE(zoltest::RemoveTree(folder));

    const std::wstring quiet = Entry(L"QuietUninstallString");
    ASSERT_EQ(quiet, Command(kKeptOld, L""));
    zoltest::ClearLogs();
    zoltest::ProcessResult run = zoltest::RunProcess(quiet, L"C:\\");
    EXPECT_EQ(run.exitCode, 0u) << run.output;
    EXPECT_NE(run.output.find("Uninstall:          result 1 (success)"), std::string::npos) << run.output;
    // As an uninstall of the only version leaves the machine (forced).
    EXPECT_TRUE(Driver(device.Instance()).inf.IsEmpty());
    EXPECT_FALSE(zoltest::FileExists(kDriverFile));
    EXPECT_FALSE(zoltest::FileExists(kInfCopy));
    EXPECT_FALSE(CServiceControl(L"zolchip").ServiceExists());
    EXPECT_FALSE(CInstallRecord(L"zolchip.inf_1.2.3.0").Exists());
    EXPECT_TRUE(ComponentEntries().empty());
    // The kept host ran it with the kept component loaded: those two go at
    // the next restart, then their folder and the folder above; the rest
    // went at once.
    EXPECT_EQ(FilesIn(kKeptOld), (std::vector<std::wstring>{L"zolcomp.dll", L"zolhost.exe"}));
    std::vector<std::wstring> deletions;
    std::vector<std::wstring> pending = PendingOperations();
    for (size_t i = 0; i + 1 < pending.size(); i += 2) {
        EXPECT_EQ(pending[i + 1], L"") << Text(pending[i]);
        deletions.push_back(pending[i]);
    }
    std::sort(deletions.begin(), deletions.begin() + std::min<size_t>(2, deletions.size()));
    const std::wstring kept = std::wstring(L"\\??\\") + kKeptOld;
    EXPECT_EQ(deletions, (std::vector<std::wstring>{kept + L"\\zolcomp.dll", kept + L"\\zolhost.exe", kept,
                                                     L"\\??\\C:\\Program Files\\zolcomp"}));
    ExpectLogLines({"    - Removing the kept copy C:\\Program Files\\zolcomp\\zolchip.inf_1.2.3.0... Done at the next "
                    "restart.\r\n"});
}

// An uninstallation cut off after the record went: the next run finds the
// package not installed and takes the entry and the kept copy off with it.
TEST_F(Uninstall, ARunAfterOneCutOffPastTheRecordTakesTheEntryOff)
{
    CSimulatedDevice device({kId0E83});
    ASSERT_TRUE(CopyFileW(zoltest::BinPath(L"zolhost.exe").c_str(), (m_old + L"\\zolhost.exe").c_str(), FALSE));
    ASSERT_EQ(Operate(m_old, false).result, ZOL_INSTALL_SUCCESS);
    ASSERT_NE(GetFileAttributesW(kKeptOld), INVALID_FILE_ATTRIBUTES);
    CInstallRecord record(L"zolchip.inf_1.2.3.0");
    ASSERT_TRUE(zoltest::RemoveTree(CInstallRecord::FolderOf(L"zolchip.inf_1.2.3.0").GetString()));
    ASSERT_TRUE(record.Delete());
    zoltest::ClearLogs();
    RunResult run = Operate(m_old, true);
    EXPECT_EQ(run.result, ZOL_INSTALL_FAILED);
    EXPECT_EQ(Text(run.message.c_str()), "This package is not installed.");
    EXPECT_TRUE(ComponentEntries().empty());
    EXPECT_EQ(GetFileAttributesW(kKeptOld), INVALID_FILE_ATTRIBUTES);
    ExpectLogLines({"    - Removing the uninstall entry zolcomp_zolchip.inf... Done.\r\n",
                    "    - Removing the kept copy C:\\Program Files\\zolcomp\\zolchip.inf_1.2.3.0... Done.\r\n"});
    EXPECT_EQ(GetFileAttributesW(L"C:\\Program Files\\zolcomp"), INVALID_FILE_ATTRIBUTES);
    // Once they are gone, a further run changes nothing and says nothing of
    // them; an empty folder of the kept copies, as a run cut off between
    // the copy's folder and its parent leaves it, goes.
    ASSERT_TRUE(CreateDirectoryW(L"C:\\Program Files\\zolcomp", nullptr));
    zoltest::ClearLogs();
    EXPECT_EQ(Operate(m_old, true).result, ZOL_INSTALL_FAILED);
    EXPECT_EQ(zoltest::ReadMainLog().find("uninstall entry"), std::string::npos);
    EXPECT_EQ(GetFileAttributesW(L"C:\\Program Files\\zolcomp"), INVALID_FILE_ATTRIBUTES);
}

TEST_F(Uninstall, AHostInAFolderOthersMayChangeIsNotKept)
{
    // Others could swap it for a program of theirs that the entry would
    // then run for an administrator.
    CSimulatedDevice device({kId0E83});
    ASSERT_TRUE(CopyFileW(zoltest::BinPath(L"zolhost.exe").c_str(), (m_old + L"\\zolhost.exe").c_str(), FALSE));
    ASSERT_TRUE(zoltest::UnixChmod(m_old, "777", "(A;OICI;0x1301ff;;;WD)"));
    ASSERT_EQ(Operate(m_old, false).result, ZOL_INSTALL_SUCCESS);
    EXPECT_EQ(Entry(L"DisplayVersion"), L"1.2.3.0");
    EXPECT_EQ(Entry(L"QuietUninstallString"), L"");
    EXPECT_FALSE(zoltest::FileExists(kKeptOld));
    ExpectLogLines({"**WARNING** - Uninstall entry without a command: Kept copy not made: " + Text(m_old) +
                    "\\zolhost.exe, its folder " + Text(m_old) + " "});
}

} // namespace
