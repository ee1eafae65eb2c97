// The prerequisite check (property 5): order of the checks, log lines, early
// stops, classification and messages, and the framework's own probes.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "basecomp.h"
#include "messages.h"
#include "prereqtest.h"
#include "testsupport.h"

using namespace prereqtest;

namespace {

// A component whose probes answer what the test says and record the order in
// which they were asked.
class ProbeComponent : public CBaseComponent
{
public:
    int os = 1, disk = 1, hardware = 1, installed = 0, marked = 0, version = 0, additional = 1, dependencies = 1;
    std::wstring additionalMessage, dependencyMessage;
    // Written without a terminator over the whole buffer, as a careless hook
    // might.
    bool fillAdditional = false, fillDependencies = false;
    std::string calls;

    int IsOperatingSystemSupported() override { calls += "os "; return os; }
    int IsDiskSpaceAvailable(const wchar_t* drive) override
    {
        calls += drive ? "disk(drive) " : "disk ";
        return disk;
    }
    int IsHardwarePresent() override { calls += "hw "; return hardware; }
    int IsComponentInstalled() override { calls += "installed "; return installed; }
    int IsMarkedForRemoval() override { calls += "marked "; return marked; }
    int GetInstalledVersionStatus() override { calls += "version "; return version; }
    int CheckAdditionalRequirements(wchar_t* message, int capacity, const wchar_t* language) override
    {
        calls += "additional ";
        EXPECT_EQ(capacity, 4096);
        EXPECT_EQ(message[0], L'\0');
        if (fillAdditional)
            wmemset(message, L'A', capacity);
        else
            wcscpy(message, additionalMessage.c_str());
        return additional;
    }
    int CheckDependencies(wchar_t* message, int capacity, const wchar_t* language) override
    {
        calls += "deps ";
        EXPECT_EQ(capacity, 4096);
        if (fillDependencies)
            wmemset(message, L'D', capacity);
        else
            wcscpy(message, dependencyMessage.c_str());
        return dependencies;
    }
};

// The status record with guard bytes behind it.
struct GuardedStatus {
    PREREQSTATUS status;
    wchar_t guard[64];
};

struct Outcome {
    int result;
    int status;
    std::wstring message;
};

Outcome Check(ProbeComponent& component, const wchar_t* language = L"en")
{
    GuardedStatus record;
    memset(&record, 0xCD, sizeof(record));
    int result = component.GetProperty(5, &record.status, sizeof(PREREQSTATUS), const_cast<wchar_t*>(language));
    for (wchar_t c : record.guard)
        EXPECT_EQ(c, static_cast<wchar_t>(0xCDCD)) << "written past the record";
    return {result, record.status.nStatus, std::wstring(record.status.szMessage)};
}

std::wstring Message(int message, int column)
{
    return GetMessageText(message, column);
}

// Main-log bytes appended while f runs.
template <typename F>
std::string MainLogDuring(F f)
{
    size_t before = zoltest::ReadMainLog().size();
    f();
    std::string after = zoltest::ReadMainLog();
    return after.size() >= before ? after.substr(before) : after;
}

const char kNewInstallChecklist[] = "    - Is operating system supported... Yes\r\n"
                                    "    - Is necessary disk space available... Yes\r\n"
                                    "    - Is hardware present... Yes\r\n"
                                    "    - Is component already installed... No\r\n"
                                    "    - Is component marked for removal... No\r\n"
                                    "    - Installed component version status... Older\r\n"
                                    "    - Checking dependency list... Done.\r\n\r\n";

} // namespace

