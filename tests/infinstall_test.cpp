// CInf install operations on Wine's real registry, service manager and
// SetupAPI. Where Wine cannot produce a case - a service installer reporting
// an existing service, a class-driver list to select from, a class installer
// or driver update that fails or asks for a restart - the test replaces that
// one call in the install operations' platform table and puts the defaults
// back afterwards. Wine's own SetupDiSetSelectedDriverW is never called: it
// ends the process.
#include <gtest/gtest.h>
#include <windows.h>
#include <setupapi.h>

#include <algorithm>
#include <string>
#include <vector>

#include "basecomp.h"
#include "inf/inf.h"
#include "inf/infjournal.h"
#include "inf/infplatform.h"
#include "legacyhelpers.h"
#include "pnphelpers.h"
#include "testsupport.h"

using namespace legacytest;

namespace {

const wchar_t kSystemClass[] = L"Class=System\r\nClassGUID={4D36E97D-E325-11CE-BFC1-08002BE10318}\r\n";

// pkg.inf in dir: the Version section (with extra lines), destination
// directory dir\out, then body.
std::wstring WriteInf(const std::wstring& dir, const std::wstring& version, const std::wstring& body)
{
    std::wstring text = L"[Version]\r\nSignature=\"$Windows NT$\"\r\n" + version +
                        L"[DestinationDirs]\r\nDefaultDestDir=" + dir + L"\\out\r\n" + body;
    EXPECT_TRUE(zoltest::WriteUtf8(dir + L"\\pkg.inf", text));
    return dir + L"\\pkg.inf";
}

// A service section pair for service NAME: "[<section>]" with one AddService
// line and the service-install section.
std::wstring ServiceSections(const std::wstring& section, const std::wstring& name, const std::wstring& display,
                             int start = 3)
{
    return L"[" + section + L"]\r\nAddService=" + name + L",0x2," + name + L"_Service\r\n[" + name +
           L"_Service]\r\nDisplayName=\"" + display + L"\"\r\nServiceType=1\r\nStartType=" + std::to_wstring(start) +
           L"\r\nErrorControl=1\r\nServiceBinary=%12%\\" + name + L".sys\r\n";
}

// One model with hardware ID ROOT\<ID> installed by section Install.
std::wstring OneModel(const std::wstring& id)
{
    return L"[Manufacturer]\r\n\"ZOL Tests\"=Models,NTamd64\r\n[Models.NTamd64]\r\n\"ZOL " + id +
           L"\"=Install,ROOT\\" + id + L"\r\n";
}

bool CreateTestService(const std::wstring& name, const std::wstring& display)
{
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    if (!manager)
        return false;
    SC_HANDLE service = CreateServiceW(manager, name.c_str(), display.c_str(), SERVICE_ALL_ACCESS,
                                       SERVICE_KERNEL_DRIVER, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL,
                                       L"C:\\windows\\system32\\drivers\\zolabsent.sys", nullptr, nullptr, nullptr,
                                       nullptr, nullptr);
    if (service)
        CloseServiceHandle(service);
    CloseServiceHandle(manager);
    return service != nullptr;
}

// CreateDeviceInfo's outcome, with the set and element it made.
struct CDeviceInfo {
    CDeviceInfo(CInf& inf, const wchar_t* instance) { result = inf.CreateDeviceInfo(&set, &element, instance); }
    CUniqueDevInfo set;
    SP_DEVINFO_DATA element = {};
    int result = 0;
};

std::wstring SelectedDriver(CDeviceInfo& device)
{
    SP_DRVINFO_DATA_W driver = {};
    driver.cbSize = sizeof(driver);
    if (!SetupDiGetSelectedDriverW(device.set.get(), &device.element, &driver))
        return std::wstring();
    return driver.Description;
}

std::wstring HardwareId(CDeviceInfo& device)
{
    wchar_t ids[260] = {};
    if (!SetupDiGetDeviceRegistryPropertyW(device.set.get(), &device.element, SPDRP_HARDWAREID, nullptr,
                                           reinterpret_cast<PBYTE>(ids), sizeof(ids) - 2 * sizeof(wchar_t), nullptr))
        return std::wstring();
    return ids;
}

// Stand-ins for the platform table, with what they were asked.
struct Fake {
    static DWORD serviceError;
    static int drivers;     // class drivers the fake list holds
    static DWORD listEnd;   // error that ends the enumeration
    static DWORD selectError; // 0: selection succeeds
    static std::vector<std::wstring> selected;
    static DWORD restartFlags; // added after a real DIF_INSTALLDEVICE
    static DWORD installError; // 0: the real class installer runs

