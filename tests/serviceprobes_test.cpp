// Service and device-node probes over Wine's real service manager and
// registry. Wine never writes "DeleteFlag" or device-node status bits, so the
// tests write those values themselves.
#include <gtest/gtest.h>
#include <windows.h>

#include "basecomp.h"
#include "inf/devicenodes.h"
#include "inf/servicecontrol.h"
#include "inf/servicemanager.h"
#include "prereqtest.h"
#include "testsupport.h"

using namespace prereqtest;

namespace {

const wchar_t kServices[] = L"System\\CurrentControlSet\\Services\\";
const wchar_t kEnumRoot[] = L"System\\CurrentControlSet\\Enum\\Root\\";

void DeleteTree(const std::wstring& path)
{
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, path.c_str());
}

} // namespace

TEST(ServiceManager, OpensOnceAndCloses)
{
    CServiceManager manager;
    EXPECT_EQ(manager.IsOpen(), 0);
    ASSERT_EQ(manager.Open(), 1);
    SC_HANDLE first = manager.GetHandle();
    EXPECT_EQ(manager.Open(), 1);
    EXPECT_EQ(manager.GetHandle(), first);
    manager.Close();
    EXPECT_EQ(manager.IsOpen(), 0);
}

TEST(ServiceControl, ExistsAndDisabled)
{
    const std::wstring name = L"ZolProbeA";
    ASSERT_TRUE(CreateDriverService(name));
    {
        CServiceControl control(name.c_str());
        EXPECT_EQ(control.ServiceExists(), 1);
        EXPECT_EQ(control.IsServiceDisabled(), 0);
        ASSERT_TRUE(SetStartType(name, SERVICE_DISABLED));
        EXPECT_EQ(control.IsServiceDisabled(), 1);
        EXPECT_EQ(control.ServiceExists(), 1);
        EXPECT_EQ(control.IsRemovalPending(), 0);
        // Every answer closed its handles: the service can go while the
        // object still lives.
        EXPECT_TRUE(DeleteServiceAndCheckGone(name));
        EXPECT_EQ(control.ServiceExists(), 0);
        EXPECT_EQ(control.IsServiceDisabled(), 0);
    }
    CServiceControl unknown(L"ZolNoSuchService");
    EXPECT_EQ(unknown.ServiceExists(), 0);
    EXPECT_EQ(unknown.IsServiceDisabled(), 0);
    CServiceControl empty(L"");
    EXPECT_EQ(empty.ServiceExists(), 0);
    CServiceControl null(nullptr);
    EXPECT_EQ(null.ServiceExists(), 0);
}

TEST(ServiceControl, RemovalPendingFromDeleteFlagOrDeviceNodeStatus)
{
    const std::wstring name = L"ZolProbeB";
    ASSERT_TRUE(CreateDriverService(name));
    const std::wstring serviceKey = kServices + name;
    const std::wstring nodeKey = kEnumRoot + std::wstring(L"LEGACY_ZOLPROBEB\\0000");
    CServiceControl control(name.c_str());

    EXPECT_EQ(control.IsRemovalPending(), 0);
    ASSERT_TRUE(SetRegDword(serviceKey, L"DeleteFlag", 1));
    EXPECT_EQ(control.IsRemovalPending(), 1);
    ASSERT_TRUE(SetRegDword(serviceKey, L"DeleteFlag", 2));
    EXPECT_EQ(control.IsRemovalPending(), 0);
    ASSERT_TRUE(SetRegString(serviceKey, L"DeleteFlag", L"1")); // not a number: counts as 0
    EXPECT_EQ(control.IsRemovalPending(), 0);
    RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, serviceKey.c_str(), L"DeleteFlag");

    ASSERT_TRUE(SetRegDword(nodeKey, L"StatusFlags", 0x40008));
    EXPECT_EQ(control.IsRemovalPending(), 1);
    ASSERT_TRUE(SetRegDword(nodeKey, L"StatusFlags", 0x4000A)); // only the exact value counts
    EXPECT_EQ(control.IsRemovalPending(), 0);
    ASSERT_TRUE(SetRegDword(nodeKey, L"StatusFlags", 0x8));
    EXPECT_EQ(control.IsRemovalPending(), 0);

    // The device node is looked at even when the service is gone.
    ASSERT_TRUE(SetRegDword(nodeKey, L"StatusFlags", 0x40008));
    EXPECT_TRUE(DeleteServiceAndCheckGone(name));
    EXPECT_EQ(control.ServiceExists(), 0);
    EXPECT_EQ(control.IsRemovalPending(), 1);
    DeleteTree(kEnumRoot + std::wstring(L"LEGACY_ZOLPROBEB"));
    EXPECT_EQ(control.IsRemovalPending(), 0);
}

