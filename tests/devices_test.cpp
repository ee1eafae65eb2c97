// Hardware IDs of the package and of the present devices, and the presence test.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>
#include <wchar.h>

#include "basecomp.h"
#include "devices/devicelist.h"
#include "testsupport.h"

using namespace zoltest;

namespace {

bool Contains(const CStrList& list, const wchar_t* id)
{
    for (const CStr& s : list)
        if (s.Equals(id))
            return true;
    return false;
}

} // namespace

TEST(MakeHardwareId, BuildsIdsFromPackageCodes)
{
    EXPECT_STREQ(MakeHardwareId(L"PNP0A03").GetString(), L"*PNP0A03");
    EXPECT_STREQ(MakeHardwareId(L"80860E83").GetString(), L"PCI\\VEN_8086&DEV_0E83");
    // The subsystem field is the subsystem device followed by the subsystem vendor.
    EXPECT_STREQ(MakeHardwareId(L"80860E83A2E97C41").GetString(), L"PCI\\VEN_8086&DEV_0E83&SUBSYS_7C41A2E9");
    // Characters are used as written, without case change.
    EXPECT_STREQ(MakeHardwareId(L"8086abcd").GetString(), L"PCI\\VEN_8086&DEV_abcd");
    for (const wchar_t* bad : {L"", L"123456", L"808600E83A2E", L"80860E83A2E97C41X", L"X"})
        EXPECT_STREQ(MakeHardwareId(bad).GetString(), L"") << bad;
    EXPECT_STREQ(MakeHardwareId(nullptr).GetString(), L"");
    std::wstring huge(100000, L'8');
    EXPECT_STREQ(MakeHardwareId(huge.c_str()).GetString(), L"");

    // Built in place: the length, and an empty text for a code of no ID.
    wchar_t id[kHardwareIdCapacity];
    EXPECT_EQ(BuildHardwareId(L"80860E83A2E97C41", id), 37u);
    EXPECT_STREQ(id, L"PCI\\VEN_8086&DEV_0E83&SUBSYS_7C41A2E9");
    EXPECT_EQ(BuildHardwareId(L"12345", id), 0u);
    EXPECT_STREQ(id, L"");
}

class DeviceListTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        // Created once for the whole program: the prefix is this program's own.
        ASSERT_FALSE(AddDevice({L"PCI\\VEN_8086&DEV_0E83&SUBSYS_7C41A2E9&REV_05",
                                L"PCI\\VEN_8086&DEV_0E83&SUBSYS_7C41A2E9", L"pci\\ven_8086&dev_0e83",
                                L"PCI\\VEN_8086&CC_060000"})
                         .empty());
        // The first entry is taken as read: lower-case "&rev" is not filtered there.
        ASSERT_FALSE(AddDevice({L"pci\\ven_1234&dev_5678&rev_01", L"pci\\ven_1234&dev_5678&rev_02"}).empty());
        // A hardware-ID list of more than 2048 bytes.
        std::wstring longId = L"ZOLTEST\\" + std::wstring(150, L'L');
        std::vector<std::wstring> many;
        for (int i = 0; i < 8; ++i)
            many.push_back(longId + std::to_wstring(i));
        ASSERT_FALSE(AddDevice(many).empty());
        ASSERT_FALSE(AddDevice({L"ZOLTEST\\SHORTLIST"}).empty());
    }
};

TEST_F(DeviceListTest, RevisionAndClassCodeEntriesAreLeftOut)
{
    CBaseComponent component;
    ASSERT_EQ(component.BuildDeviceList(0), 1);
    const CStrList& present = component.GetPresentDeviceIds();
    EXPECT_TRUE(Contains(present, L"PCI\\VEN_8086&DEV_0E83&SUBSYS_7C41A2E9"));
    EXPECT_FALSE(Contains(present, L"PCI\\VEN_8086&DEV_0E83&SUBSYS_7C41A2E9&REV_05"));
    EXPECT_FALSE(Contains(present, L"PCI\\VEN_8086&CC_060000"));
    // Later entries are upper-cased before they are examined and stored.
    EXPECT_TRUE(Contains(present, L"PCI\\VEN_8086&DEV_0E83"));
    EXPECT_FALSE(Contains(present, L"pci\\ven_8086&dev_0e83"));
}