TEST(CheckPrerequisites, NewInstallationLogsTheWholeChecklist)
{
    ProbeComponent component;
    component.GetLog()->SetVerbose(1);
    ASSERT_EQ(component.GetLog()->Open(), 0);
    Outcome outcome;
    std::string log = MainLogDuring([&] { outcome = Check(component); });
    EXPECT_EQ(outcome.result, 1);
    EXPECT_EQ(outcome.status, STATUS_NOT_INSTALLED);
    EXPECT_EQ(outcome.message, L"");
    EXPECT_EQ(component.calls, "os disk hw installed marked version additional deps ");
    EXPECT_EQ(log, kNewInstallChecklist);

    // The verbose log carries each question with the framework's source and
    // line.
    const LOGFILE* verbose = component.GetLog()->GetRecord(1);
    ASSERT_NE(verbose, nullptr);
    std::string text = zoltest::MaskTimes(
        zoltest::ReadBytes(std::wstring(verbose->szDirectory) + verbose->szFileName));
    EXPECT_NE(text.find("[T]::basecomp.cpp[844]     - Is operating system supported... Yes\r\n"), std::string::npos);
    EXPECT_NE(text.find("[T]::basecomp.cpp[856]     - Is necessary disk space available... Yes\r\n"), std::string::npos);
    EXPECT_NE(text.find("[T]::basecomp.cpp[869]     - Is hardware present... Yes\r\n"), std::string::npos);
    EXPECT_NE(text.find("[T]::basecomp.cpp[875]     - Is component already installed... No\r\n"), std::string::npos);
    EXPECT_NE(text.find("[T]::basecomp.cpp[881]     - Is component marked for removal... No\r\n"), std::string::npos);
    EXPECT_NE(text.find("[T]::basecomp.cpp[887]     - Installed component version status... Older\r\n"),
              std::string::npos);
    EXPECT_NE(text.find("[T]::basecomp.cpp[904]     - Checking dependency list... Done.\r\n\r\n"), std::string::npos);
    component.GetLog()->Close();
}

TEST(CheckPrerequisites, UnsupportedOperatingSystemStopsAfterTheFirstQuestion)
{
    ProbeComponent component;
    component.os = 0;
    component.dependencies = 0;
    component.dependencyMessage = L"ignored";
    ASSERT_EQ(component.GetLog()->Open(), 0);
    Outcome outcome;
    std::string log = MainLogDuring([&] { outcome = Check(component, L"de"); });
    EXPECT_EQ(outcome.result, 1);
    EXPECT_EQ(outcome.status, STATUS_CANNOT_INSTALL);
    EXPECT_EQ(outcome.message, L"Das Betriebssystem wird nicht unterst\u00FCtzt\r\n");
    EXPECT_EQ(component.calls, "os ");
    EXPECT_EQ(log, "    - Is operating system supported... No\r\n\r\n");
    component.GetLog()->Close();

    // Every language gets its own column; anything else is English.
    EXPECT_EQ(Check(component, L"fr").message, Message(MSG_OS_NOT_SUPPORTED, LANG_COL_FRENCH));
    EXPECT_EQ(Check(component, L"JA").message, Message(MSG_OS_NOT_SUPPORTED, LANG_COL_JAPANESE));
    EXPECT_EQ(Check(component, L"xx").message, L"The OS is not supported.\r\n");
    EXPECT_EQ(Check(component, nullptr).message, L"The OS is not supported.\r\n");
}

TEST(CheckPrerequisites, ClassifiesInstalledStateAndVersion)
{
    struct Case {
        int hardware, installed, version;
        int expected;
        const char* versionLog;
    };
    const Case cases[] = {
        {1, 0, 0, STATUS_NOT_INSTALLED, "Older"}, {1, 0, 2, STATUS_NOT_INSTALLED, "Newer"},
        {1, 1, 0, STATUS_INSTALLED_OLDER, "Older"}, {1, 1, 1, STATUS_INSTALLED_SAME, "Same"},
        {1, 1, 2, STATUS_INSTALLED_NEWER, "Newer"}, {0, 1, 1, STATUS_INSTALLED_NO_HARDWARE, "Same"},
        {0, 0, 1, STATUS_NOT_APPLICABLE, "Same"},   {1, 1, 7, STATUS_UNDETERMINED, nullptr},
    };
    for (const Case& c : cases) {
        ProbeComponent component;
        component.hardware = c.hardware;
        component.installed = c.installed;
        component.version = c.version;
        ASSERT_EQ(component.GetLog()->Open(), 0);
        Outcome outcome;
        std::string log = MainLogDuring([&] { outcome = Check(component); });
        component.GetLog()->Close();
        SCOPED_TRACE(testing::Message() << "H" << c.hardware << " I" << c.installed << " V" << c.version);
        EXPECT_EQ(outcome.result, 1);
        EXPECT_EQ(outcome.status, c.expected);
        EXPECT_EQ(outcome.message, L"");
        EXPECT_NE(log.find(std::string("    - Is hardware present... ") + (c.hardware ? "Yes" : "No") + "\r\n"),
                  std::string::npos);
        EXPECT_NE(log.find(std::string("    - Is component already installed... ") + (c.installed ? "Yes" : "No") +
                           "\r\n"),
                  std::string::npos);
        if (c.versionLog)
            EXPECT_NE(log.find(std::string("    - Installed component version status... ") + c.versionLog + "\r\n"),
                      std::string::npos);
        else // an unknown status completes the question with nothing
            EXPECT_NE(log.find("    - Installed component version status...     - Checking dependency list... "),
                      std::string::npos);
    }
}