    static void Reset()
    {
        serviceError = 0;
        drivers = 0;
        listEnd = ERROR_NO_MORE_ITEMS;
        selectError = 0;
        selected.clear();
        restartFlags = 0;
        installError = 0;
    }

    static BOOL WINAPI InstallServices(HINF, PCWSTR, DWORD)
    {
        SetLastError(serviceError);
        return FALSE;
    }
    // A class-driver list is "built"; a compatible list is the platform's.
    static BOOL WINAPI BuildList(HDEVINFO set, PSP_DEVINFO_DATA element, DWORD type)
    {
        if (type == SPDIT_CLASSDRIVER)
            return TRUE;
        return SetupDiBuildDriverInfoList(set, element, type);
    }
    static BOOL WINAPI EnumDrivers(HDEVINFO, PSP_DEVINFO_DATA, DWORD, DWORD index, PSP_DRVINFO_DATA_W driver)
    {
        if (static_cast<int>(index) >= drivers) {
            SetLastError(listEnd);
            return FALSE;
        }
        wsprintfW(driver->Description, L"driver %d", static_cast<int>(index));
        return TRUE;
    }
    static BOOL WINAPI Select(HDEVINFO, PSP_DEVINFO_DATA, PSP_DRVINFO_DATA_W driver)
    {
        if (selectError) {
            SetLastError(selectError);
            return FALSE;
        }
        selected.push_back(driver->Description);
        return TRUE;
    }
    static BOOL WINAPI ClassInstaller(DI_FUNCTION function, HDEVINFO set, PSP_DEVINFO_DATA element)
    {
        if (function == DIF_INSTALLDEVICE && installError) {
            SetLastError(installError);
            return FALSE;
        }
        BOOL ok = SetupDiCallClassInstaller(function, set, element);
        if (ok && function == DIF_INSTALLDEVICE && restartFlags) {
            SP_DEVINSTALL_PARAMS_W params = {};
            params.cbSize = sizeof(params);
            SetupDiGetDeviceInstallParamsW(set, element, &params);
            params.Flags |= restartFlags;
            SetupDiSetDeviceInstallParamsW(set, element, &params);
        }
        return ok;
    }
};
DWORD Fake::serviceError = 0;
int Fake::drivers = 0;
DWORD Fake::listEnd = ERROR_NO_MORE_ITEMS;
DWORD Fake::selectError = 0;
std::vector<std::wstring> Fake::selected;
DWORD Fake::restartFlags = 0;
DWORD Fake::installError = 0;

class InfInstall : public ::testing::Test
{
protected:
    void SetUp() override { Fake::Reset(); }
    void TearDown() override { InfPlatform() = DefaultInfPlatform(); }
};

} // namespace

