// The simulated-server tool: devices it adds are listed with their IDs; the
// drivers of bound devices are started and stopped as the PnP manager does.
#include <gtest/gtest.h>

#include <windows.h>

#include "testsupport.h"

using namespace zoltest;

namespace {

const wchar_t kServices[] = L"SYSTEM\\CurrentControlSet\\Services\\";

// Binds a device to a service the way a driver installation leaves it: the
// "Service" value of its device node.
bool Bind(const std::wstring& instance, const std::wstring& service)
{
    std::wstring key = L"SYSTEM\\CurrentControlSet\\Enum\\" + instance;
    return RegSetKeyValueW(HKEY_LOCAL_MACHINE, key.c_str(), L"Service", REG_SZ, service.c_str(),
                           static_cast<DWORD>((service.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
}

// A value of the service's Enum key as text ("<none>" when it cannot be read).
std::wstring EnumValue(const std::wstring& service, const wchar_t* name)
{
    BYTE data[512] = {};
    DWORD type = 0, size = sizeof(data) - sizeof(wchar_t);
    if (RegGetValueW(HKEY_LOCAL_MACHINE, (kServices + service + L"\\Enum").c_str(), name, RRF_RT_ANY, &type, data,
                     &size) != ERROR_SUCCESS)
        return L"<none>";
    if (type == REG_DWORD)
        return std::to_wstring(*reinterpret_cast<DWORD*>(data));
    return type == REG_SZ ? reinterpret_cast<wchar_t*>(data) : L"<type " + std::to_wstring(type) + L">";
}

} // namespace

TEST(Devsim, AddThenListShowsTheDeviceWithItsIdsInOrder)
{
    std::wstring id = AddDevice({L"PCI\\VEN_8086&DEV_0E83&SUBSYS_7C41A2E9&REV_05",
                                 L"PCI\\VEN_8086&DEV_0E83&SUBSYS_7C41A2E9"});
    ASSERT_FALSE(id.empty());
    std::string list = ListDevices();
    std::string instance = ToUtf8(id);
    ASSERT_NE(list.find(instance), std::string::npos) << list;
    EXPECT_NE(list.find("hardware IDs: PCI\\VEN_8086&DEV_0E83&SUBSYS_7C41A2E9&REV_05 "
                        "PCI\\VEN_8086&DEV_0E83&SUBSYS_7C41A2E9"),
              std::string::npos)
        << list;
}

TEST(Devsim, RemoveDeletesTheDevice)
{
    std::wstring id = AddDevice({L"ZOLTEST\\REMOVE_ME"});
    ASSERT_FALSE(id.empty());
    ProcessResult r = RunDevsim(L"remove " + id);
    EXPECT_EQ(r.exitCode, 0u) << r.output;
    EXPECT_EQ(ListDevices().find("ZOLTEST\\REMOVE_ME"), std::string::npos);
    r = RunDevsim(L"remove " + id);
    EXPECT_EQ(r.exitCode, 2u);
}

TEST(Devsim, BadArgumentsGiveUsage)
{
    for (const wchar_t* args : {L"", L"frobnicate", L"add", L"start now", L"stop all", L"list -v",
                                  L"hold-install-lock", L"hold-install-lock 1s", L"hold-install-lock 86401"})
        EXPECT_EQ(RunDevsim(args).exitCode, 87u) << ToUtf8(args);
}

TEST(Devsim, StartRecordsTheDevicesOfEachStartedServiceAndStopRemovesThem)
{
    // Two devices of one installed service, one of a service that is not
    // installed and one without a driver.
    std::wstring first = AddDevice({L"ZOLTEST\\BOUND_A"}), second = AddDevice({L"ZOLTEST\\BOUND_B"});
    std::wstring orphan = AddDevice({L"ZOLTEST\\ORPHAN"}), unbound = AddDevice({L"ZOLTEST\\UNBOUND"});
    ASSERT_FALSE(first.empty() || second.empty() || orphan.empty() || unbound.empty());
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, (std::wstring(kServices) + L"zolsimsvc").c_str(), 0, nullptr, 0,
                              KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    RegCloseKey(key);
    ASSERT_TRUE(Bind(first, L"zolsimsvc") && Bind(second, L"ZOLSIMSVC") && Bind(orphan, L"zolnosuchsvc"));

    ProcessResult r = RunDevsim(L"start");
    EXPECT_EQ(r.exitCode, 0u) << r.output;
    EXPECT_NE(r.output.find("started zolsimsvc (2 devices)"), std::string::npos) << r.output;
    EXPECT_EQ(EnumValue(L"zolsimsvc", L"Count"), L"2");
    EXPECT_EQ(EnumValue(L"zolsimsvc", L"NextInstance"), L"2");
    EXPECT_EQ(EnumValue(L"zolsimsvc", L"0"), first);
    EXPECT_EQ(EnumValue(L"zolsimsvc", L"1"), second);
    // Nothing is made up for a service that is not installed.
    HKEY absent = nullptr;
    EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, (std::wstring(kServices) + L"zolnosuchsvc").c_str(), 0, KEY_READ,
                            &absent),
              ERROR_FILE_NOT_FOUND);
    std::string list = ListDevices();
    EXPECT_NE(list.find(ToUtf8(first) + "\r\n    hardware IDs: ZOLTEST\\BOUND_A\r\n    service:      zolsimsvc\r\n"
                        "    started:      yes\r\n"),
              std::string::npos)
        << list;
    EXPECT_NE(list.find("    service:      zolnosuchsvc\r\n    started:      no\r\n"), std::string::npos) << list;
    EXPECT_NE(list.find("ZOLTEST\\UNBOUND\r\n    service:      (none)\r\n    driver INF:"), std::string::npos) << list;

    // A second start counts only the devices present now.
    ASSERT_EQ(RunDevsim(L"remove " + first).exitCode, 0u);
    EXPECT_EQ(RunDevsim(L"start").exitCode, 0u);
    EXPECT_EQ(EnumValue(L"zolsimsvc", L"Count"), L"1");
    EXPECT_EQ(EnumValue(L"zolsimsvc", L"0"), second);
    EXPECT_EQ(EnumValue(L"zolsimsvc", L"1"), L"<none>");

    r = RunDevsim(L"stop");
    EXPECT_EQ(r.exitCode, 0u) << r.output;
    EXPECT_NE(r.output.find("stopped zolsimsvc"), std::string::npos) << r.output;
    EXPECT_EQ(EnumValue(L"zolsimsvc", L"Count"), L"<none>");
    EXPECT_NE(ListDevices().find("    service:      ZOLSIMSVC\r\n    started:      no\r\n"), std::string::npos);
    EXPECT_EQ(RunDevsim(L"stop").exitCode, 0u);
}