TEST(CheckPrerequisites, MarkedForRemovalAndAdditionalRequirements)
{
    {
        ProbeComponent component; // marked, hardware present
        component.marked = 1;
        component.installed = 1;
        component.version = 1;
        Outcome outcome = Check(component, L"fr");
        EXPECT_EQ(outcome.status, STATUS_CANNOT_INSTALL);
        EXPECT_EQ(outcome.message, Message(MSG_MARKED_FOR_REMOVAL, LANG_COL_FRENCH));
        EXPECT_EQ(Check(component, L"it").message, Message(MSG_MARKED_FOR_REMOVAL, LANG_COL_ITALIAN));
        EXPECT_EQ(Check(component, L"ja").message, Message(MSG_MARKED_FOR_REMOVAL, LANG_COL_JAPANESE));
    }
    for (int installed = 0; installed <= 1; ++installed) {
        ProbeComponent component; // marked, no hardware: no message
        component.marked = 1;
        component.hardware = 0;
        component.installed = installed;
        component.additional = 0;
        component.additionalMessage = L"not looked at";
        Outcome outcome = Check(component);
        EXPECT_EQ(outcome.status, installed ? STATUS_INSTALLED_NO_HARDWARE : STATUS_NOT_APPLICABLE);
        EXPECT_EQ(outcome.message, L"");
    }
    {
        ProbeComponent component; // a failed requirement with its reason
        component.additional = 0;
        component.additionalMessage = L"A newer firmware is needed.";
        Outcome outcome = Check(component);
        EXPECT_EQ(outcome.status, STATUS_CANNOT_INSTALL);
        EXPECT_EQ(outcome.message, L"A newer firmware is needed.");
        component.additionalMessage.clear();
        outcome = Check(component);
        EXPECT_EQ(outcome.status, STATUS_CANNOT_INSTALL);
        EXPECT_EQ(outcome.message, L"");
        // Marked for removal wins over the requirement's reason.
        component.additionalMessage = L"A newer firmware is needed.";
        component.marked = 1;
        EXPECT_EQ(Check(component).message, Message(MSG_MARKED_FOR_REMOVAL, LANG_COL_ENGLISH));
    }
    {
        ProbeComponent component; // a requirement that passes keeps its text to itself
        component.additionalMessage = L"all fine";
        Outcome outcome = Check(component);
        EXPECT_EQ(outcome.status, STATUS_NOT_INSTALLED);
        EXPECT_EQ(outcome.message, L"");
    }
}

TEST(CheckPrerequisites, FailedDependencyMakesThePackageNotApplicable)
{
    ProbeComponent component;
    component.dependencies = 0;
    component.dependencyMessage = L"System model not supported.";
    component.installed = 1;
    component.version = 1;
    ASSERT_EQ(component.GetLog()->Open(), 0);
    Outcome outcome;
    std::string log = MainLogDuring([&] { outcome = Check(component); });
    component.GetLog()->Close();
    EXPECT_EQ(outcome.status, STATUS_NOT_APPLICABLE);
    EXPECT_EQ(outcome.message, L"System model not supported.");
    EXPECT_NE(log.find("    - Checking dependency list... Failed!\r\n\r\n"), std::string::npos);

    // Whatever the earlier checks found.
    component.marked = 1;
    EXPECT_EQ(Check(component).message, L"System model not supported.");
    component.hardware = 0;
    EXPECT_EQ(Check(component).status, STATUS_NOT_APPLICABLE);
    // Without a message of its own, the earlier message stays.
    component.hardware = 1;
    component.dependencyMessage.clear();
    outcome = Check(component);
    EXPECT_EQ(outcome.status, STATUS_NOT_APPLICABLE);
    EXPECT_EQ(outcome.message, Message(MSG_MARKED_FOR_REMOVAL, LANG_COL_ENGLISH));
}

