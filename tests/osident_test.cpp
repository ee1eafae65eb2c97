// Operating-system identification: edition masks, system edition codes and the
// matching of the package's supported-system records. Versions that Wine can
// report are tested on the real platform in a child run of this program with
// its own Windows version; product types and the R2 flag that Wine cannot
// report go through the query seam.
#include <gtest/gtest.h>

#include "basecomp.h"
#include "osident.h"
#include "testsupport.h"

#include <string>

using namespace zoltest;

namespace {

SUPPORTEDOS Os(const wchar_t* platform, int major, int minor, int sp, WORD edition)
{
    SUPPORTEDOS os = {};
    wcsncpy(os.szPlatform, platform, 63);
    os.nMajor = major;
    os.nMinor = minor;
    os.nServicePack = sp;
    os.wEdition = edition;
    return os;
}

// The records a child run evaluates, in order.
std::vector<SUPPORTEDOS> Records()
{
    return {
        Os(L"nt_x86-64", 6, 1, -1, 0xFFFF),                                // 0
        Os(L"nt_x86-64", 6, 1, 2, 0xFFFF),                                 // 1 needs SP2
        Os(L"NT_X86-64", 6, -1, -1, 0xFFFF),                               // 2 any minor, upper case
        Os(L"nt_x86-64", 5, 2, -1, 0xFFFF),                                // 3
        Os(L"nt_x86-64", 5, 2, 2, CBaseComponent::GetEditionCode(L"srvr")), // 4
        Os(L"nt_x86-64", 4, 0, -1, 0xFFFF),                                // 5
        Os(L"nt", -1, -1, -1, 0xFFFF),                                     // 6 32-bit only
        Os(L"nt_x86-64", 6, 1, -1, CBaseComponent::GetEditionCode(L"dc")),  // 7
        Os(L"nt_x86-64", -1, -1, 1, CBaseComponent::GetEditionCode(L"SRVR")), // 8
        Os(L"", -1, -1, -1, 0xFFFF),                                       // 9 no platform
        Os(L"nt_x86-64", -1, -1, -1, CBaseComponent::GetEditionCode(L"bogus")), // 10 mask 0
    };
}

std::string Evaluate()
{
    std::string bits;
    for (const SUPPORTEDOS& os : Records()) {
        CBaseComponent component;
        component.AddSupportedOperatingSystem(os);
        bits += component.IsOperatingSystemSupported() ? '1' : '0';
    }
    return bits;
}

// Runs this program again with the given Windows version and returns the
// matching bits it reports.
std::string EvaluateUnder(const wchar_t* version)
{
    HKEY key = nullptr;
    EXPECT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Wine\\AppDefaults\\osident_test.exe", 0, nullptr, 0,
                              KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    RegSetValueExW(key, L"Version", 0, REG_SZ, reinterpret_cast<const BYTE*>(version),
                   static_cast<DWORD>((wcslen(version) + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
    ProcessResult r = RunProcess(L"\"" + BinPath(L"osident_test.exe") +
                                 L"\" --gtest_also_run_disabled_tests --gtest_filter=OsChild.DISABLED_Report");
    RegDeleteKeyW(HKEY_CURRENT_USER, L"Software\\Wine\\AppDefaults\\osident_test.exe");
    size_t pos = r.output.find("MATCHES=");
    if (pos == std::string::npos)
        return "child failed: " + r.output;
    return r.output.substr(pos + 8, Records().size());
}

struct FakePlatform {
    static DWORD productType;
    static int r2;
    static WORD architecture;
    static int WINAPI Metrics(int index) { return index == SM_SERVERR2 ? r2 : GetSystemMetrics(index); }
    static BOOL WINAPI ProductInfo(DWORD, DWORD, DWORD, DWORD, PDWORD type)
    {
        *type = productType;
        return TRUE;
    }
    static void WINAPI NativeInfo(LPSYSTEM_INFO info)
    {
        GetNativeSystemInfo(info);
        info->wProcessorArchitecture = architecture;
    }
};
DWORD FakePlatform::productType = 0;
int FakePlatform::r2 = 0;
WORD FakePlatform::architecture = PROCESSOR_ARCHITECTURE_AMD64;

class OsSeamTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        OsQueries().pGetSystemMetrics = &FakePlatform::Metrics;
        OsQueries().pGetProductInfo = &FakePlatform::ProductInfo;
        FakePlatform::r2 = 0;
        FakePlatform::productType = 0;
    }
    void TearDown() override { OsQueries() = COsQueries{nullptr, nullptr, nullptr}; }

    static int Supported(const wchar_t* edition)
    {
        CBaseComponent component;
        component.AddSupportedOperatingSystem(Os(L"nt_x86-64", -1, -1, -1, CBaseComponent::GetEditionCode(edition)));
        return component.IsOperatingSystemSupported();
    }
};

} // namespace

TEST(OsChild, DISABLED_Report)
{
    std::string bits = Evaluate();
    printf("MATCHES=%s\n", bits.c_str());
}

TEST(EditionCode, NamesMapToMasksIgnoringCase)
{
    struct {
        const wchar_t* name;
        WORD mask;
    } table[] = {{L"", 0xFFFF},        {L"srvr", 0xFF05},     {L"core", 0xFF0A},       {L"r2", 0xFF0C},
                 {L"r2srvr", 0xFF04},  {L"r2core", 0xFF08},   {L"dc", 0x040F},         {L"dcsrvr", 0x0405},
                 {L"dccore", 0x040A},  {L"dcr2", 0x040C},     {L"dcr2srvr", 0x0404},   {L"dcr2core", 0x0408},
                 {L"sbs", 0x0205},     {L"sbsr2", 0x0204},    {L"ebs", 0x0206},        {L"ebsr2", 0x0207},
                 {L"SRVR", 0xFF05},    {L"DcR2CoRe", 0x0408}, {L"datacenter", 0},      {L"srvr ", 0}};
    for (auto& row : table)
        EXPECT_EQ(CBaseComponent::GetEditionCode(row.name), row.mask) << row.name;
    EXPECT_EQ(CBaseComponent::GetEditionCode(nullptr), 0xFFFF);
}

TEST_F(OsSeamTest, SystemEditionCodeFollowsProductTypeAndR2Flag)
{
    struct {
        DWORD type;
        WORD withR2, without;
    } table[] = {{8, 0x0404, 0x0405},  {9, 0x0204, 0x0205},  {25, 0x0204, 0x0205}, {12, 0x0408, 0x040A},
                 {13, 0x0108, 0x0102}, {14, 0x0108, 0x0102}, {30, 0x0207, 0x0206}, {31, 0x0207, 0x0206},
                 {32, 0x0207, 0x0206}, {0, 0xFF04, 0xFF05},  {7, 0xFF04, 0xFF05},  {99, 0xFF04, 0xFF05}};
    for (auto& row : table) {
        FakePlatform::r2 = 1;
        EXPECT_EQ(CBaseComponent::GetSystemEditionCode(row.type), row.withR2) << row.type;
        FakePlatform::r2 = 0;
        EXPECT_EQ(CBaseComponent::GetSystemEditionCode(row.type), row.without) << row.type;
    }
}

TEST_F(OsSeamTest, DatacenterCoreMatchesOnlyItsEditions)
{
    FakePlatform::productType = 12;
    EXPECT_EQ(Supported(L"dccore"), 1);
    EXPECT_EQ(Supported(L"dc"), 1);
    EXPECT_EQ(Supported(L"dcsrvr"), 0);
    EXPECT_EQ(Supported(L"srvr"), 0);
    FakePlatform::r2 = 1;
    EXPECT_EQ(Supported(L"dcr2core"), 1);
    EXPECT_EQ(Supported(L"dcr2srvr"), 0);
    EXPECT_EQ(Supported(L"dcsrvr"), 0);
}

TEST_F(OsSeamTest, EssentialBusinessServerMatchesEbsOnly)
{
    FakePlatform::productType = 30;
    EXPECT_EQ(Supported(L"ebs"), 1);
    EXPECT_EQ(Supported(L"ebsr2"), 1);
    EXPECT_EQ(Supported(L"srvr"), 0);
    EXPECT_EQ(Supported(L"sbs"), 0);
}

TEST_F(OsSeamTest, GenericServerCodesAndR2)
{
    FakePlatform::productType = 7;
    EXPECT_EQ(Supported(L"srvr"), 1);
    EXPECT_EQ(Supported(L"r2srvr"), 0);
    FakePlatform::r2 = 1;
    EXPECT_EQ(Supported(L"srvr"), 1);
    EXPECT_EQ(Supported(L"r2srvr"), 1);
    EXPECT_EQ(Supported(L"r2"), 1);
}

TEST(OsMatching, EmptyListSupportsEverySystem)
{
    CBaseComponent component;
    EXPECT_EQ(component.IsOperatingSystemSupported(), 1);
}

TEST(OsMatching, AnyRecordInTheListMayMatch)
{
    CBaseComponent component;
    component.AddSupportedOperatingSystem(Os(L"nt", 6, 1, -1, 0xFFFF));
    EXPECT_EQ(component.IsOperatingSystemSupported(), 0);
    component.AddSupportedOperatingSystem(Os(L"nt_x86-64", 6, 1, -1, 0xFFFF));
    EXPECT_EQ(component.IsOperatingSystemSupported(), 1);
}

// The prefix's own setting: a 6.1 server with service pack 1 (Wine's "win7").
TEST(OsMatching, ServerSixOneOnTheRealPlatform)
{
    EXPECT_EQ(Evaluate(), "10100000100");
}

TEST(OsMatching, OtherWindowsVersionsOnTheRealPlatform)
{
    EXPECT_EQ(EvaluateUnder(L"win2003"), "00011000100");  // 5.2 server, SP2
    EXPECT_EQ(EvaluateUnder(L"nt40"), "00000100100");     // 4.0, SP6
    EXPECT_EQ(EvaluateUnder(L"win2008r2"), "10100000100"); // 6.1 workstation (no edition distinction)
    EXPECT_EQ(EvaluateUnder(L"win2008"), "00100000100");   // 6.0 server, SP2
}

TEST(Is64Bit, LogsTheArchitectureLines)
{
    struct Case {
        WORD arch;
        int result;
        const char* lines;
    } cases[] = {
        {PROCESSOR_ARCHITECTURE_AMD64, 1,
         "[T]::basecomp.cpp[1540]     - Operating system is 64-bit.\r\n"
         "[T]::basecomp.cpp[1541]     - Operating system is x64 based.\r\n"},
        {PROCESSOR_ARCHITECTURE_IA64, 1,
         "[T]::basecomp.cpp[1535]     - Operating system is 64-bit.\r\n"
         "[T]::basecomp.cpp[1536]     - Operating system is IA-64 based.\r\n"},
        {PROCESSOR_ARCHITECTURE_IA32_ON_WIN64, 1, "[T]::basecomp.cpp[1545]     - Operating system is 64-bit.\r\n"},
        {PROCESSOR_ARCHITECTURE_INTEL, 0, "[T]::basecomp.cpp[1548]     - Operating system is not 64-bit.\r\n"},
        {PROCESSOR_ARCHITECTURE_ARM, 0, ""},
    };
    for (const Case& c : cases) {
        FakePlatform::architecture = c.arch;
        // The real query for the first case, the seam for the others.
        OsQueries().pGetNativeSystemInfo = (c.arch == PROCESSOR_ARCHITECTURE_AMD64) ? nullptr : &FakePlatform::NativeInfo;
        CBaseComponent component;
        component.GetLog()->SetVerbose(1);
        component.GetLog()->Open();
        EXPECT_EQ(component.Is64BitOperatingSystem(), c.result);
        std::wstring path = std::wstring(component.GetLog()->GetVerboseLogDir()) + component.GetLog()->GetVerboseLogName();
        component.GetLog()->Close();
        EXPECT_EQ(MaskTimes(ReadBytes(path)), c.lines) << c.arch;
        DeleteFileW(path.c_str());
    }
    OsQueries() = COsQueries{nullptr, nullptr, nullptr};
}
