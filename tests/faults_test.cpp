// Faults in the middle of an installation, as the user sees them: a package
// file that is missing, a target file held open without any sharing, a
// service that exists already with other settings, the key file removed
// between the prerequisite check and the install, and the host killed while
// it installs.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "basecomp.h"
#include "legacyhelpers.h"
#include "pnphelpers.h"
#include "testsupport.h"

using namespace legacytest;
using namespace pnptest;

namespace {

const wchar_t kWdtServiceName[] = L"zolwdt";

std::wstring CopyExample(const wchar_t* example, const std::wstring& name)
{
    std::wstring dir = zoltest::MakeTestDir(name);
    EXPECT_TRUE(zoltest::CopyTree(zoltest::ExamplePath(example), dir));
    return dir;
}

// The install result the host's exit code stands for; -1 when the host did
// not finish.
int InstallResult(const zoltest::ProcessResult& run)
{
    switch (run.exitCode) {
    case 0: return 1;
    case 3010: return 2;
    case 1603: return 0;
    default: return -1;
    }
}

std::wstring System32() { return SystemRoot() + L"\\system32"; }

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// The text after the last CR LF: a line the log has not finished.
std::string UnfinishedLine(const std::string& log)
{
    size_t end = log.rfind("\r\n");
    return end == std::string::npos ? log : log.substr(end + 2);
}

// True when every line feed of the log ends a CR LF pair.
bool OnlyWholeLineEnds(const std::string& log)
{
    for (size_t i = 0; i < log.size(); ++i) {
        if (log[i] == '\n' && (i == 0 || log[i - 1] != '\r'))
            return false;
    }
    return true;
}

// The log's lines as two runs of the same package write them: times and the
// header's date masked, and a step's answer cut after its start text, so
// that an answer that changed between the runs or was never written
// compares equal.
std::vector<std::string> Shape(const std::string& log)
{
    std::vector<std::string> shape;
    for (std::string line : zoltest::Lines(zoltest::MaskTimes(log))) {
        if (line.compare(0, 9, "Log Date:") == 0)
            line = "Log Date:";
        size_t step = line.rfind("... ");
        if (step != std::string::npos)
            line.resize(step + 4);
        shape.push_back(line);
    }
    return shape;
}

// Creates a kernel service the way another installer would have.
bool CreateKernelService(const wchar_t* name, const wchar_t* displayName, DWORD start, const wchar_t* binary)
{
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    if (!manager)
        return false;
    SC_HANDLE service = CreateServiceW(manager, name, displayName, SERVICE_ALL_ACCESS, SERVICE_KERNEL_DRIVER, start,
                                       SERVICE_ERROR_IGNORE, binary, nullptr, nullptr, nullptr, nullptr, nullptr);
    bool created = service != nullptr;
    if (service)
        CloseServiceHandle(service);
    CloseServiceHandle(manager);
    return created;
}

// Removes a service the way an uninstaller would; the service manager lets
// go of it once the last handle is closed.
void DeleteServiceNamed(const wchar_t* name)
{
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    if (!manager)
        return;
    if (SC_HANDLE service = OpenServiceW(manager, name, DELETE)) {
        DeleteService(service);
        CloseServiceHandle(service);
    }
    CloseServiceHandle(manager);
}

class Faults : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ClearPendingOperations();
        zoltest::ClearLogs();
    }
    void TearDown() override { ClearPendingOperations(); }
};

} // namespace