TEST(CheckPrerequisites, OverLongMessagesAreCutToTheRecord)
{
    ProbeComponent component;
    component.additional = 0;
    component.fillAdditional = true;
    Outcome outcome = Check(component);
    EXPECT_EQ(outcome.status, STATUS_CANNOT_INSTALL);
    EXPECT_EQ(outcome.message, std::wstring(1023, L'A'));

    component.additional = 1;
    component.dependencies = 0;
    component.fillDependencies = true;
    outcome = Check(component);
    EXPECT_EQ(outcome.status, STATUS_NOT_APPLICABLE);
    EXPECT_EQ(outcome.message, std::wstring(1023, L'D'));
}

TEST(Probes, DiskSpace)
{
    CBaseComponent component;
    // No requirement: the volume is not even asked.
    EXPECT_EQ(component.IsDiskSpaceAvailable(L"?:"), 1);
    component.SetRequiredDiskSpace(1);
    EXPECT_EQ(component.IsDiskSpaceAvailable(nullptr), 1);
    EXPECT_EQ(component.IsDiskSpaceAvailable(L"C:"), 1);
    EXPECT_EQ(component.IsDiskSpaceAvailable(L"?:"), 0); // the query fails: no free space
    ULARGE_INTEGER available = {};
    ASSERT_TRUE(GetDiskFreeSpaceExW(L"C:\\", &available, nullptr, nullptr));
    // The free space moves while other processes on the machine write and
    // delete files (whole prefixes, when tests run side by side): the
    // requirements stay far from it on either side.
    ULONGLONG freeKb = available.QuadPart / 1024;
    if (freeKb < 0xFFFFFFFFull) {
        component.SetRequiredDiskSpace(static_cast<int>(0xFFFFFFFFu));
        EXPECT_EQ(component.IsDiskSpaceAvailable(nullptr), 0);
    }
    if (freeKb * 2 < 0xFFFFFFFFull) {
        component.SetRequiredDiskSpace(static_cast<int>(freeKb * 2));
        EXPECT_EQ(component.IsDiskSpaceAvailable(nullptr), 0);
    }
    if (freeKb > 1024) {
        component.SetRequiredDiskSpace(static_cast<int>((freeKb > 0x7FFFFFFF ? 0x7FFFFFFF : freeKb) / 2));
        EXPECT_EQ(component.IsDiskSpaceAvailable(nullptr), 1);
    }
}

TEST(Probes, HardwarePresence)
{
    ASSERT_FALSE(zoltest::AddDevice({L"PCI\\VEN_8086&DEV_0E83&SUBSYS_7C41A2E9&REV_04",
                                     L"PCI\\VEN_8086&DEV_0E83&SUBSYS_7C41A2E9"})
                     .empty());
    CBaseComponent none;
    EXPECT_EQ(none.IsHardwarePresent(), 1); // no hardware named: nothing needed

    CBaseComponent absent;
    absent.AddSupportedHardwareId(L"PCI\\VEN_8086&DEV_FFF0");
    absent.AddSupportedHardwareId(L"PCI\\VEN_8086&DEV_FFF1");
    EXPECT_EQ(absent.IsHardwarePresent(), 0);

    CBaseComponent present;
    present.AddSupportedHardwareId(L"PCI\\VEN_8086&DEV_FFF0");
    present.AddSupportedHardwareId(L"PCI\\VEN_8086&DEV_0E83&SUBSYS_7C41A2E9");
    EXPECT_EQ(present.IsHardwarePresent(), 1);
}