TEST_F(InfInstall, ServicesInstalledOnceAndExistingOnesAccepted)
{
    std::wstring dir = zoltest::MakeTestDir(L"inst_services");
    std::wstring inf = WriteInf(dir, L"",
                                ServiceSections(L"Svc.Services", L"zolsvca", L"ZOL Services A") +
                                    ServiceSections(L"Dup.Services", L"zolsvcdup", L"ZOL Taken Name"));
    ASSERT_TRUE(CreateTestService(L"zolsvcother", L"ZOL Taken Name"));
    CInf services(inf.c_str());

    EXPECT_EQ(services.InstallServices(L"Svc.Services"), 1);
    EXPECT_TRUE(ServiceKnown(L"zolsvca"));
    EXPECT_EQ(services.InstallServices(L"Svc.Services"), 1); // again: Wine reports no error at all

    // Another service holds the display name: the platform answers 1078 and
    // the service is not there, so that is no "already installed".
    EXPECT_EQ(services.InstallServices(L"Dup.Services"), 0);
    EXPECT_FALSE(ServiceKnown(L"zolsvcdup"));
    EXPECT_EQ(services.InstallServices(L"No.Such.Services"), 0);
    EXPECT_EQ(services.InstallServices(nullptr), 0);

    // As Windows reports an existing service.
    InfPlatform().pInstallServicesFromInfSection = &Fake::InstallServices;
    Fake::serviceError = ERROR_SERVICE_EXISTS;
    EXPECT_EQ(services.InstallServices(L"Svc.Services"), 1);
    EXPECT_EQ(services.InstallServices(L"Dup.Services"), 1);
    Fake::serviceError = ERROR_DUPLICATE_SERVICE_NAME;
    EXPECT_EQ(services.InstallServices(L"Svc.Services"), 1);
    EXPECT_EQ(services.InstallServices(L"Dup.Services"), 0);
    Fake::serviceError = ERROR_ACCESS_DENIED;
    EXPECT_EQ(services.InstallServices(L"Svc.Services"), 0);
    // Each failure is recorded for the log, with the platform's code.
    EXPECT_EQ(std::wstring(services.GetFailures().back().GetString()).find(L"Service install failed: Svc.Services, "
                                                                          L"error 0x00000005"),
              0u);
}

TEST_F(InfInstall, ClassDriversAreSelectedInOrderAndTheLastStays)
{
    InfPlatform().pBuildDriverInfoList = &Fake::BuildList;
    InfPlatform().pEnumDriverInfo = &Fake::EnumDrivers;
    InfPlatform().pSetSelectedDriver = &Fake::Select;
    std::wstring dir = zoltest::MakeTestDir(L"inst_select");
    CInf inf(WriteInf(dir, kSystemClass, L"[Install]\r\n").c_str());

    Fake::drivers = 3;
    CDeviceInfo device(inf, L"LEGACY_ZOLSELECT");
    ASSERT_EQ(device.result, 1);
    EXPECT_EQ(Fake::selected, (std::vector<std::wstring>{L"driver 0", L"driver 1", L"driver 2"}));
    // The element reads only this INF, installs no files and keeps the
    // configuration manager out.
    SP_DEVINSTALL_PARAMS_W params = {};
    params.cbSize = sizeof(params);
    ASSERT_TRUE(SetupDiGetDeviceInstallParamsW(device.set.get(), &device.element, &params));
    EXPECT_EQ(params.Flags & 0x1030000u, 0x1030000u);
    EXPECT_EQ(_wcsicmp(params.DriverPath, inf.GetInfPath().GetString()), 0);
    wchar_t id[256] = {};
    SetupDiGetDeviceInstanceIdW(device.set.get(), &device.element, id, 256, nullptr);
    EXPECT_EQ(_wcsicmp(id, L"ROOT\\LEGACY_ZOLSELECT\\0000"), 0);

    // An INF without drivers leaves the element without one, and succeeds;
    // an enumeration that ends with another error, or a failing selection,
    // fails.
    Fake::drivers = 0;
    Fake::selected.clear();
    EXPECT_EQ(CDeviceInfo(inf, L"LEGACY_ZOLSELECT").result, 1);
    EXPECT_TRUE(Fake::selected.empty());
    Fake::drivers = 2;
    Fake::listEnd = ERROR_INVALID_DATA;
    EXPECT_EQ(CDeviceInfo(inf, L"LEGACY_ZOLSELECT").result, 0);
    Fake::listEnd = ERROR_NO_MORE_ITEMS;
    Fake::selectError = ERROR_INVALID_PARAMETER;
    EXPECT_EQ(CDeviceInfo(inf, L"LEGACY_ZOLSELECT").result, 0);
}