TEST_F(Faults, MissingPackageFileFailsTheInstallButEveryOtherStepRuns)
{
    // A legacy package without its driver binary: its file list fails and
    // with it the section's registry entries; the configuration file of the
    // other list, the device node, the service and its settings are still
    // installed, and the host's log closes with the failure.
    ASSERT_FALSE(ServiceKnown(kWdtServiceName));
    std::wstring dir = CopyExample(L"legacy", L"fault_missing_legacy");
    ASSERT_TRUE(DeleteFileW((dir + L"\\zolwdt.sys").c_str()));
    zoltest::ProcessResult run = zoltest::RunHost(dir, L"--lang en");
    EXPECT_EQ(InstallResult(run), 0) << run.output;
    EXPECT_TRUE(Contains(run.output, "Install message:    \"\"")) << run.output;
    EXPECT_FALSE(zoltest::FileExists(System32() + L"\\drivers\\zolwdt.sys"));
    EXPECT_EQ(zoltest::ReadBytes(System32() + L"\\zolwdt\\zolwdt.ini"), zoltest::ReadBytes(dir + L"\\zolwdt.ini"));
    EXPECT_TRUE(KeyExists(std::wstring(kEnumRoot) + L"LEGACY_ZOLWDT\\0000"));
    EXPECT_EQ(ServiceStartType(kWdtServiceName), SERVICE_AUTO_START);
    EXPECT_EQ(ReadDword(std::wstring(kServices) + L"zolwdt\\Device0", L"TimeoutSeconds"), 300u);
    // The log says what failed: the copy of the missing file.
    std::string log = zoltest::ReadMainLog();
    EXPECT_TRUE(Contains(log, "Initiating installation... \r\n**ERROR** - File copy failed: ")) << log;
    EXPECT_TRUE(Contains(log, "zolwdt.sys, error 0x00000002")) << log;
    EXPECT_TRUE(Contains(log, "Return Code (0)\r\n")) << log;

    // The PnP package without its driver binary. Wine's own driver update
    // would retry the copy of the missing file for ever, so the device
    // installation library is stood in for here (the seam of the PnP tests)
    // in case an update were started. None is: the package is refused with
    // message 5 once the other files are staged.
    std::wstring pnp = CopyExample(L"chipset", L"fault_missing_pnp");
    ASSERT_TRUE(DeleteFileW((pnp + L"\\zolchip.sys").c_str()));
    const std::wstring ids[] = {L"PCI\\VEN_8086&DEV_0E83&SUBSYS_7C41A2E9", L"PCI\\VEN_8086&DEV_0E84&SUBSYS_7C41A2E9"};
    CSimulatedDevice a({ids[0]}), b({ids[1]});
    ASSERT_FALSE(a.Instance().empty() || b.Instance().empty());
    zoltest::RemoveTree(StagingFolder());
    CCurrentDirectoryScope cwd(pnp);
    CComponentDirectoryScope module(pnp);
    ASSERT_TRUE(module.Valid());
    CFakeNewDevLibrary library;
    CNewDevOverrideScope scope(&library);
    CBaseComponent component;
    component.SetInfFile(L"zolchip.inf", INF_TYPE_PNP);
    for (const std::wstring& id : ids)
        component.AddSupportedHardwareId(id.c_str());
    wchar_t message[512] = L"";
    EXPECT_EQ(component.InstallPnP(0, nullptr, message, 0, L"en"), 0);
    EXPECT_STREQ(message, L"An error occurred during installation.");
    EXPECT_TRUE(library.calls.empty());
    EXPECT_EQ(FilesIn(StagingFolder()), (std::vector<std::wstring>{L"zolchip.cfg", L"zolchip.inf",
                                                                   L"zolchip_amd64.cat", L"zolchip_src.dat",
                                                                   L"zolchip_x86.cat"}));
}

TEST_F(Faults, ExistingServiceIsTakenOverWithTheInfsSettings)
{
    // The driver's service was left by another installer, with another
    // start type, binary and display name.
    DeleteServiceNamed(kWdtServiceName);
    ASSERT_FALSE(ServiceKnown(kWdtServiceName));
    ASSERT_TRUE(CreateKernelService(kWdtServiceName, L"ZOL Watchdog (other installer)", SERVICE_DISABLED,
                                    L"\\SystemRoot\\system32\\drivers\\zolwdt_old.sys"));
    std::wstring dir = CopyExample(L"legacy", L"fault_service_exists");
    zoltest::ProcessResult run = zoltest::RunHost(dir, L"--lang en");
    EXPECT_EQ(InstallResult(run), 1) << run.output;
    // The INF's service definition replaces the one found: start type,
    // binary and display name (as Wine's service installer does it).
    const std::wstring key = std::wstring(kServices) + kWdtServiceName;
    EXPECT_EQ(ServiceStartType(kWdtServiceName), SERVICE_AUTO_START);
    EXPECT_EQ(_wcsicmp(ReadString(key, L"ImagePath").c_str(), (System32() + L"\\drivers\\zolwdt.sys").c_str()), 0);
    EXPECT_EQ(ReadString(key, L"DisplayName"), L"ZOL Watchdog Timer Sample Driver");
    EXPECT_EQ(ReadDword(key + L"\\Device0", L"TimeoutSeconds"), 300u);
}