namespace {

const wchar_t kServicesKey[] = L"System\\CurrentControlSet\\Services\\";

// An INF for a kernel service; withClass adds the device class lines.
std::wstring ServiceInf(const std::wstring& service, bool withClass)
{
    std::wstring text = L"[Version]\r\nSignature=\"$WINDOWS NT$\"\r\n";
    if (withClass)
        text += L"Class=System\r\nClassGUID={4D36E97D-E325-11CE-BFC1-08002BE10318}\r\n";
    text += L"Provider=%Prov%\r\n\r\n[Install]\r\nCopyFiles=Files\r\n";
    if (!service.empty())
        text += L"AddService=" + service + L",0x2,Service_Install\r\n";
    text += L"\r\n[Files]\r\nzolinst.sys\r\n\r\n[DestinationDirs]\r\nDefaultDestDir=12\r\n\r\n"
            L"[Service_Install]\r\nServiceType=1\r\nStartType=3\r\nErrorControl=1\r\n"
            L"ServiceBinary=%12%\\zolinst.sys\r\n\r\n[Strings]\r\nProv=\"Zol\"\r\n";
    return text;
}

// A component whose package names its own service.
class NamedServiceComponent : public CBaseComponent
{
public:
    void SetServiceName(const wchar_t* name) { m_strServiceName = name; }
};

} // namespace

TEST(InstalledState, ServiceNamedByTheInf)
{
    std::wstring dir = zoltest::MakeTestDir(L"inst_service");
    std::wstring inf = dir + L"\\zolinst.inf";
    ASSERT_TRUE(zoltest::WriteUtf8(inf, ServiceInf(L"ZolInstA", false)));
    CBaseComponent component;
    component.SetInfFile(inf.c_str(), INF_TYPE_LEGACY);
    // A key file does not count while the INF names a service.
    std::wstring keyFile = dir + L"\\zolinst.sys";
    ASSERT_TRUE(zoltest::WriteBytes(keyFile, "x"));
    component.SetInstalledFilePath(keyFile.c_str());
    EXPECT_EQ(component.IsComponentInstalled(), 0);
    EXPECT_EQ(component.IsMarkedForRemoval(), 0);

    ASSERT_TRUE(CreateDriverService(L"ZolInstA"));
    EXPECT_EQ(component.IsComponentInstalled(), 1);
    EXPECT_EQ(component.IsMarkedForRemoval(), 0);

    // Marked for deletion: no longer installed, and marked for removal.
    ASSERT_TRUE(SetRegDword(std::wstring(kServicesKey) + L"ZolInstA", L"DeleteFlag", 1));
    EXPECT_EQ(component.IsComponentInstalled(), 0);
    EXPECT_EQ(component.IsMarkedForRemoval(), 1);
    RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, (std::wstring(kServicesKey) + L"ZolInstA").c_str(), L"DeleteFlag");

    // A disabled service is not installed.
    std::wstring infDisabled = dir + L"\\zoldis.inf";
    ASSERT_TRUE(zoltest::WriteUtf8(infDisabled, ServiceInf(L"ZolInstDisabled", false)));
    ASSERT_TRUE(CreateDriverService(L"ZolInstDisabled", true));
    component.SetInfFile(infDisabled.c_str(), INF_TYPE_LEGACY);
    EXPECT_EQ(component.IsComponentInstalled(), 0);
    EXPECT_EQ(component.IsMarkedForRemoval(), 0);
}