TEST_F(InfInstall, WithoutClassDriverSelectionTheLastModelIsChosenByHardwareId)
{
    // Wine's own driver selection must never be called, and is not.
    ASSERT_TRUE(IsRunningOnWine());
    SP_DRVINFO_DATA_W none = {};
    SetLastError(0);
    EXPECT_FALSE(SelectDriverIfImplemented(INVALID_HANDLE_VALUE, nullptr, &none));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CALL_NOT_IMPLEMENTED));

    std::wstring dir = zoltest::MakeTestDir(L"inst_models");
    CInf inf(WriteInf(dir, kSystemClass,
                      L"[Manufacturer]\r\n\"Maker A\"=ModelsA,NTamd64\r\n\"Maker B\"=ModelsB\r\n"
                      L"[ModelsA.NTamd64]\r\n\"Model A\"=Install,ROOT\\ZOLPICKA\r\n"
                      L"[ModelsA]\r\n\"Undecorated A\"=Install,ROOT\\ZOLWRONG\r\n"
                      L"[ModelsB]\r\n\"Model B1\"=Install,ROOT\\ZOLPICKB1\r\n\"Model B2\"=Install,ROOT\\ZOLPICKB2\r\n"
                      L"[Install]\r\n")
                 .c_str());

    // Wine has no class-driver lists (the default table).
    {
        CDeviceInfo device(inf, L"LEGACY_ZOLPICK");
        ASSERT_EQ(device.result, 1);
        EXPECT_EQ(SelectedDriver(device), L"Model B2");
        EXPECT_EQ(HardwareId(device), L"ROOT\\ZOLPICKB2");
    }
    // A class-driver list, but no selection.
    InfPlatform().pBuildDriverInfoList = &Fake::BuildList;
    InfPlatform().pEnumDriverInfo = &Fake::EnumDrivers;
    InfPlatform().pSetSelectedDriver = &Fake::Select;
    Fake::drivers = 2;
    Fake::selectError = ERROR_CALL_NOT_IMPLEMENTED;
    {
        CDeviceInfo device(inf, L"LEGACY_ZOLPICK");
        ASSERT_EQ(device.result, 1);
        EXPECT_EQ(SelectedDriver(device), L"Model B2");
    }
    InfPlatform() = DefaultInfPlatform();

    // No models: no driver, still 1; the class installer then has nothing to
    // install and the root device fails.
    std::wstring bare = zoltest::MakeTestDir(L"inst_nomodels");
    CInf noModels(WriteInf(bare, kSystemClass, ServiceSections(L"Install.Services", L"zolnomodel", L"ZOL No Model"))
                      .c_str());
    {
        CDeviceInfo device(noModels, L"LEGACY_ZOLNOMODEL");
        EXPECT_EQ(device.result, 1);
        EXPECT_EQ(SelectedDriver(device), L"");
    }
    int restart = 7;
    EXPECT_EQ(noModels.CreateRootDevice(&restart), 0);
    EXPECT_EQ(restart, 0);

    // A class the platform does not know.
    std::wstring unknown = zoltest::MakeTestDir(L"inst_noclass");
    CInf unknownClass(WriteInf(unknown, L"Class=ZolNoSuchClass\r\nClassGUID={00000000-1111-2222-3333-444444444444}\r\n",
                               L"[Install]\r\n")
                          .c_str());
    EXPECT_EQ(CDeviceInfo(unknownClass, L"LEGACY_ZOLUNKNOWN").result, 0);
}