TEST(DeviceNodes, LegacyAndRootNodesByUpperCaseName)
{
    EXPECT_EQ(HasLegacyDeviceNode(L"zolnode"), 0);
    EXPECT_EQ(HasRootDeviceNode(L"zolnode"), 0);
    ASSERT_TRUE(SetRegDword(kEnumRoot + std::wstring(L"LEGACY_ZOLNODE\\0000"), L"StatusFlags", 0));
    EXPECT_EQ(HasLegacyDeviceNode(L"zolnode"), 1);
    EXPECT_EQ(HasRootDeviceNode(L"zolnode"), 0);
    ASSERT_TRUE(SetRegDword(kEnumRoot + std::wstring(L"ZOLNODE\\0000"), L"StatusFlags", 0));
    EXPECT_EQ(HasRootDeviceNode(L"ZolNode"), 1);
    // Only instance 0000 counts.
    ASSERT_TRUE(SetRegDword(kEnumRoot + std::wstring(L"LEGACY_ZOLOTHER\\0001"), L"StatusFlags", 0));
    EXPECT_EQ(HasLegacyDeviceNode(L"zolother"), 0);
    EXPECT_EQ(HasLegacyDeviceNode(L""), 0);
    EXPECT_EQ(HasRootDeviceNode(nullptr), 0);
    DeleteTree(kEnumRoot + std::wstring(L"LEGACY_ZOLNODE"));
    DeleteTree(kEnumRoot + std::wstring(L"ZOLNODE"));
    DeleteTree(kEnumRoot + std::wstring(L"LEGACY_ZOLOTHER"));
}

TEST(ServiceControlsAllDevices, CountsInstancesAgainstPresentSupportedDevices)
{
    // Two of the three supported IDs are present.
    ASSERT_FALSE(zoltest::AddDevice({L"PCI\\VEN_8086&DEV_0E90&SUBSYS_00000000"}).empty());
    ASSERT_FALSE(zoltest::AddDevice({L"PCI\\VEN_8086&DEV_0E91&SUBSYS_00000000"}).empty());
    CBaseComponent component;
    const std::wstring enumKey = L"SYSTEM\\CurrentControlSet\\Services\\ZolCount\\Enum";

    // No supported hardware: nothing to drive.
    EXPECT_EQ(component.ServiceControlsAllDevices(L"ZolCount"), 1);

    component.AddSupportedHardwareId(L"PCI\\VEN_8086&DEV_0E90&SUBSYS_00000000");
    component.AddSupportedHardwareId(L"PCI\\VEN_8086&DEV_0E91&SUBSYS_00000000");
    component.AddSupportedHardwareId(L"PCI\\VEN_8086&DEV_0E92&SUBSYS_00000000");
    EXPECT_EQ(component.ServiceControlsAllDevices(L"ZolCount"), 0); // no Enum key

    ASSERT_TRUE(SetRegDword(enumKey, L"Count", 2));
    ASSERT_TRUE(SetRegString(enumKey, L"0", L"PCI\\VEN_8086&DEV_0E90&SUBSYS_00000000\\3&1&0"));
    EXPECT_EQ(component.ServiceControlsAllDevices(L"ZolCount"), 1);
    ASSERT_TRUE(SetRegDword(enumKey, L"Count", 1));
    EXPECT_EQ(component.ServiceControlsAllDevices(L"ZolCount"), 0); // 1 < 2 present
    ASSERT_TRUE(SetRegDword(enumKey, L"Count", 3));
    EXPECT_EQ(component.ServiceControlsAllDevices(L"ZolCount"), 1);

    // One instance that is the service's own legacy node drives nothing,
    // even when only one device would need it.
    CBaseComponent single;
    single.AddSupportedHardwareId(L"PCI\\VEN_8086&DEV_0E90&SUBSYS_00000000");
    ASSERT_TRUE(SetRegDword(enumKey, L"Count", 1));
    EXPECT_EQ(single.ServiceControlsAllDevices(L"ZolCount"), 1);
    ASSERT_TRUE(SetRegString(enumKey, L"0", L"Root\\LEGACY_ZOLCOUNT\\0000"));
    EXPECT_EQ(single.ServiceControlsAllDevices(L"ZolCount"), 0);
    ASSERT_TRUE(SetRegDword(enumKey, L"Count", 0));
    EXPECT_EQ(single.ServiceControlsAllDevices(L"ZolCount"), 0);
    // The same ID listed twice (by the package and by the component) is one
    // device, not two.
    single.AddSupportedHardwareId(L"pci\\ven_8086&dev_0e90&subsys_00000000");
    ASSERT_TRUE(SetRegDword(enumKey, L"Count", 1));
    ASSERT_TRUE(SetRegString(enumKey, L"0", L"PCI\\VEN_8086&DEV_0E90&SUBSYS_00000000\\3&1&0"));
    EXPECT_EQ(single.ServiceControlsAllDevices(L"ZolCount"), 1);
    // A supported ID that is not present needs no instance.
    CBaseComponent absent;
    absent.AddSupportedHardwareId(L"PCI\\VEN_8086&DEV_0E92&SUBSYS_00000000");
    EXPECT_EQ(absent.ServiceControlsAllDevices(L"ZolCount"), 1);
    EXPECT_EQ(absent.ServiceControlsAllDevices(L"ZolNoSuchService"), 0);

    DeleteTree(L"SYSTEM\\CurrentControlSet\\Services\\ZolCount");
}