TEST(InstalledState, PnpServiceMustDriveEveryPresentSupportedDevice)
{
    ASSERT_FALSE(zoltest::AddDevice({L"PCI\\VEN_8086&DEV_0E84&SUBSYS_7C41A2E9"}).empty());
    std::wstring dir = zoltest::MakeTestDir(L"inst_pnp");
    std::wstring inf = dir + L"\\zolpnp.inf";
    ASSERT_TRUE(zoltest::WriteUtf8(inf, ServiceInf(L"ZolInstPnp", true)));
    ASSERT_TRUE(CreateDriverService(L"ZolInstPnp"));

    CBaseComponent component;
    component.SetInfFile(inf.c_str(), INF_TYPE_PNP);
    EXPECT_EQ(component.IsComponentInstalled(), 1); // no supported hardware named
    component.AddSupportedHardwareId(L"PCI\\VEN_8086&DEV_0E84&SUBSYS_7C41A2E9");
    EXPECT_EQ(component.IsComponentInstalled(), 0); // the service drives no device yet
    ASSERT_TRUE(SetRegDword(std::wstring(kServicesKey) + L"ZolInstPnp\\Enum", L"Count", 1));
    EXPECT_EQ(component.IsComponentInstalled(), 1);

    // Only a PnP package with a device class asks for the devices.
    CBaseComponent legacy;
    legacy.SetInfFile(inf.c_str(), INF_TYPE_LEGACY);
    legacy.AddSupportedHardwareId(L"PCI\\VEN_8086&DEV_0E84&SUBSYS_7C41A2E9");
    std::wstring classless = dir + L"\\zolnoclass.inf";
    ASSERT_TRUE(zoltest::WriteUtf8(classless, ServiceInf(L"ZolInstPnp", false)));
    CBaseComponent noClass;
    noClass.SetInfFile(classless.c_str(), INF_TYPE_PNP);
    noClass.AddSupportedHardwareId(L"PCI\\VEN_8086&DEV_0E84&SUBSYS_7C41A2E9");
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, (std::wstring(kServicesKey) + L"ZolInstPnp\\Enum").c_str());
    EXPECT_EQ(component.IsComponentInstalled(), 0);
    EXPECT_EQ(legacy.IsComponentInstalled(), 1);
    EXPECT_EQ(noClass.IsComponentInstalled(), 1);
}

TEST(InstalledState, PackageServiceNameOverridesTheInfForInstalledOnly)
{
    std::wstring dir = zoltest::MakeTestDir(L"inst_named");
    std::wstring inf = dir + L"\\zolnamed.inf";
    ASSERT_TRUE(zoltest::WriteUtf8(inf, ServiceInf(L"ZolInfService", false)));
    ASSERT_TRUE(CreateDriverService(L"ZolPackageService"));

    NamedServiceComponent component;
    component.SetInfFile(inf.c_str(), INF_TYPE_LEGACY);
    component.SetServiceName(L"ZolPackageService");
    EXPECT_EQ(component.IsComponentInstalled(), 1);
    // Pending removal is asked of the INF's service only.
    ASSERT_TRUE(SetRegDword(std::wstring(kServicesKey) + L"ZolPackageService", L"DeleteFlag", 1));
    EXPECT_EQ(component.IsMarkedForRemoval(), 0);
    EXPECT_EQ(component.IsComponentInstalled(), 0);
}

TEST(InstalledState, KeyFileCountsWithoutAService)
{
    std::wstring dir = zoltest::MakeTestDir(L"inst_file");
    std::wstring inf = dir + L"\\zolfile.inf";
    ASSERT_TRUE(zoltest::WriteUtf8(inf, ServiceInf(L"", true)));
    std::wstring keyFile = dir + L"\\key.sys";

    for (const std::wstring& infPath : {inf, dir + L"\\absent.inf", std::wstring()}) {
        SCOPED_TRACE(zoltest::ToUtf8(infPath));
        CBaseComponent component;
        component.SetInfFile(infPath.c_str(), INF_TYPE_PNP);
        component.SetInstalledFilePath(keyFile.c_str());
        DeleteFileW(keyFile.c_str());
        EXPECT_EQ(component.IsComponentInstalled(), 0);
        ASSERT_TRUE(zoltest::WriteBytes(keyFile, "x"));
        EXPECT_EQ(component.IsComponentInstalled(), 1);
        EXPECT_EQ(component.IsMarkedForRemoval(), 0);
        component.SetInstalledFilePath(dir.c_str()); // a directory is not a key file
        EXPECT_EQ(component.IsComponentInstalled(), 0);
        component.SetInstalledFilePath(L"");
        EXPECT_EQ(component.IsComponentInstalled(), 0);
    }
}