TEST_F(InfInstall, RootDeviceRestartRequestAndClassInstallerFailure)
{
    InfPlatform().pCallClassInstaller = &Fake::ClassInstaller;
    std::wstring dir = zoltest::MakeTestDir(L"inst_restart");
    std::wstring path = WriteInf(dir, kSystemClass,
                                 OneModel(L"ZOLRESTART") + L"[Install]\r\n" +
                                     ServiceSections(L"Install.Services", L"zolrestart", L"ZOL Restart"));

    // The class installer asks for a restart: the flag is read back, and the
    // legacy install reports 2.
    Fake::restartFlags = DI_NEEDREBOOT;
    {
        CInf inf(path.c_str());
        int restart = 0;
        EXPECT_EQ(inf.CreateRootDevice(&restart), 1);
        EXPECT_EQ(restart, 1);
        EXPECT_TRUE(KeyExists(std::wstring(kEnumRoot) + L"LEGACY_ZOLRESTART\\0000"));
    }
    Fake::restartFlags = DI_NEEDRESTART;
    std::wstring other = zoltest::MakeTestDir(L"inst_restart2");
    CBaseComponent component;
    component.SetInfFile(WriteInf(other, kSystemClass,
                                  OneModel(L"ZOLRESTART2") + L"[Install]\r\nCopyFiles=Files\r\n[Files]\r\n" +
                                      ServiceSections(L"Install.Services", L"zolrestart2", L"ZOL Restart 2"))
                             .c_str(),
                         INF_TYPE_LEGACY);
    wchar_t message[1024] = {};
    EXPECT_EQ(component.InstallLegacy(0, nullptr, message, 0, L"en"), 2);
    EXPECT_EQ(message[0], L'\0');
    // The node exists now; it is not created again, and nothing asks for a
    // restart any more.
    EXPECT_EQ(component.InstallLegacy(0, nullptr, message, 0, L"en"), 1);

    // The class installer fails: no device, no restart, and the install
    // fails although the service was installed.
    Fake::restartFlags = 0;
    Fake::installError = 0xE0000203; // no driver selected
    std::wstring failing = zoltest::MakeTestDir(L"inst_installfail");
    CInf inf(WriteInf(failing, kSystemClass,
                      OneModel(L"ZOLINSTFAIL") + L"[Install]\r\nCopyFiles=Files\r\n[Files]\r\n" +
                          ServiceSections(L"Install.Services", L"zolinstfail", L"ZOL Install Fail"))
                 .c_str());
    int restart = 1;
    EXPECT_EQ(inf.InstallAll(&restart), 0);
    EXPECT_EQ(restart, 0);
    EXPECT_TRUE(ServiceKnown(L"zolinstfail"));
    ASSERT_EQ(inf.GetFailures().size(), 1u);
    EXPECT_EQ(std::wstring(inf.GetFailures()[0].GetString())
                  .find(L"Root device install failed: LEGACY_ZOLINSTFAIL, error 0xE0000203"),
              0u);
}

TEST_F(InfInstall, VirtualDeviceGetsItsDriverUpdatedFromTheInf)
{
    // The update goes through the same stand-in as the PnP installer's.
    pnptest::CFakeNewDevLibrary library;
    pnptest::CNewDevOverrideScope scope(&library);
    std::wstring dir = zoltest::MakeTestDir(L"inst_virtual");
    std::wstring path = WriteInf(dir, kSystemClass,
                                 OneModel(L"ZOLVUPD") + L"[Install]\r\n" +
                                     ServiceSections(L"Install.Services", L"zolvupd", L"ZOL Virtual Update"));
    CInf inf(path.c_str());
    inf.SetVirtual(1);
    int restart = 1;
    EXPECT_EQ(inf.CreateRootDevice(&restart), 1);
    EXPECT_EQ(restart, 0);
    ASSERT_EQ(library.calls.size(), 1u);
    EXPECT_EQ(library.calls[0].hardwareId, L"ROOT\\ZOLVUPD");
    EXPECT_EQ(library.calls[0].infPath, std::wstring(inf.GetInfPath().GetString()));
    EXPECT_EQ(library.calls[0].flags, 0u);
    ASSERT_EQ(library.loadPaths.size(), 1u);
    EXPECT_EQ(library.lookups, 1);
    EXPECT_EQ(library.frees, 1);
    EXPECT_TRUE(KeyExists(std::wstring(kEnumRoot) + L"ZOLVUPD\\0000"));
    EXPECT_FALSE(KeyExists(std::wstring(kEnumRoot) + L"LEGACY_ZOLVUPD"));

    // A failing update fails the device, and so does a library without
    // the update function.
    library.SetOutcome(L"ROOT\\ZOLVUPD", FALSE, FALSE);
    EXPECT_EQ(inf.CreateRootDevice(nullptr), 0);
    library.outcomes.clear();
    library.hasFunction = 0;
    EXPECT_EQ(inf.CreateRootDevice(nullptr), 0);
    ASSERT_FALSE(inf.GetFailures().empty());
    EXPECT_NE(std::wstring(inf.GetFailures().back().GetString()).find(L"error 0x0000007F"), std::wstring::npos)
        << zoltest::ToUtf8(inf.GetFailures().back().GetString());
    library.hasFunction = 1;

    // A legacy device is not updated.
    library.calls.clear();
    CInf legacy(path.c_str());
    EXPECT_EQ(legacy.CreateRootDevice(nullptr), 1);
    EXPECT_TRUE(library.calls.empty());
    EXPECT_TRUE(KeyExists(std::wstring(kEnumRoot) + L"LEGACY_ZOLVUPD\\0000"));
}

