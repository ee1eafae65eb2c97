// Property 5 through the host on the sample PnP package, before anything is
// installed: new installation, no device, refusals with their messages in the
// host's language, the model dependency, and a record that is too small.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "basecomp.h"
#include "messages.h"
#include "prereqtest.h"
#include "testsupport.h"

using namespace prereqtest;

namespace {

const std::vector<std::string> kNewInstallChecklist = {
    "    - Is operating system supported... Yes",
    "    - Is necessary disk space available... Yes",
    "    - Is hardware present... Yes",
    "    - Is component already installed... No",
    "    - Is component marked for removal... No",
    "    - Installed component version status... Older",
    "    - Checking dependency list... Done.",
};

std::string Utf8Message(int message, int column)
{
    return zoltest::ToUtf8(GetMessageText(message, column));
}

class PrereqHost : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(SetHostWindowsVersion(L"win7"));
        zoltest::ClearLogs();
    }
    void TearDown() override { SetHostWindowsVersion(nullptr); }
};

} // namespace

TEST_F(PrereqHost, NewInstallationOnAServerWithItsDevices)
{
    CDeviceScope device(ChipsetDeviceIds());
    ASSERT_TRUE(device.Valid());
    std::wstring dir = MakePackage(L"ph_new");
    HostAnswer answer = CheckPackage(dir);
    ASSERT_TRUE(answer.found) << answer.output;
    EXPECT_EQ(answer.result, 1);
    EXPECT_EQ(answer.status, STATUS_NOT_INSTALLED) << answer.output;
    EXPECT_EQ(answer.message, "");

    std::string log = zoltest::ReadMainLog();
    EXPECT_EQ(ChecklistLines(log), kNewInstallChecklist);
    EXPECT_NE(log.find("    - Is operating system supported... Yes\r\n"
                       "    - Is necessary disk space available... Yes\r\n"
                       "    - Is hardware present... Yes\r\n"
                       "    - Is component already installed... No\r\n"
                       "    - Is component marked for removal... No\r\n"
                       "    - Installed component version status... Older\r\n"
                       "    - Checking dependency list... Done.\r\n\r\n"),
              std::string::npos)
        << log;

    // Not installed: no installed version either.
    EXPECT_EQ(CheckPackage(dir, L"en", 3).result, 0);
}

TEST_F(PrereqHost, NoSupportedDeviceIsNotApplicable)
{
    std::wstring dir = MakePackage(L"ph_nodevice");
    HostAnswer answer = CheckPackage(dir);
    EXPECT_EQ(answer.status, STATUS_NOT_APPLICABLE) << answer.output;
    EXPECT_EQ(answer.message, "");
    EXPECT_NE(zoltest::ReadMainLog().find("    - Is hardware present... No\r\n"), std::string::npos);
}

TEST_F(PrereqHost, UnsupportedOperatingSystemIsRefusedInTheHostsLanguage)
{
    CDeviceScope device(ChipsetDeviceIds());
    ASSERT_TRUE(SetHostWindowsVersion(L"win2003"));
    std::wstring dir = MakePackage(L"ph_os");
    HostAnswer answer = CheckPackage(dir, L"de");
    EXPECT_EQ(answer.result, 1);
    EXPECT_EQ(answer.status, STATUS_CANNOT_INSTALL) << answer.output;
    EXPECT_EQ(answer.message, zoltest::ToUtf8(L"Das Betriebssystem wird nicht unterst\u00FCtzt\r\n"));
    std::string log = zoltest::ReadMainLog();
    EXPECT_EQ(ChecklistLines(log), std::vector<std::string>{"    - Is operating system supported... No"});
    EXPECT_NE(log.find("    - Is operating system supported... No\r\n\r\n"), std::string::npos);

    EXPECT_EQ(CheckPackage(dir, L"ja").message, Utf8Message(MSG_OS_NOT_SUPPORTED, LANG_COL_JAPANESE));
}

TEST_F(PrereqHost, TooLittleDiskSpaceIsRefused)
{
    ULARGE_INTEGER available = {};
    ASSERT_TRUE(GetDiskFreeSpaceExW(L"C:\\", &available, nullptr, nullptr));
    if (available.QuadPart / 1024 >= 0x7FFFFFFFull)
        GTEST_SKIP() << "the system drive has more free space than a package can ask for";
    CDeviceScope device(ChipsetDeviceIds());
    std::wstring dir = MakePackage(L"ph_disk");
    ASSERT_TRUE(EditFile(dir + L"\\qx012345.xml", "size_kb=\"2048\"", "size_kb=\"2147483647\""));
    HostAnswer answer = CheckPackage(dir, L"fr");
    EXPECT_EQ(answer.status, STATUS_CANNOT_INSTALL) << answer.output;
    EXPECT_EQ(answer.message, Utf8Message(MSG_NO_DISK_SPACE, LANG_COL_FRENCH));
    EXPECT_EQ(ChecklistLines(zoltest::ReadMainLog()),
              (std::vector<std::string>{"    - Is operating system supported... Yes",
                                        "    - Is necessary disk space available... No"}));
}

