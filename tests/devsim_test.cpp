// The simulated-server tool: devices it adds are listed with their IDs.
#include <gtest/gtest.h>

#include "testsupport.h"

using namespace zoltest;

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
    ProcessResult r = RunProcess(L"\"" + BinPath(L"devsim.exe") + L"\" remove " + id);
    EXPECT_EQ(r.exitCode, 0u) << r.output;
    EXPECT_EQ(ListDevices().find("ZOLTEST\\REMOVE_ME"), std::string::npos);
    r = RunProcess(L"\"" + BinPath(L"devsim.exe") + L"\" remove " + id);
    EXPECT_EQ(r.exitCode, 2u);
}

TEST(Devsim, BadArgumentsGiveUsage)
{
    EXPECT_EQ(RunProcess(L"\"" + BinPath(L"devsim.exe") + L"\"").exitCode, 87u);
    EXPECT_EQ(RunProcess(L"\"" + BinPath(L"devsim.exe") + L"\" frobnicate").exitCode, 87u);
    EXPECT_EQ(RunProcess(L"\"" + BinPath(L"devsim.exe") + L"\" add").exitCode, 87u);
}