TEST_F(InfInstall, EveryStepRunsAfterAFailureAndOnlyFileSectionsAreInstalledWhole)
{
    std::wstring dir = zoltest::MakeTestDir(L"inst_steps");
    const std::wstring key = L"Software\\ZOL\\InstallSteps";
    std::wstring path = WriteInf(
        dir, L"",
        L"[Install]\r\nCopyFiles=Files\r\nAddReg=Install.Reg\r\n"
        L"[Files]\r\nabsent.bin\r\n"
        L"[Install.Reg]\r\nHKLM,\"" + key + L"\",Install,0x10001,1\r\n" +
            ServiceSections(L"install.SERVICES", L"zolsteps", L"ZOL Steps", 1) +
            L"[Install.SoftwareSettings]\r\nAddReg=Install.SW\r\n"
            L"[Install.SW]\r\nHKR,,Level,0x10001,7\r\n"
            L"[RegOnly]\r\nAddReg=RegOnly.Reg\r\n"
            L"[RegOnly.Reg]\r\nHKLM,\"" + key + L"\",RegOnly,0x10001,1\r\n");
    CInf inf(path.c_str());

    // The copy fails (the source is missing); the service and its settings
    // are still installed. A section without files is not installed whole.
    int restart = 1;
    EXPECT_EQ(inf.InstallAll(&restart), 0);
    EXPECT_EQ(restart, 0);
    ASSERT_EQ(inf.GetFailures().size(), 1u); // only the copy failed
    std::wstring failure = inf.GetFailures()[0].GetString();
    EXPECT_EQ(failure.find(L"File copy failed: " + dir + L"\\absent.bin to "), 0u) << failure;
    EXPECT_NE(failure.find(L"absent.bin, error 0x00000002"), std::wstring::npos) << failure;
    EXPECT_EQ(ServiceStartType(L"zolsteps"), 1);
    EXPECT_EQ(ReadDword(std::wstring(kServices) + L"zolsteps\\Device0", L"Level"), 7u);
    EXPECT_EQ(ReadDword(key, L"Install"), 0xFFFFFFFFu); // the section stopped at its files
    EXPECT_EQ(ReadDword(key, L"RegOnly"), 0xFFFFFFFFu);

    // Named, it is: its registry entries, no services or settings of its own.
    EXPECT_EQ(inf.InstallFromSection(L"RegOnly", &restart), 1);
    EXPECT_EQ(ReadDword(key, L"RegOnly"), 1u);

    // Once the file is there the named install section succeeds, and finds
    // its services section whatever the letter case.
    ASSERT_TRUE(zoltest::WriteBytes(dir + L"\\absent.bin", "now present"));
    SetDword(std::wstring(kServices) + L"zolsteps\\Device0", L"Level", 0);
    EXPECT_EQ(inf.InstallFromSection(L"Install", &restart), 1);
    EXPECT_EQ(ReadDword(key, L"Install"), 1u);
    EXPECT_EQ(ReadDword(std::wstring(kServices) + L"zolsteps\\Device0", L"Level"), 7u);
    EXPECT_EQ(zoltest::ReadBytes(dir + L"\\out\\absent.bin"), "now present");

    EXPECT_EQ(inf.InstallSection(nullptr, HKEY_LOCAL_MACHINE), 0);
    EXPECT_EQ(inf.InstallSection(L"Install", nullptr), 0);
    EXPECT_EQ(inf.InstallSoftwareSettings(nullptr), 0);

    // Settings need a usable service name.
    CInf noService(WriteInf(zoltest::MakeTestDir(L"inst_noname"), L"",
                            L"[A.SoftwareSettings]\r\nAddReg=SW\r\n[SW]\r\nHKR,,A,0x10001,1\r\n")
                       .c_str());
    EXPECT_EQ(noService.InstallSoftwareSettings(L"A.SoftwareSettings"), 0);
    EXPECT_STREQ(noService.GetFailures().back().GetString(),
                 L"Software settings failed: A.SoftwareSettings, the INF names no usable service");
    CInf badName(WriteInf(zoltest::MakeTestDir(L"inst_badname"), L"",
                          ServiceSections(L"B.Services", L"zolbad\\x", L"ZOL Bad Name") +
                              L"[B.SoftwareSettings]\r\nAddReg=SW\r\n[SW]\r\nHKR,,A,0x10001,1\r\n")
                     .c_str());
    EXPECT_EQ(badName.InstallSoftwareSettings(L"B.SoftwareSettings"), 0);
    EXPECT_FALSE(KeyExists(std::wstring(kServices) + L"zolbad"));
}