TEST_F(PrereqHost, ServiceMarkedForDeletionIsRefused)
{
    CDeviceScope device(ChipsetDeviceIds());
    // The sample INF's service, as a previous installation left it, marked
    // for deletion at the next restart (Wine never writes the flag itself).
    ASSERT_TRUE(CreateDriverService(L"zolchip"));
    ASSERT_TRUE(SetRegDword(L"System\\CurrentControlSet\\Services\\zolchip", L"DeleteFlag", 1));

    std::wstring dir = MakePackage(L"ph_marked");
    HostAnswer answer = CheckPackage(dir, L"es");
    EXPECT_EQ(answer.status, STATUS_CANNOT_INSTALL) << answer.output;
    EXPECT_EQ(answer.message, Utf8Message(MSG_MARKED_FOR_REMOVAL, LANG_COL_SPANISH));
    std::vector<std::string> lines = ChecklistLines(zoltest::ReadMainLog());
    ASSERT_EQ(lines.size(), 7u);
    EXPECT_EQ(lines[3], "    - Is component already installed... No");
    EXPECT_EQ(lines[4], "    - Is component marked for removal... Yes");

    // Without the device the package is merely not applicable, and no
    // message is given.
    device.Remove();
    answer = CheckPackage(dir, L"es");
    EXPECT_EQ(answer.status, STATUS_NOT_APPLICABLE) << answer.output;
    EXPECT_EQ(answer.message, "");

    EXPECT_TRUE(DeleteServiceAndCheckGone(L"zolchip"));
}

TEST_F(PrereqHost, ModelDependency)
{
    CDeviceScope device(ChipsetDeviceIds());
    const std::wstring model = MachineModel();
    ASSERT_FALSE(model.empty());
    std::wstring dir = MakePackage(L"ph_dependency");
    auto write = [&](const std::wstring& listed) {
        return zoltest::WriteUtf8(dir + L"\\dependency.xml",
                                  L"<?xml version=\"1.0\"?>\r\n<componentdependencies>\r\n  <dependent_hardware>\r\n"
                                  L"    <platforms>\r\n      <platform model=\"Other Server 100\"/>\r\n"
                                  L"      <platform model=\"" + listed + L"\"/>\r\n"
                                  L"    </platforms>\r\n  </dependent_hardware>\r\n</componentdependencies>\r\n");
    };
    ASSERT_TRUE(write(L"Other Server 200"));
    HostAnswer answer = CheckPackage(dir, L"de");
    EXPECT_EQ(answer.status, STATUS_NOT_APPLICABLE) << answer.output;
    EXPECT_EQ(answer.message, "System model not supported.");
    EXPECT_NE(zoltest::ReadMainLog().find("    - Checking dependency list... Failed!\r\n\r\n"), std::string::npos);

    ASSERT_TRUE(write(model));
    answer = CheckPackage(dir);
    EXPECT_EQ(answer.status, STATUS_NOT_INSTALLED) << answer.output;
    EXPECT_EQ(answer.message, "");

    // A host that set COM up single-threaded on its thread gets the same
    // answer, and its thread is still single-threaded after the questions.
    answer = ParseProperty(zoltest::RunHost(dir, L"--sta --check --json"), 5);
    EXPECT_EQ(answer.status, STATUS_NOT_INSTALLED) << answer.output;
    EXPECT_EQ(answer.message, "");
    EXPECT_NE(answer.output.find("\"host_apartment\":\"single-threaded\"}"), std::string::npos) << answer.output;
    ASSERT_TRUE(write(L"Other Server 200"));
    answer = ParseProperty(zoltest::RunHost(dir, L"--sta --check --json"), 5);
    EXPECT_EQ(answer.status, STATUS_NOT_APPLICABLE) << answer.output;
    EXPECT_EQ(answer.message, "System model not supported.");
}

TEST_F(PrereqHost, RecordSmallerThan2052BytesGetsNothing)
{
    // The component's own export, loaded the way a host loads it, from the
    // package directory.
    CDeviceScope device(ChipsetDeviceIds());
    std::wstring dir = MakePackage(L"ph_record");
    ASSERT_TRUE(zoltest::InstallComponentInto(dir));
    wchar_t previous[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, previous);
    SetCurrentDirectoryW(dir.c_str());
    HMODULE module = LoadLibraryW((dir + L"\\zolcomp.dll").c_str());
    SetCurrentDirectoryW(previous);
    ASSERT_NE(module, nullptr);
    typedef int(WINAPI * GetPropertyFn)(int, void*, int, void*);
    GetPropertyFn getProperty = reinterpret_cast<GetPropertyFn>(GetProcAddress(module, "GetProperty"));
    ASSERT_NE(getProperty, nullptr);

    struct {
        PREREQSTATUS status;
        wchar_t guard[16];
    } record;
    memset(&record, 0xAB, sizeof(record));
    std::string logBefore = zoltest::ReadMainLog();
    wchar_t language[] = L"en";
    EXPECT_EQ(getProperty(5, &record.status, 2051, language), 0);
    EXPECT_EQ(getProperty(5, &record.status, 0, language), 0);
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(&record);
    for (size_t i = 0; i < sizeof(record); ++i)
        ASSERT_EQ(bytes[i], 0xAB) << "byte " << i;
    EXPECT_EQ(zoltest::ReadMainLog(), logBefore);

    EXPECT_EQ(getProperty(5, &record.status, 2052, language), 1);
    EXPECT_EQ(record.status.nStatus, STATUS_NOT_INSTALLED);
    for (wchar_t c : record.guard)
        EXPECT_EQ(c, static_cast<wchar_t>(0xABAB));
    FreeLibrary(module);
}