TEST_F(DeviceListTest, FirstEntryIsTakenAsRead)
{
    CBaseComponent component;
    component.BuildDeviceList(0);
    const CStrList& present = component.GetPresentDeviceIds();
    EXPECT_TRUE(Contains(present, L"pci\\ven_1234&dev_5678&rev_01"));
    EXPECT_FALSE(Contains(present, L"PCI\\VEN_1234&DEV_5678&REV_02"));
    EXPECT_FALSE(Contains(present, L"pci\\ven_1234&dev_5678&rev_02"));
}

TEST_F(DeviceListTest, OverlongHardwareIdListIsSkipped)
{
    CBaseComponent component;
    component.BuildDeviceList(0);
    const CStrList& present = component.GetPresentDeviceIds();
    EXPECT_EQ(std::count_if(present.begin(), present.end(),
                            [](const CStr& s) { return wcsncmp(s.GetString(), L"ZOLTEST\\LLL", 11) == 0; }),
              0);
    EXPECT_TRUE(Contains(present, L"ZOLTEST\\SHORTLIST"));
}

TEST_F(DeviceListTest, PresenceIsWholeIdIgnoringCase)
{
    CBaseComponent component;
    EXPECT_EQ(component.IsDevicePresent(L"pci\\ven_8086&dev_0e83&subsys_7c41a2e9"), 1);
    EXPECT_EQ(component.IsDevicePresent(L"PCI\\VEN_8086&DEV_0E83&SUBSYS_7C41A2E9"), 1);
    // A prefix of a present ID is not present; the device lists the shorter
    // ID itself only in its upper-cased third entry.
    EXPECT_EQ(component.IsDevicePresent(L"PCI\\VEN_8086&DEV_0E8"), 0);
    EXPECT_EQ(component.IsDevicePresent(L"PCI\\VEN_8086&DEV_0E83"), 1);
    EXPECT_EQ(component.IsDevicePresent(L"PCI\\VEN_8086&DEV_0E84&SUBSYS_7C41A2E9"), 0);
    EXPECT_EQ(component.IsDevicePresent(L""), 0);
    EXPECT_EQ(component.IsDevicePresent(nullptr), 0);
}

TEST_F(DeviceListTest, ListIsBuiltOnFirstUseAndKept)
{
    CBaseComponent component;
    EXPECT_TRUE(component.GetPresentDeviceIds().empty());
    component.IsDevicePresent(L"ZOLTEST\\SHORTLIST");
    size_t count = component.GetPresentDeviceIds().size();
    EXPECT_GT(count, 0u);
    // A device added later is not seen until the list is rebuilt.
    ASSERT_FALSE(AddDevice({L"ZOLTEST\\LATECOMER"}).empty());
    EXPECT_EQ(component.IsDevicePresent(L"ZOLTEST\\LATECOMER"), 0);
    component.BuildDeviceList(0);
    EXPECT_EQ(component.IsDevicePresent(L"ZOLTEST\\LATECOMER"), 1);
}

TEST(DeviceListEnumeration, ReportsRequiredSizeAndRejectsBadIndex)
{
    CWin2000DeviceList list;
    list.EnumerateDevices();
    ASSERT_GT(list.GetDeviceCount(), 0u);
    DWORD size = 0;
    EXPECT_EQ(list.GetHardwareIds(0, nullptr, &size), 0);
    EXPECT_GT(size, 0u);
    EXPECT_EQ(list.GetHardwareIds(list.GetDeviceCount(), nullptr, &size), 0);
    EXPECT_EQ(list.GetHardwareIds(0, nullptr, nullptr), 0);

    // A buffer one byte short gets nothing and the size again; one of the
    // size gets the list.
    size = 0;
    list.GetHardwareIds(0, nullptr, &size);
    std::vector<BYTE> ids(size + 16, 0xCC);
    DWORD shortSize = size - 1;
    EXPECT_EQ(list.GetHardwareIds(0, ids.data(), &shortSize), 0);
    EXPECT_EQ(shortSize, size);
    DWORD exact = size;
    EXPECT_EQ(list.GetHardwareIds(0, ids.data(), &exact), 1);
    EXPECT_EQ(exact, size);
    const wchar_t* first = reinterpret_cast<const wchar_t*>(ids.data());
    EXPECT_GT(wcslen(first), 0u);
    EXPECT_EQ(ids[size], 0xCC); // nothing written past the size
}