namespace {

// Lists what the engine tells it, one line per call ("FILE path", "FOLDER
// path", "SERVICE name", "KEY root\key", "VALUE root\key [name]", "DEVICE
// id", "SHORTCUT path"); refuses the call numbered refuseAt and every later
// one (0: none).
class CListingJournal : public IInfJournal
{
public:
    bool FileChanging(const wchar_t* path) override { return Tell(L"FILE " + std::wstring(path)); }
    bool FolderCreating(const wchar_t* path) override { return Tell(L"FOLDER " + std::wstring(path)); }
    bool ServiceCreating(const wchar_t* name) override { return Tell(L"SERVICE " + std::wstring(name)); }
    bool RegistryCreating(const wchar_t* root, const wchar_t* key, const wchar_t* value) override
    {
        std::wstring where = std::wstring(root) + L"\\" + key;
        return Tell(value ? L"VALUE " + where + L" [" + value + L"]" : L"KEY " + where);
    }
    bool ShortcutCreating(const wchar_t* path) override { return Tell(L"SHORTCUT " + std::wstring(path)); }
    bool RootDeviceCreating(const wchar_t* id) override { return Tell(L"DEVICE " + std::wstring(id)); }
    CStr Failure() const override { return CStr(L"Install record not written: listing journal"); }

    std::vector<std::wstring> calls;
    size_t refuseAt = 0;

private:
    bool Tell(const std::wstring& line)
    {
        calls.push_back(line);
        return refuseAt == 0 || calls.size() < refuseAt;
    }
};

// A package in dir whose Install section copies into a folder that is not
// there yet, keeps, deletes and renames files in dir\out, adds registry
// entries under HKLM\<key> and installs service `service` with an event-log
// entry.
std::wstring WriteJournalInf(const std::wstring& dir, const std::wstring& key, const std::wstring& service)
{
    const std::wstring out = dir + L"\\out";
    std::wstring text =
        L"[Version]\r\nSignature=\"$Windows NT$\"\r\n[DestinationDirs]\r\nDefaultDestDir=" + out +
        L"\r\nFiles=" + out + L"\\deep\\er\r\n"
        L"[Install]\r\nCopyFiles=Files,Keep\r\nDelFiles=Gone\r\nRenFiles=Moves\r\nAddReg=Reg\r\n"
        L"[Files]\r\nnew.txt\r\n[Keep]\r\nkept.txt,,,0x10\r\n[Gone]\r\nthere.txt\r\nabsent.txt\r\n"
        L"[Moves]\r\nrenamed.txt,old.txt\r\n"
        L"[Reg]\r\nHKLM,\"" + key + L"\\Sub\",Made,,\"x\"\r\nHKLM,\"" + key + L"\",Known,0x10001,2\r\n"
        L"HKLM,\"" + key + L"\",Known,0x4\r\nHKR,\"" + key + L"\\Keyed\",,0x10\r\n"
        L"[Install.Services]\r\nAddService=" + service + L",0x2,Svc,EventLog\r\n"
        L"[Svc]\r\nDisplayName=\"" + service + L"\"\r\nServiceType=1\r\nStartType=3\r\nErrorControl=1\r\n"
        L"ServiceBinary=%12%\\" + service + L".sys\r\n"
        L"[EventLog]\r\nAddReg=EventLog.Reg\r\n[EventLog.Reg]\r\nHKR,,TypesSupported,0x10001,7\r\n";
    EXPECT_TRUE(CreateDirectoryW(out.c_str(), nullptr));
    for (const wchar_t* name : {L"kept.txt", L"there.txt", L"old.txt"})
        EXPECT_TRUE(zoltest::WriteBytes(out + L"\\" + name, "before"));
    EXPECT_TRUE(zoltest::WriteBytes(dir + L"\\new.txt", "new"));
    EXPECT_TRUE(zoltest::WriteBytes(dir + L"\\kept.txt", "package"));
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, key.c_str());
    EXPECT_TRUE(SetDword(key, L"Known", 1));
    EXPECT_TRUE(zoltest::WriteUtf8(dir + L"\\pkg.inf", text));
    return dir + L"\\pkg.inf";
}

} // namespace