TEST_F(Faults, TargetHeldWithoutSharingIsReplacedAtRestart)
{
    std::wstring dir = CopyExample(L"legacy", L"fault_locked");
    const std::wstring target = System32() + L"\\zolwdt\\zolwdt.ini";
    CreateDirectoryW((System32() + L"\\zolwdt").c_str(), nullptr);
    ASSERT_TRUE(zoltest::WriteBytes(target, "configuration in use"));
    HANDLE held = CreateFileW(target.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    zoltest::ProcessResult run = zoltest::RunHost(dir, L"--lang en");
    CloseHandle(held);
    EXPECT_EQ(InstallResult(run), 2) << run.output;

    // Nothing is lost: the old file is intact, the new one waits in a
    // temporary copy that replaces it at the restart.
    EXPECT_EQ(zoltest::ReadBytes(target), "configuration in use");
    std::vector<std::wstring> pending = PendingOperations();
    ASSERT_EQ(pending.size(), 2u);
    EXPECT_EQ(_wcsicmp(pending[1].c_str(), (L"!\\??\\" + target).c_str()), 0) << pending[1];
    const std::wstring temp = pending[0].substr(4);
    EXPECT_EQ(zoltest::ReadBytes(temp), zoltest::ReadBytes(dir + L"\\zolwdt.ini"));

    // The restart carries the replacement out.
    zoltest::ProcessResult restart = zoltest::RunProcess(L"\"" + System32() + L"\\wineboot.exe\" -r");
    EXPECT_EQ(restart.exitCode, 0u) << restart.output;
    EXPECT_EQ(zoltest::ReadBytes(target), zoltest::ReadBytes(dir + L"\\zolwdt.ini"));
    EXPECT_FALSE(zoltest::FileExists(temp));
    EXPECT_TRUE(PendingOperations().empty());
}

TEST_F(Faults, KeyFileDeletedBetweenCheckAndInstall)
{
    std::wstring dir = CopyExample(L"legacy", L"fault_keyfile");
    ASSERT_TRUE(EditFile(dir + L"\\qx4c7d21.xml", "<version value=\"2.4.1.0\"/>", "<version value=\"1.2.3.4\"/>"));
    ASSERT_EQ(InstallResult(zoltest::RunHost(dir, L"--lang en")), 1);
    const std::wstring keyFile = System32() + L"\\drivers\\zolwdt.sys";
    ASSERT_TRUE(CopyFileW(zoltest::BinPath(L"ver_1_2_3_4.dll").c_str(), keyFile.c_str(), FALSE));
    zoltest::ClearLogs();

    // Loaded as the host loads it, from the package directory.
    ASSERT_TRUE(zoltest::InstallComponentInto(dir));
    CCurrentDirectoryScope cwd(dir);
    HMODULE component = LoadLibraryW((dir + L"\\zolcomp.dll").c_str());
    ASSERT_NE(component, nullptr);
    typedef int(WINAPI * GetPropertyFn)(int, void*, int, void*);
    typedef int(WINAPI * InstallFn)(int, void*, wchar_t*, int, const wchar_t*);
    GetPropertyFn getProperty = reinterpret_cast<GetPropertyFn>(GetProcAddress(component, "GetProperty"));
    InstallFn install = reinterpret_cast<InstallFn>(GetProcAddress(component, "Install"));
    ASSERT_TRUE(getProperty && install);

    wchar_t language[] = L"en";
    PREREQSTATUS status = {};
    EXPECT_EQ(getProperty(5, &status, sizeof(status), language), 1);
    // The built-in chipset IDs are absent here: installed, no hardware.
    EXPECT_EQ(status.nStatus, STATUS_INSTALLED_NO_HARDWARE);

    ASSERT_TRUE(DeleteFileW(keyFile.c_str()));
    wchar_t version[64] = L"unchanged";
    EXPECT_EQ(getProperty(3, version, 64, nullptr), 0);
    wchar_t message[512] = L"";
    EXPECT_EQ(install(0, nullptr, message, 0, language), 1);
    EXPECT_STREQ(message, L"");
    // The install put the package's file back in its place.
    EXPECT_EQ(zoltest::ReadBytes(keyFile), zoltest::ReadBytes(dir + L"\\zolwdt.sys"));
    EXPECT_EQ(getProperty(5, &status, sizeof(status), language), 1);
    FreeLibrary(component);

    // The checklist, the install and the checklist after it, each line whole.
    std::string log = zoltest::ReadMainLog();
    // After the install the key file is the package's driver, 2.4.1.0: newer
    // than the 1.2.3.4 the package definition was given above.
    size_t same = log.find("    - Installed component version status... Same\r\n");
    size_t installing = log.find("Initiating installation... \r\n", same);
    size_t newer = log.find("    - Installed component version status... Newer\r\n", installing);
    EXPECT_TRUE(same != std::string::npos && installing != std::string::npos && newer != std::string::npos) << log;
    EXPECT_TRUE(OnlyWholeLineEnds(log) && UnfinishedLine(log).empty()) << log;
}

TEST_F(Faults, HostKilledMidInstallLeavesWholeLogLinesAndTheNextRunAppends)
{
    static const wchar_t* const devices[] = {L"0E83", L"0E84", L"0E90", L"0E93", L"0E94", L"0EC0"};
    std::vector<std::unique_ptr<CSimulatedDevice>> simulated;
    for (const wchar_t* device : devices) {
        simulated.emplace_back(
            new CSimulatedDevice({std::wstring(L"PCI\\VEN_8086&DEV_") + device + L"&SUBSYS_7C41A2E9"}));
        ASSERT_FALSE(simulated.back()->Instance().empty());
    }
    std::wstring dir = CopyExample(L"chipset", L"fault_killed");
    zoltest::RemoveTree(StagingFolder());
    ASSERT_TRUE(zoltest::InstallComponentInto(dir));
    // A component loaded by an earlier test may still hold the main log, so
    // it may not have been cleared: only what follows counts.
    const size_t before = zoltest::ReadMainLog().size();

    std::wstring cmd = L"\"" + zoltest::BinPath(L"zolhost.exe") + L"\" --lang en /verbose_log \"" + dir +
                       L"\\zolcomp.dll\"";
    std::vector<wchar_t> line(cmd.begin(), cmd.end());
    line.push_back(L'\0');
    STARTUPINFOW si = {sizeof(si)};
    PROCESS_INFORMATION pi = {};
    ASSERT_TRUE(CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, dir.c_str(), &si, &pi));
    DWORD start = GetTickCount();
    bool reached = false;
    while (!reached && GetTickCount() - start < 60000 && WaitForSingleObject(pi.hProcess, 5) == WAIT_TIMEOUT) {
        std::string log = zoltest::ReadMainLog();
        reached = log.find("Initiating installation... ", before) != std::string::npos ||
                  log.find("Type=PNP", before) != std::string::npos;
    }
    if (reached)
        TerminateProcess(pi.hProcess, 0xDEAD);
    WaitForSingleObject(pi.hProcess, 10000);
    DWORD code = 0;
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
    ASSERT_TRUE(reached);
    ASSERT_EQ(code, 0xDEADu) << "the host ended before it could be stopped";

    // Every line written is whole, the header is there and no footer is; at
    // most a step's start text waits for its answer.
    const std::string main1 = zoltest::ReadMainLog();
    std::vector<std::wstring> verbosePaths = zoltest::VerboseLogPaths();
    ASSERT_EQ(verbosePaths.size(), 1u);
    EXPECT_EQ(verbosePaths[0], zoltest::LogDir() + L"\\qx012345.exe.log");
    const std::string verbose1 = zoltest::ReadBytes(verbosePaths[0]);
    const std::string killed[] = {main1.substr(before), verbose1};
    const std::string rule(75, '=');
    for (const std::string& log : killed) {
        EXPECT_EQ(log.compare(0, rule.size() + 2, rule + "\r\n"), 0) << log;
        EXPECT_TRUE(Contains(log, "Log Session Start...\r\n\r\n") || Contains(log, "Log Session Start ...\r\n\r\n"));
        EXPECT_TRUE(Contains(log, "Initiating installation... ")) << log;
        EXPECT_FALSE(Contains(log, "Log Session End.")) << log;
        EXPECT_TRUE(OnlyWholeLineEnds(log)) << log;
        std::string rest = UnfinishedLine(log);
        EXPECT_TRUE(rest.empty() || (rest.size() > 4 && rest.compare(rest.size() - 4, 4, "... ") == 0)) << rest;
    }

    // A full run afterwards appends to both logs and leaves what the stopped
    // run wrote untouched; that was a prefix of what a whole run writes.
    zoltest::ProcessResult full = zoltest::RunHost(dir, L"--lang en /verbose_log");
    EXPECT_EQ(InstallResult(full), 1) << full.output;
    const std::string main2 = zoltest::ReadMainLog();
    ASSERT_EQ(zoltest::VerboseLogPaths(), verbosePaths);
    const std::string verbose2 = zoltest::ReadBytes(verbosePaths[0]);
    ASSERT_EQ(main2.compare(0, main1.size(), main1), 0);
    ASSERT_EQ(verbose2.compare(0, verbose1.size(), verbose1), 0);
    std::string whole[] = {main2.substr(main1.size()), verbose2.substr(verbose1.size())};
    for (int i = 0; i < 2; ++i) {
        // When the stop came between a step's text and its answer, the next
        // session first ends that line (the window is short, so this is rare).
        if (!UnfinishedLine(killed[i]).empty() && whole[i].compare(0, 2, "\r\n") == 0)
            whole[i].erase(0, 2);
        EXPECT_TRUE(Contains(whole[i], "Log Session End.") && Contains(whole[i], "Return Code (1)\r\n")) << whole[i];
        std::vector<std::string> stopped = Shape(killed[i]), complete = Shape(whole[i]);
        ASSERT_LT(stopped.size(), complete.size());
        for (size_t n = 0; n < stopped.size(); ++n)
            EXPECT_EQ(stopped[n], complete[n]) << "line " << n;
    }
}