TEST_F(InfInstall, JournalIsToldEachChangeBeforeItAndItsRefusalStopsTheInstall)
{
    std::wstring dir = zoltest::MakeTestDir(L"inst_journal");
    const std::wstring key = L"Software\\ZOL\\Journal", out = dir + L"\\out";
    CInf inf(WriteJournalInf(dir, key, L"zoljournal").c_str());
    CListingJournal journal;
    inf.SetJournal(&journal);
    ASSERT_EQ(inf.InstallFromSection(L"Install", nullptr), 1);
    // What is there already (a kept file, a missing one to delete, an
    // existing key and value, a deleted value) is not told as created.
    const std::wstring eventLog = L"HKLM\\System\\CurrentControlSet\\Services\\EventLog\\System\\zoljournal";
    EXPECT_EQ(journal.calls, (std::vector<std::wstring>{
                                 L"FOLDER " + out + L"\\deep", L"FOLDER " + out + L"\\deep\\er",
                                 L"FILE " + out + L"\\deep\\er\\new.txt", L"FILE " + out + L"\\there.txt",
                                 L"FILE " + out + L"\\old.txt", L"FILE " + out + L"\\renamed.txt",
                                 L"KEY HKLM\\" + key + L"\\Sub", L"VALUE HKLM\\" + key + L"\\Sub [Made]",
                                 L"KEY HKLM\\" + key + L"\\Keyed", L"SERVICE zoljournal", L"KEY " + eventLog,
                                 L"VALUE " + eventLog + L" [TypesSupported]"}));
    EXPECT_EQ(zoltest::ReadBytes(out + L"\\deep\\er\\new.txt"), "new");
    EXPECT_TRUE(ServiceKnown(L"zoljournal"));

    // Refused at the first change: none is made, the failure is named once,
    // and no later step changes anything either.
    std::wstring refused = zoltest::MakeTestDir(L"inst_journal_refused");
    CInf stopped(WriteJournalInf(refused, key + L"2", L"zoljournal2").c_str());
    CListingJournal refusing;
    refusing.refuseAt = 1;
    stopped.SetJournal(&refusing);
    EXPECT_EQ(stopped.InstallFromSection(L"Install", nullptr), 0);
    EXPECT_EQ(stopped.IsJournalStopped(), 1);
    EXPECT_EQ(refusing.calls.size(), 1u);
    EXPECT_EQ(std::count(stopped.GetFailures().begin(), stopped.GetFailures().end(),
                         CStr(L"Install record not written: listing journal")),
              1);
    EXPECT_FALSE(zoltest::FileExists(refused + L"\\out\\deep"));
    EXPECT_EQ(zoltest::ReadBytes(refused + L"\\out\\there.txt"), "before");
    EXPECT_FALSE(KeyExists(key + L"2\\Sub"));
    EXPECT_FALSE(ServiceKnown(L"zoljournal2"));

    // A root device is told by its instance ID before it is registered; a
    // refusal leaves no device behind.
    std::wstring devices = zoltest::MakeTestDir(L"inst_journal_device");
    CInf device(WriteInf(devices, kSystemClass,
                         OneModel(L"ZOLJRNLDEV") + L"[Install]\r\n" +
                             ServiceSections(L"Install.Services", L"zoljrnldev", L"ZOL Journal Device"))
                    .c_str());
    CListingJournal deviceJournal;
    deviceJournal.refuseAt = 2;
    device.SetJournal(&deviceJournal);
    EXPECT_EQ(device.CreateRootDevice(nullptr), 0);
    EXPECT_EQ(deviceJournal.calls,
              (std::vector<std::wstring>{L"SERVICE zoljrnldev", L"DEVICE ROOT\\LEGACY_ZOLJRNLDEV\\0000"}));
    EXPECT_FALSE(KeyExists(std::wstring(kEnumRoot) + L"LEGACY_ZOLJRNLDEV"));
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, key.c_str());
}
