// The component as a whole: loaded by the host in a package directory, its
// exports, its log hand-over, and the host's own command line and output.
#include <gtest/gtest.h>
#include <windows.h>

#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "basecomp.h"
#include "component.h"
#include "hostoptions.h"
#include "hostreport.h"
#include "hostsession.h"
#include "package/xmlreader.h"
#include "testsupport.h"

namespace {

const char kUnknownInfType[] = "Unknown INF file type -- installation will not continue.";
const wchar_t kUnknownInfTypeJa[] =
    L"\u4E0D\u660E\u306AINF\u30D5\u30A1\u30A4\u30EB \u30BF\u30A4\u30D7\u3067\u3059 -- "
    L"\u30A4\u30F3\u30B9\u30C8\u30FC\u30EB\u3092\u7D9A\u884C\u3067\u304D\u307E\u305B\u3093";

std::wstring TestName()
{
    return zoltest::FromUtf8(::testing::UnitTest::GetInstance()->current_test_info()->name());
}

size_t Count(const std::string& text, const std::string& what)
{
    size_t n = 0;
    for (size_t pos = text.find(what); pos != std::string::npos; pos = text.find(what, pos + what.size()))
        ++n;
    return n;
}

std::string FileName(const std::wstring& path)
{
    return zoltest::ToUtf8(path.substr(path.find_last_of(L'\\') + 1));
}

// Runs the current directory elsewhere for the length of a scope.
class CurrentDirectoryScope
{
public:
    explicit CurrentDirectoryScope(const std::wstring& dir)
    {
        GetCurrentDirectoryW(MAX_PATH, m_previous);
        SetCurrentDirectoryW(dir.c_str());
    }
    ~CurrentDirectoryScope() { SetCurrentDirectoryW(m_previous); }

private:
    wchar_t m_previous[MAX_PATH];
};

// ---------------------------------------------------------------------------
// Through the host, in an empty package directory.

class HostRunTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_dir = zoltest::MakeTestDir(L"host_" + TestName());
        zoltest::ClearLogs();
    }
    zoltest::ProcessResult Host(const std::wstring& args) { return zoltest::RunHost(m_dir, args); }

    std::wstring m_dir;
};

TEST_F(HostRunTest, LoadsInAnEmptyDirectoryAndReportsInterfaceVersion100)
{
    zoltest::ProcessResult r = Host(L"--json --check");
    EXPECT_EQ(r.exitCode, 0u) << r.output;
    EXPECT_EQ(r.output.rfind("{\"report_version\":2,\"interface_version\":100,\"properties\":{", 0), 0u) << r.output;
    // No package definition: the package getters answer 0 and have no value.
    EXPECT_NE(r.output.find("\"1\":{\"result\":0,\"value\":null}"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("\"2\":{\"result\":0,\"value\":null}"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("\"4\":{\"result\":0,\"value\":null}"), std::string::npos) << r.output;
    // Silent installation is possible by default; type 8 is always 1.
    EXPECT_NE(r.output.find("\"6\":{\"result\":1,\"value\":1},\"7\":{\"result\":1,\"value\":1},"
                            "\"8\":{\"result\":1,\"value\":1}}"),
              std::string::npos)
        << r.output;
    EXPECT_EQ(r.output.find("\"install\""), std::string::npos) << "--check does not install";
    EXPECT_EQ(r.output.substr(r.output.size() - 3), "}\r\n");
}

TEST_F(HostRunTest, MainLogIsCreatedAndASecondRunAppends)
{
    zoltest::RemoveTree(zoltest::LogDir());
    zoltest::RemoveTree(L"C:\\devavoror");
    ASSERT_EQ(Host(L"--check").exitCode, 0u);
    std::string first = zoltest::ReadMainLog();
    ASSERT_FALSE(first.empty());
    EXPECT_EQ(first.rfind(std::string(75, '=') + "\r\nSource:          zolhost.exe\r\nVersion:         1.0.0.0\r\n", 0),
              0u)
        << first;
    EXPECT_NE(first.find("Return Code ("), std::string::npos);

    ASSERT_EQ(Host(L"--check").exitCode, 0u);
    std::string second = zoltest::ReadMainLog();
    EXPECT_EQ(second.substr(0, first.size()), first);
    EXPECT_EQ(Count(second, "Log Session Start...\r\n"), 2u);
    EXPECT_EQ(Count(second, "Log Session End. ["), 2u);
    EXPECT_TRUE(zoltest::VerboseLogPaths().empty()) << "no verbose log without the switch";
}

TEST_F(HostRunTest, UnknownInfTypeFailsWithItsMessage)
{
    zoltest::ProcessResult r = Host(L"--json");
    EXPECT_EQ(r.exitCode, 1603u);
    EXPECT_NE(r.output.find(std::string(",\"install\":{\"result\":0,\"message\":\"") + kUnknownInfType + "\",\"in_progress\":false}"),
              std::string::npos)
        << r.output;
    std::string main = zoltest::ReadMainLog();
    EXPECT_NE(main.find(std::string("Initiating installation... \r\n**ERROR** - ") + kUnknownInfType + "\r\n"),
              std::string::npos)
        << main;
    EXPECT_NE(main.find("Return Code (0)\r\n"), std::string::npos) << main;

    zoltest::ProcessResult text = Host(L"");
    EXPECT_EQ(text.exitCode, 1603u);
    EXPECT_NE(text.output.find("result 0 (failure)"), std::string::npos) << text.output;
    EXPECT_NE(text.output.find(kUnknownInfType), std::string::npos) << text.output;
    EXPECT_NE(text.output.find("Exit code:          1603"), std::string::npos) << text.output;
}

TEST_F(HostRunTest, JapaneseMessagesArriveAsUtf8)
{
    for (const wchar_t* args : {L"--json --lang ja", L"--lang=JA --json"}) {
        zoltest::ProcessResult r = Host(args);
        EXPECT_EQ(r.exitCode, 1603u);
        EXPECT_NE(r.output.find("\"message\":\"" + zoltest::ToUtf8(kUnknownInfTypeJa) + "\",\"in_progress\":false}"), std::string::npos)
            << r.output;
    }
    zoltest::ProcessResult text = Host(L"--lang ja");
    EXPECT_NE(text.output.find(zoltest::ToUtf8(kUnknownInfTypeJa)), std::string::npos) << text.output;
    // The log line stays English.
    EXPECT_NE(zoltest::ReadMainLog().find(std::string("**ERROR** - ") + kUnknownInfType), std::string::npos);
    // Any other language gets the English text.
    zoltest::ProcessResult german = Host(L"--json --lang de");
    EXPECT_NE(german.output.find(kUnknownInfType), std::string::npos) << german.output;
}

TEST_F(HostRunTest, VerboseSwitchInAnyLetterCase)
{
    for (const wchar_t* sw : {L"/VERBOSE_LOG", L"/VeRbOsE_lOg", L"/verbose_logging"}) {
        zoltest::ClearLogs();
        zoltest::ProcessResult r = Host(std::wstring(L"--check ") + sw);
        EXPECT_EQ(r.exitCode, 0u) << r.output;
        std::string verbose = zoltest::ReadVerboseLogs();
        EXPECT_NE(verbose.find("Verbose Log Session Start ...\r\n"), std::string::npos) << zoltest::ToUtf8(sw);
        EXPECT_NE(verbose.find("::basecomp.cpp[87] Locating package definition file... Failed!\r\n"),
                  std::string::npos)
            << verbose;
    }
}

TEST_F(HostRunTest, HostAdoptsTheComponentsVerboseLines)
{
    ASSERT_EQ(Host(L"--check /verbose_log").exitCode, 0u);
    std::vector<std::wstring> files = zoltest::VerboseLogPaths();
    // The component's own verbose file went into the host's, which then took
    // the package's name (empty here: no package definition).
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(FileName(files[0]), ".exe.log");
    std::string verbose = zoltest::MaskTimes(zoltest::ReadBytes(files[0]));
    const std::string header = std::string(75, '=') +
                               "\r\nSource:          zolhost.exe\r\nVersion:         1.0.0.0\r\n"
                               "Stub Version:    1.0.0.0\r\n";
    EXPECT_EQ(verbose.rfind(header, 0), 0u) << verbose;
    size_t start = verbose.find("Verbose Log Session Start ...\r\n\r\n");
    size_t detect = verbose.find("[T]::basecomp.cpp[84] Detecting if 64-bit operating system... \r\n");
    size_t locate = verbose.find("[T]::basecomp.cpp[87] Locating package definition file... Failed!\r\n");
    size_t install = verbose.find("[T]::basecomp.cpp[110] Checking for install.xml... Not found.\r\n");
    size_t end = verbose.find("Log Session End. [T]\r\nReturn Code (");
    ASSERT_NE(start, std::string::npos) << verbose;
    ASSERT_NE(detect, std::string::npos) << verbose;
    ASSERT_NE(locate, std::string::npos) << verbose;
    ASSERT_NE(install, std::string::npos) << verbose;
    ASSERT_NE(end, std::string::npos) << verbose;
    EXPECT_LT(start, detect);
    EXPECT_LT(detect, locate);
    EXPECT_LT(locate, install);
    EXPECT_LT(install, end);

    // The next run's lines are appended to the same file.
    ASSERT_EQ(Host(L"/verbose_log").exitCode, 1603u);
    files = zoltest::VerboseLogPaths();
    ASSERT_EQ(files.size(), 1u);
    std::string both = zoltest::ReadBytes(files[0]);
    EXPECT_EQ(Count(both, "Verbose Log Session Start ..."), 2u);
    EXPECT_EQ(Count(both, "Locating package definition file... Failed!"), 2u);
    EXPECT_NE(both.find(std::string("**ERROR** - ") + kUnknownInfType), std::string::npos);
}

TEST_F(HostRunTest, VerboseLogTakesThePackagesName)
{
    ASSERT_TRUE(zoltest::CopyTree(zoltest::ExamplePath(L"chipset"), m_dir));
    ASSERT_EQ(Host(L"--check /verbose_log").exitCode, 0u);
    std::vector<std::wstring> files = zoltest::VerboseLogPaths();
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(FileName(files[0]), "qx012345.exe.log");
    std::string verbose = zoltest::ReadBytes(files[0]);
    EXPECT_NE(verbose.find("Locating package definition file... Done.\r\n"), std::string::npos) << verbose;
    EXPECT_NE(verbose.find("Log Session End. ["), std::string::npos) << verbose;
}

// Names from the package's files neither lead the verbose log out of its
// folder nor forge lines in the logs: the refused package file name is
// named once, control characters in a logged name are shown as \xHH.
TEST_F(HostRunTest, PackageNamesStayInTheLogFolderAndForgeNoLines)
{
    ASSERT_TRUE(zoltest::CopyTree(zoltest::ExamplePath(L"legacy"), m_dir));
    ASSERT_TRUE(zoltest::EditFile(m_dir + L"\\qx4c7d21.xml", "qx4c7d21.exe", "..\\victim.exe"));
    ASSERT_TRUE(zoltest::EditFile(m_dir + L"\\install.xml", "zolwdt.inf", "x&#13;&#10;**ERROR** - forged.inf"));
    const std::wstring victim = zoltest::LogDir() + L"\\..\\victim.exe.log";
    CreateDirectoryW(L"C:\\devavoror", nullptr);
    ASSERT_TRUE(zoltest::WriteBytes(victim, "victim"));

    EXPECT_EQ(Host(L"/verbose_log").exitCode, 1603u);
    EXPECT_EQ(zoltest::ReadBytes(victim), "victim");
    std::vector<std::wstring> files = zoltest::VerboseLogPaths();
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(FileName(files[0]), ".exe.log");
    const std::string refused = "**ERROR** - Unsafe file name in package: ..\\victim.exe\r\n";
    const std::string escaped = "**ERROR** - INF file not opened: x\\x0D\\x0A**ERROR** - forged.inf\r\n";
    for (const std::string& log : {zoltest::ReadMainLog(), zoltest::ReadBytes(files[0])}) {
        EXPECT_EQ(Count(log, refused), 1u) << log;
        EXPECT_EQ(Count(log, escaped), 1u) << log;
        EXPECT_EQ(log.find("\n**ERROR** - forged"), std::string::npos) << log;
    }
    DeleteFileW(victim.c_str());
}

TEST_F(HostRunTest, SlashArgumentsAreLeftToTheComponent)
{
    // "/consoleout" makes the component open a console and reopen the C
    // streams; the host's report still reaches its caller.
    zoltest::ProcessResult r = Host(L"--json --check /consoleout /anything_else");
    EXPECT_EQ(r.exitCode, 0u) << r.output;
    EXPECT_NE(r.output.find("{\"report_version\":2,\"interface_version\":100,"), std::string::npos) << r.output;
}

TEST(HostCommandLine, HelpUsageAndLoadFailures)
{
    const std::wstring host = L"\"" + zoltest::BinPath(L"zolhost.exe") + L"\"";
    zoltest::ProcessResult help = zoltest::RunProcess(host + L" --help");
    EXPECT_EQ(help.exitCode, 0u);
    for (const char* word : {"usage: zolhost", "--lang CODE", "--package DIR", "--sta", "--check", "--json",
                             "--uninstall", "--force", "/verbose_log", "/consoleout",
                             "3010", "1603", "1605", "1618", "87", "zolsetup.log"})
        EXPECT_NE(help.output.find(word), std::string::npos) << word;

    for (const wchar_t* bad :
         {L" --bogus x.dll", L" --json", L"", L" --lang", L" a.dll b.dll", L" -x a.dll", L" x.dll --package",
          L" --force x.dll", L" --check --force x.dll", L" --uninstall"}) {
        zoltest::ProcessResult r = zoltest::RunProcess(host + bad);
        EXPECT_EQ(r.exitCode, 87u) << zoltest::ToUtf8(bad);
        EXPECT_NE(r.output.find("usage: zolhost"), std::string::npos) << r.output;
    }

    std::wstring dir = zoltest::MakeTestDir(L"host_missing");
    zoltest::ProcessResult missing = zoltest::RunProcess(host + L" --json \"" + dir + L"\\nothing.dll\"", dir);
    EXPECT_EQ(missing.exitCode, 1603u);
    EXPECT_NE(missing.output.find("cannot load the component"), std::string::npos) << missing.output;
    EXPECT_EQ(missing.output.find("interface_version"), std::string::npos) << missing.output;

    zoltest::ProcessResult notComponent = zoltest::RunProcess(host + L" C:\\windows\\system32\\version.dll", dir);
    EXPECT_EQ(notComponent.exitCode, 1603u);
    EXPECT_NE(notComponent.output.find("has no export GetInterfaceVersion"), std::string::npos)
        << notComponent.output;

    // A relative path names the file in the current directory.
    ASSERT_TRUE(zoltest::InstallComponentInto(dir));
    zoltest::ProcessResult relative = zoltest::RunProcess(host + L" --check zolcomp.dll", dir);
    EXPECT_EQ(relative.exitCode, 0u) << relative.output;
    EXPECT_NE(relative.output.find(zoltest::ToUtf8(dir) + "\\zolcomp.dll"), std::string::npos) << relative.output;
}

// A component made before Uninstall: --uninstall calls nothing in it, not
// even the questions.
TEST(HostCommandLine, UninstallOfAComponentWithoutTheExportCallsNothing)
{
    const std::wstring host = L"\"" + zoltest::BinPath(L"zolhost.exe") + L"\"";
    std::wstring dir = zoltest::MakeTestDir(L"host_noremove");
    ASSERT_TRUE(zoltest::CopyTree(zoltest::ExamplePath(L"chipset"), dir));
    const std::wstring component = dir + L"\\zolcomp_noremove.dll";
    ASSERT_TRUE(CopyFileW(zoltest::BinPath(L"zolcomp_noremove.dll").c_str(), component.c_str(), FALSE));
    const std::string error = zoltest::ToUtf8(component) + " cannot uninstall its package: it has no export Uninstall";
    for (const wchar_t* args : {L" --uninstall --json ", L" --uninstall --check --force "}) {
        zoltest::ClearLogs();
        zoltest::ProcessResult r = zoltest::RunProcess(host + args + L"\"" + component + L"\"", dir);
        EXPECT_EQ(r.exitCode, 1603u) << r.output;
        EXPECT_EQ(r.output, "zolhost: " + error + "\r\n");
        std::string log = zoltest::ReadMainLog();
        EXPECT_NE(log.find("**ERROR** - " + error + "\r\n"), std::string::npos) << log;
        EXPECT_NE(log.find("Return Code (0)"), std::string::npos) << log;
        // Property 5 writes its checklist to the main log: it was not asked.
        EXPECT_EQ(log.find("Is operating system supported"), std::string::npos) << log;
    }
}

TEST(HostCommandLine, ComponentOutsideThePackageFolderIsWarnedAbout)
{
    const std::wstring host = L"\"" + zoltest::BinPath(L"zolhost.exe") + L"\"";
    const std::string warning = "The component is not in the current folder ";
    std::wstring package = zoltest::MakeTestDir(L"host_outside_pkg");
    std::wstring other = zoltest::MakeTestDir(L"host_outside_other");
    ASSERT_TRUE(zoltest::CopyTree(zoltest::ExamplePath(L"chipset"), package));
    ASSERT_TRUE(zoltest::InstallComponentInto(package));

    // The component of the build folder, run in the package folder.
    zoltest::ProcessResult outside =
        zoltest::RunProcess(host + L" --json --check \"" + zoltest::BinPath(L"zolcomp.dll") + L"\"", package);
    EXPECT_EQ(outside.exitCode, 0u) << outside.output;
    EXPECT_NE(outside.output.find(",\"warnings\":[\"" + warning), std::string::npos) << outside.output;

    // --package makes the folder current; the same folder spelt in another
    // letter case and with a trailing backslash is no reason to warn.
    std::wstring spelt = package;
    CharUpperBuffW(&spelt[0], static_cast<DWORD>(spelt.size()));
    zoltest::ProcessResult inside = zoltest::RunProcess(
        host + L" --json --check --package \"" + spelt + L"\\\\\" \"" + package + L"\\zolcomp.dll\"", other);
    EXPECT_EQ(inside.exitCode, 0u) << inside.output;
    EXPECT_EQ(inside.output.find("warnings"), std::string::npos) << inside.output;
    EXPECT_NE(inside.output.find("\"4\":{\"result\":1,"), std::string::npos) << inside.output; // read the package

    // A relative component path is taken from the folder the host started
    // in, before --package changes it.
    zoltest::ProcessResult relative =
        zoltest::RunProcess(host + L" --check --package=" + other + L" zolcomp.dll", package);
    EXPECT_EQ(relative.exitCode, 0u) << relative.output;
    EXPECT_NE(relative.output.find("Component:          " + zoltest::ToUtf8(package) + "\\zolcomp.dll"),
              std::string::npos)
        << relative.output;
    EXPECT_NE(relative.output.find(warning + zoltest::ToUtf8(other) + ":"), std::string::npos) << relative.output;

    // A package folder that cannot be entered: nothing is loaded or logged.
    zoltest::ClearLogs();
    zoltest::ProcessResult missing =
        zoltest::RunProcess(host + L" --json --package C:\\no\\such\\folder \"" + package + L"\\zolcomp.dll\"", other);
    EXPECT_EQ(missing.exitCode, 87u) << missing.output;
    EXPECT_NE(missing.output.find("cannot use the package folder C:\\no\\such\\folder"), std::string::npos)
        << missing.output;
    EXPECT_EQ(missing.output.find("interface_version"), std::string::npos) << missing.output;
    EXPECT_EQ(zoltest::ReadMainLog(), "");
}

// ---------------------------------------------------------------------------
// The exports, called directly in this process.

TEST(Exports, GetPropertyOutsideOneToNineReturnsZeroAndWritesNothing)
{
    HMODULE module = LoadLibraryW(zoltest::BinPath(L"zolcomp.dll").c_str());
    ASSERT_NE(module, nullptr) << GetLastError();
    auto getProperty = reinterpret_cast<int(WINAPI*)(int, void*, int, void*)>(GetProcAddress(module, "GetProperty"));
    auto getVersion = reinterpret_cast<int(WINAPI*)(int*)>(GetProcAddress(module, "GetInterfaceVersion"));
    ASSERT_NE(getProperty, nullptr);
    ASSERT_NE(getVersion, nullptr);
    for (int type : {0, 10, -1, 1000}) {
        int out = 0x5A5A5A5A;
        EXPECT_EQ(getProperty(type, &out, sizeof(out), nullptr), 0) << type;
        EXPECT_EQ(out, 0x5A5A5A5A) << type;
    }
    int flags[3] = {-1, -1, -1};
    for (int type = 6; type <= 8; ++type)
        EXPECT_EQ(getProperty(type, &flags[type - 6], sizeof(int), nullptr), 1);
    EXPECT_EQ(flags[0], 1);
    EXPECT_EQ(flags[1], 1);
    EXPECT_EQ(flags[2], 1);
    int version = 0;
    EXPECT_EQ(getVersion(&version), 1);
    EXPECT_EQ(version, 100);
    FreeLibrary(module);
}

// An exception inside an export stops there: the export returns 0, the main
// log gets an ERROR line, and the next call works. The exceptions come from a
// test-only switch of a separate build of the library, zolcomp_faults.dll:
// nothing in the component's own work can be made to throw on demand.
TEST(Exports, ExceptionsStopAtTheExportsWithAnErrorLine)
{
    std::wstring dir = zoltest::MakeTestDir(L"exports_faults");
    CurrentDirectoryScope scope(dir);
    zoltest::ClearLogs();
    HMODULE module = LoadLibraryW(zoltest::BinPath(L"zolcomp_faults.dll").c_str());
    ASSERT_NE(module, nullptr) << GetLastError();
    auto failNext = reinterpret_cast<void(WINAPI*)(int)>(GetProcAddress(module, "ZolFailNextCall"));
    auto getVersion = reinterpret_cast<int(WINAPI*)(int*)>(GetProcAddress(module, "GetInterfaceVersion"));
    auto getProperty = reinterpret_cast<int(WINAPI*)(int, void*, int, void*)>(GetProcAddress(module, "GetProperty"));
    auto install =
        reinterpret_cast<int(WINAPI*)(int, void*, wchar_t*, int, const wchar_t*)>(GetProcAddress(module, "Install"));
    ASSERT_TRUE(failNext && getVersion && getProperty && install);

    const std::string before = zoltest::ReadMainLog();
    failNext(1); // std::bad_alloc
    int flag = -1;
    EXPECT_EQ(getProperty(6, &flag, sizeof(flag), nullptr), 0);
    EXPECT_EQ(flag, -1);
    failNext(2); // not a standard exception
    wchar_t message[1024] = L"untouched";
    EXPECT_EQ(install(0, nullptr, message, 0, L"en"), 0);
    EXPECT_STREQ(message, L"untouched");
    failNext(1);
    int version = -1;
    EXPECT_EQ(getVersion(&version), 0);
    EXPECT_EQ(version, -1);
    EXPECT_EQ(zoltest::ReadMainLog(), before + "**ERROR** - Unexpected failure in GetProperty\r\n"
                                               "**ERROR** - Unexpected failure in Install\r\n"
                                               "**ERROR** - Unexpected failure in GetInterfaceVersion\r\n");

    // The switch fires once: the following calls work as ever.
    EXPECT_EQ(getProperty(6, &flag, sizeof(flag), nullptr), 1);
    EXPECT_EQ(flag, 1);
    EXPECT_EQ(getVersion(&version), 1);
    EXPECT_EQ(version, 100);
    FreeLibrary(module);
}

// ---------------------------------------------------------------------------
// The component object in this process.

TEST(Component, EmptyDirectoryGivesExactlyTheBuiltInIdsInOrder)
{
    static const char* const kDevices[] = {
        "0E83", "0E84", "0E90", "0E93", "0E94", "0EC0", "0EC1", "0EC2", "0EC3", "0EC4", "0E1E", "0E1F", "0EE0",
        "0EE2", "0EE4", "0EE6", "0EE8", "0EEA", "0EEC", "0EEE", "0EE1", "0EE3", "0EE5", "0EE7", "0EE9", "0EEB",
        "0EED", "0EA0", "0EA8", "0E71", "0EAA", "0EAB", "0EAC", "0EAD", "0EB0", "0EB1", "0EB2", "0EB3", "0EB4",
        "0EB5", "0EB6", "0EB7", "0EF8", "0E1D", "0E81", "0EC8", "0EC9", "0ECA", "0E40", "0E43", "0E44", "0E60",
        "0E68", "0E79", "0E6A", "0E6B", "0E6C", "0E6D", "0EF0", "0EF1", "0EF2", "0EF3", "0EF4", "0EF5", "0EF6",
        "0EF7", "0ED8", "0ED9", "0EDC", "0EDD", "0EDE", "0EDF", "0E30", "0E34", "0E36", "0E37", "0E3A", "0E38",
    };
    ASSERT_EQ(sizeof(kDevices) / sizeof(kDevices[0]), 78u);

    CurrentDirectoryScope cwd(zoltest::MakeTestDir(L"component_ids"));
    CComponent component;
    EXPECT_TRUE(component.GetSupportedHardwareIds().empty()) << "nothing before Initialize";
    EXPECT_EQ(component.Initialize(), 1) << "no package files is not a failed reading step";
    const CStrList& ids = component.GetSupportedHardwareIds();
    ASSERT_EQ(ids.size(), 78u);
    for (size_t i = 0; i < 78; ++i)
        EXPECT_EQ(zoltest::ToUtf8(ids[i].GetString()),
                  std::string("PCI\\VEN_8086&DEV_") + kDevices[i] + "&SUBSYS_7C41A2E9")
            << i;
    EXPECT_EQ(component.GetInfType(), -1);
    EXPECT_EQ(component.GetPackageReader(), nullptr);
    component.GetLog()->Close(); // the component's own log outlives it otherwise
}

TEST(Component, DefaultsSettersAndFlags)
{
    CBaseComponent component;
    EXPECT_EQ(component.IsSilentCapable(), 1);
    EXPECT_EQ(component.IsRebootRequired(), 0);
    EXPECT_EQ(component.GetRequiredDiskSpace(), 0u);
    EXPECT_EQ(component.IsModelSupported(), 1);
    EXPECT_EQ(component.IsDependencyChecked(), 0);
    EXPECT_STREQ(component.GetPackageFileName(), L"");
    EXPECT_STREQ(component.GetShellExecuteFile(), L"");
    EXPECT_STREQ(component.GetInfFileName(), L"");
    ASSERT_NE(component.GetLog(), nullptr);

    component.SetSilentCapable(0);
    int flag = -1;
    EXPECT_EQ(component.GetProperty(6, &flag, 4, nullptr), 1);
    EXPECT_EQ(flag, 0);
    flag = -1;
    EXPECT_EQ(component.GetProperty(7, &flag, 4, nullptr), 1);
    EXPECT_EQ(flag, 0);
    EXPECT_EQ(component.GetProperty(8, &flag, 4, nullptr), 1);
    EXPECT_EQ(flag, 1);

    component.SetInfFile(L"driver.inf", INF_TYPE_PNP);
    EXPECT_STREQ(component.GetInfFileName(), L"driver.inf");
    EXPECT_EQ(component.GetInfType(), INF_TYPE_PNP);
    component.SetRequiredDiskSpace(2048);
    EXPECT_EQ(component.GetRequiredDiskSpace(), 2048u);
    component.SetRebootRequired(1);
    EXPECT_EQ(component.IsRebootRequired(), 1);
    component.SetInstalledFilePath(L"C:\\x\\y.sys");
    EXPECT_STREQ(component.GetInstalledFilePath().GetString(), L"C:\\x\\y.sys");
    SUPPORTEDOS os = {L"nt64", 5, 2, 1, 0xFFFF};
    component.AddSupportedOperatingSystem(os);
    ASSERT_EQ(component.GetSupportedOperatingSystems().size(), 1u);
    EXPECT_STREQ(component.GetSupportedOperatingSystems()[0].szPlatform, L"nt64");
    component.AddSupportedHardwareId(L"PCI\\VEN_1234&DEV_5678");
    ASSERT_EQ(component.GetSupportedHardwareIds().size(), 1u);
}

// A package reader the test can hand to the component, and a second Cleanup.
class ComponentWithReader : public CBaseComponent
{
public:
    void GiveReader() { m_pPackageReader = new CZolXMLReader(); }
};

TEST(Component, CleanupTwiceFreesThePackageReaderOnce)
{
    ComponentWithReader component;
    component.GiveReader();
    component.Cleanup();
    EXPECT_EQ(component.GetPackageReader(), nullptr);
    component.Cleanup();
    // The destructor runs Cleanup a third time.
}

// A host log that counts its destructions.
class CountingLog : public CCmpLog
{
public:
    CountingLog(const wchar_t* name, const wchar_t* dir) : CCmpLog(name, dir) {}
    ~CountingLog() override { ++s_destroyed; }
    static int s_destroyed;
};
int CountingLog::s_destroyed = 0;

class HostLogTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_dirA = zoltest::MakeTestDir(L"hostlog_" + TestName() + L"_a") + L"\\";
        m_dirB = zoltest::MakeTestDir(L"hostlog_" + TestName() + L"_b") + L"\\";
        CountingLog::s_destroyed = 0;
    }
    static void StartVerbose(CCmpLog* log)
    {
        log->SetVerbose(1);
        ASSERT_EQ(log->Open(), 0);
    }

    std::wstring m_dirA, m_dirB;
};

TEST_F(HostLogTest, HandOverMovesTheVerboseLinesAndNeverDeletesTheHostsLog)
{
    CBaseComponent* component = new CBaseComponent();
    CCmpLog* own = component->GetLog();
    StartVerbose(own);
    const std::wstring ownPath = std::wstring(own->GetVerboseLogDir()) + own->GetVerboseLogName();
    own->WriteLine(LOG_VERBOSE, SEV_INFO, BASECOMP_SOURCE, 1, L"component line\r\n");

    CountingLog* hostA = new CountingLog(L"hostA.log", m_dirA.c_str());
    StartVerbose(hostA);
    hostA->WriteLine(LOG_VERBOSE_CONT, SEV_INFO, nullptr, 0, L"host A header\r\n");
    EXPECT_EQ(component->GetProperty(9, hostA, 0, nullptr), 1);
    EXPECT_EQ(component->GetLog(), hostA);
    EXPECT_FALSE(zoltest::FileExists(ownPath)) << "the component's verbose file was merged away";
    EXPECT_FALSE(zoltest::FileExists(m_dirA + L"hostA.log"));
    EXPECT_EQ(std::wstring(hostA->GetVerboseLogName()), L".exe.log");
    component->GetLog()->WriteLine(LOG_VERBOSE_CONT, SEV_INFO, nullptr, 0, L"through A\r\n");
    EXPECT_EQ(zoltest::MaskTimes(zoltest::ReadBytes(m_dirA + L".exe.log")),
              "host A header\r\n[T]::basecomp.cpp[1] component line\r\nthrough A\r\n");

    // The same log again: nothing changes, it stays open.
    EXPECT_EQ(component->GetProperty(9, hostA, 0, nullptr), 1);
    component->GetLog()->WriteLine(LOG_VERBOSE_CONT, SEV_INFO, nullptr, 0, L"still A\r\n");
    EXPECT_NE(zoltest::ReadBytes(m_dirA + L".exe.log").find("still A\r\n"), std::string::npos);
    EXPECT_EQ(component->GetProperty(9, nullptr, 0, nullptr), 1);
    EXPECT_EQ(component->GetLog(), hostA);

    // A second host log takes over; the first belongs to the host and lives on.
    CountingLog* hostB = new CountingLog(L"hostB.log", m_dirB.c_str());
    StartVerbose(hostB);
    EXPECT_EQ(component->GetProperty(9, hostB, 0, nullptr), 1);
    EXPECT_EQ(component->GetLog(), hostB);
    EXPECT_EQ(CountingLog::s_destroyed, 0);
    component->GetLog()->WriteLine(LOG_VERBOSE_CONT, SEV_INFO, nullptr, 0, L"through B\r\n");
    EXPECT_EQ(zoltest::MaskTimes(zoltest::ReadBytes(m_dirB + L".exe.log")),
              "host A header\r\n[T]::basecomp.cpp[1] component line\r\nthrough A\r\nstill A\r\nthrough B\r\n");

    delete component;
    EXPECT_EQ(CountingLog::s_destroyed, 0) << "the component never destroys a host's log";
    hostB->Close();
    delete hostA;
    delete hostB;
    EXPECT_EQ(CountingLog::s_destroyed, 2);
}

TEST_F(HostLogTest, HostLogIsIgnoredWhenTheComponentIsNotVerbose)
{
    CBaseComponent component;
    CCmpLog* own = component.GetLog();
    ASSERT_EQ(own->Open(), 0);
    CountingLog host(L"host.log", m_dirA.c_str());
    StartVerbose(&host);
    host.WriteLine(LOG_VERBOSE_CONT, SEV_INFO, nullptr, 0, L"host\r\n");
    EXPECT_EQ(component.GetProperty(9, &host, 0, nullptr), 1);
    EXPECT_EQ(component.GetLog(), own);
    EXPECT_EQ(std::wstring(host.GetVerboseLogName()), L"host.log");
    host.Close();
    EXPECT_EQ(zoltest::ReadBytes(m_dirA + L"host.log"), "host\r\n");
    own->Close();
}

// ---------------------------------------------------------------------------
// The host's parts.

TEST(HostParts, OptionsParsing)
{
    {
        const wchar_t* argv[] = {L"zolhost", L"/verbose_log", L"--lang", L"ja", L"--check", L"--json",
                                 L"/consoleout", L"--pause", L"C:\\p\\zolcomp.dll"};
        CHostOptions options;
        ASSERT_EQ(options.Parse(9, argv), CHostOptions::PARSE_RUN);
        EXPECT_EQ(options.Language(), L"ja");
        EXPECT_TRUE(options.CheckOnly());
        EXPECT_TRUE(options.Json());
        EXPECT_TRUE(options.Pause());
        EXPECT_EQ(options.ComponentPath(), L"C:\\p\\zolcomp.dll");
    }
    {
        const wchar_t* argv[] = {L"zolhost", L"x.dll"};
        CHostOptions options;
        ASSERT_EQ(options.Parse(2, argv), CHostOptions::PARSE_RUN);
        EXPECT_EQ(options.Language(), L"en");
        EXPECT_FALSE(options.CheckOnly());
        EXPECT_FALSE(options.Json());
        EXPECT_FALSE(options.Pause());
    }
    {
        const wchar_t* argv[] = {L"zolhost", L"x.dll", L"--help"};
        CHostOptions options;
        EXPECT_EQ(options.Parse(3, argv), CHostOptions::PARSE_HELP);
    }
    {
        const wchar_t* argv[] = {L"zolhost", L"/verbose_log"};
        CHostOptions options;
        EXPECT_EQ(options.Parse(2, argv), CHostOptions::PARSE_USAGE);
        EXPECT_NE(options.Error().find(L"missing"), std::wstring::npos);
    }
    {
        const wchar_t* argv[] = {L"zolhost", L"--lang=", L"x.dll"};
        CHostOptions options;
        EXPECT_EQ(options.Parse(3, argv), CHostOptions::PARSE_USAGE);
    }
    {
        const wchar_t* argv[] = {L"zolhost", L"--package=D:\\p q", L"--sta", L"x.dll"};
        CHostOptions options;
        ASSERT_EQ(options.Parse(4, argv), CHostOptions::PARSE_RUN);
        EXPECT_EQ(options.PackageDir(), L"D:\\p q");
        EXPECT_TRUE(options.SingleThreaded());
        EXPECT_FALSE(options.Uninstall());
        EXPECT_FALSE(options.Force());
    }
    {
        const wchar_t* argv[] = {L"zolhost", L"--force", L"--uninstall", L"--check", L"x.dll"};
        CHostOptions options;
        ASSERT_EQ(options.Parse(5, argv), CHostOptions::PARSE_RUN);
        EXPECT_TRUE(options.Uninstall());
        EXPECT_TRUE(options.Force());
        EXPECT_TRUE(options.CheckOnly());
    }
}

TEST(HostParts, ComponentFolderComparison)
{
    EXPECT_TRUE(CHostSession::IsInFolder(L"C:\\zolcomp.dll", L"C:\\"));
    EXPECT_FALSE(CHostSession::IsInFolder(L"C:\\Pkg\\sub\\zolcomp.dll", L"C:\\Pkg"));
    EXPECT_FALSE(CHostSession::IsInFolder(L"C:\\Pkg\\zolcomp.dll", L"C:\\Pk"));
    // A short name of an existing folder is the same folder.
    std::wstring dir = zoltest::MakeTestDir(L"host long folder name");
    wchar_t shortName[MAX_PATH] = {};
    ASSERT_GT(GetShortPathNameW(dir.c_str(), shortName, MAX_PATH), 0u);
    EXPECT_TRUE(CHostSession::IsInFolder(std::wstring(shortName) + L"\\zolcomp.dll", dir));
}

TEST(HostParts, ExitCodes)
{
    EXPECT_EQ(CHostSession::ExitCodeForInstallResult(1), 0);
    EXPECT_EQ(CHostSession::ExitCodeForInstallResult(2), 3010);
    EXPECT_EQ(CHostSession::ExitCodeForInstallResult(0), 1603);
    EXPECT_EQ(CHostSession::ExitCodeForInstallResult(7), 1603);
    // 1605 only when the what-if answered "not installed" and Uninstall failed.
    EXPECT_EQ(CHostSession::ExitCodeForUninstallResult(0, 1, ZOL_PACKAGE_NOT_INSTALLED), 1605);
    EXPECT_EQ(CHostSession::ExitCodeForUninstallResult(0, 0, ZOL_PACKAGE_NOT_INSTALLED), 1603);
    EXPECT_EQ(CHostSession::ExitCodeForUninstallResult(0, 1, ZOL_PACKAGE_PARTIAL), 1603);
}

TEST(HostParts, JsonEscapingAndRendering)
{
    EXPECT_EQ(CHostReport::JsonString(L"a\"b\\c\r\nd\te\x01\x1F\u00E9\u65E5/"),
              L"\"a\\\"b\\\\c\\r\\nd\\te\\u0001\\u001f\u00E9\u65E5/\"");
    EXPECT_EQ(CHostReport::JsonString(L""), L"\"\"");

    CHostReport report;
    report.interfaceResult = 1;
    report.interfaceVersion = 100;
    report.properties[1] = {1, L"Chipset \"X\"", 0};
    report.properties[3] = {0, L"ignored: result 0", 0};
    report.properties[5].result = 1;
    report.prereqStatus = 7;
    report.prereqMessage = L"The OS is not supported.\r\n";
    report.properties[6] = {1, L"", 0};
    report.installed = true;
    report.installResult = 2;
    report.installMessage = L"";
    EXPECT_EQ(report.RenderJson(),
              L"{\"report_version\":2,\"interface_version\":100,\"properties\":{"
              L"\"1\":{\"result\":1,\"value\":\"Chipset \\\"X\\\"\"},"
              L"\"2\":{\"result\":0,\"value\":null},"
              L"\"3\":{\"result\":0,\"value\":null},"
              L"\"4\":{\"result\":0,\"value\":null},"
              L"\"5\":{\"result\":1,\"status\":7,\"message\":\"The OS is not supported.\\r\\n\"},"
              L"\"6\":{\"result\":1,\"value\":0},"
              L"\"7\":{\"result\":0,\"value\":null},"
              L"\"8\":{\"result\":0,\"value\":null}},"
              L"\"install\":{\"result\":2,\"message\":\"\",\"in_progress\":false},\"devices\":[]}\r\n");
    std::wstring text = report.RenderText();
    EXPECT_NE(text.find(L"status 7 (STATUS_CANNOT_INSTALL)"), std::wstring::npos) << zoltest::ToUtf8(text);
    EXPECT_NE(text.find(L"\"The OS is not supported.\\r\\n\""), std::wstring::npos) << zoltest::ToUtf8(text);
    EXPECT_NE(text.find(L"result 2 (success, restart required)"), std::wstring::npos) << zoltest::ToUtf8(text);
    EXPECT_EQ(text.find(L"ignored"), std::wstring::npos);

    // Warnings and the host's apartment come last, and only when there are any.
    report.warnings = {L"first \"one\"", L"second"};
    report.hostApartment = L"single-threaded";
    std::wstring withWarnings = report.RenderJson();
    EXPECT_EQ(withWarnings.substr(withWarnings.find(L"}},\"install\"")),
              L"}},\"install\":{\"result\":2,\"message\":\"\",\"in_progress\":false},\"devices\":[],\"warnings\":[\"first \\\"one\\\"\",\"second\"],"
              L"\"host_apartment\":\"single-threaded\"}\r\n");
    text = report.RenderText();
    EXPECT_NE(text.find(L"Warning:            second\r\n"), std::wstring::npos) << zoltest::ToUtf8(text);
    EXPECT_NE(text.find(L"Host apartment:     single-threaded\r\n"), std::wstring::npos) << zoltest::ToUtf8(text);
    report.warnings.clear();
    report.hostApartment.clear();

    report.interfaceResult = 0;
    report.installed = false;
    std::wstring json = report.RenderJson();
    EXPECT_EQ(json.rfind(L"{\"report_version\":2,\"interface_version\":null,", 0), 0u);
    EXPECT_EQ(json.find(L"install"), std::wstring::npos);

    // Install not called for another installation; devices with each outcome.
    report.installInProgress = true;
    report.installMessage = L"Another installation is in progress (process ID 42).";
    CHostReport::Device failed;
    failed.instanceId = L"ROOT\\SYSTEM\\0001";
    failed.hardwareId = L"PCI\\VEN_8086&DEV_0E83";
    failed.outcome = ZOL_DEVICE_FAILED;
    failed.error = 0xE000020B;
    failed.restart = true;
    failed.service = L"zolchip";
    CHostReport::Device skipped = failed;
    skipped.outcome = ZOL_DEVICE_NOT_ATTEMPTED;
    skipped.reason = ZOL_REASON_LIBRARY_MISSING;
    skipped.restart = false;
    skipped.inf = L"oem3.inf";
    skipped.driverVersion = L"9.3.0.1019";
    report.devices = {failed, skipped};
    json = report.RenderJson();
    EXPECT_EQ(json.substr(json.find(L",\"install\"")),
              L",\"install\":{\"result\":null,\"message\":\"Another installation is in progress (process ID 42).\","
              L"\"in_progress\":true},\"devices\":["
              L"{\"instance_id\":\"ROOT\\\\SYSTEM\\\\0001\",\"hardware_id\":\"PCI\\\\VEN_8086&DEV_0E83\","
              L"\"outcome\":\"failed\",\"error\":3758096907,\"reason\":null,\"restart\":true,"
              L"\"service\":\"zolchip\",\"inf\":null,\"driver_version\":null},"
              L"{\"instance_id\":\"ROOT\\\\SYSTEM\\\\0001\",\"hardware_id\":\"PCI\\\\VEN_8086&DEV_0E83\","
              L"\"outcome\":\"not_attempted\",\"error\":null,\"reason\":\"library missing\",\"restart\":false,"
              L"\"service\":\"zolchip\",\"inf\":\"oem3.inf\",\"driver_version\":\"9.3.0.1019\"}]}\r\n");
    text = report.RenderText();
    EXPECT_NE(text.find(L"Install:            not called (another installation is in progress)\r\n"
                        L"Install message:    \"Another installation is in progress (process ID 42).\"\r\n"
                        L"Devices:            2\r\n"
                        L"  Instance ID       Hardware ID            Outcome                          Restart  "
                        L"Service  INF       Driver version\r\n"
                        L"  ROOT\\SYSTEM\\0001  PCI\\VEN_8086&DEV_0E83  failed (error 0xE000020B)        yes      "
                        L"zolchip  -         -\r\n"
                        L"  ROOT\\SYSTEM\\0001  PCI\\VEN_8086&DEV_0E83  not_attempted (library missing)  no       "
                        L"zolchip  oem3.inf  9.3.0.1019\r\n"),
              std::wstring::npos)
        << zoltest::ToUtf8(text);
}

// An uninstall run's report: "uninstall" in place of "install", with the
// plan, and the uninstall fields on each device. Text goes through the
// library: DEL and a surrogate pair as they are, a lone surrogate as U+FFFD.
TEST(HostParts, UninstallReport)
{
    CHostReport report;
    report.uninstall.requested = true;
    report.uninstall.planResult = 1;
    report.uninstall.packageState = ZOL_PACKAGE_INSTALLED;
    CHostReport::Device device;
    device.instanceId = L"ROOT\\SYSTEM\\0001";
    device.hardwareId = std::wstring(L"\x7F\x1B") + wchar_t(0xD83D) + wchar_t(0xDE00) + wchar_t(0xDC00);
    device.outcome = ZOL_DEVICE_PLANNED;
    device.inf = L"zolchip.inf";
    device.action = ZOL_ACTION_NO_DRIVER;
    report.uninstall.plan = {device};
    report.uninstall.called = true;
    report.uninstall.message = L"No other driver.";
    device.outcome = ZOL_DEVICE_NOT_ATTEMPTED;
    device.reason = ZOL_REASON_NO_DRIVER_LEFT;
    device.action = ZOL_ACTION_RESTORE_PREVIOUS;
    device.targetInf = L"zolchip.inf";
    device.targetVersion = L"1.2.3.0";
    report.devices = {device};
    const std::wstring head = L"{\"instance_id\":\"ROOT\\\\SYSTEM\\\\0001\",\"hardware_id\":\"\x7F\\u001b\U0001F600\uFFFD\",";
    std::wstring json = report.RenderJson();
    EXPECT_EQ(json.substr(json.find(L"}},")),
              L"}},\"uninstall\":{\"result\":0,\"message\":\"No other driver.\",\"in_progress\":false,"
              L"\"package_state\":\"installed\",\"forced\":false,\"check\":false,\"plan\":[" + head +
                  L"\"outcome\":\"planned\",\"error\":null,\"reason\":null,\"restart\":false,\"service\":null,"
                  L"\"inf\":\"zolchip.inf\",\"driver_version\":null,\"action\":\"no_driver\",\"target_inf\":null,"
                  L"\"target_version\":null}]},\"devices\":[" + head +
                  L"\"outcome\":\"not_attempted\",\"error\":null,\"reason\":\"no driver left\",\"restart\":false,"
                  L"\"service\":null,\"inf\":\"zolchip.inf\",\"driver_version\":null,\"action\":\"restore_previous\","
                  L"\"target_inf\":\"zolchip.inf\",\"target_version\":\"1.2.3.0\"}]}\r\n");
    std::wstring text = report.RenderText();
    EXPECT_NE(text.find(L"Package state:      installed\r\nUninstall plan:     1\r\n"), std::wstring::npos);
    // The readable report shows control characters as escapes; the output's
    // conversion to UTF-8 makes the lone surrogate U+FFFD.
    EXPECT_NE(text.find(L"  ROOT\\SYSTEM\\0001  \\x7f\\x1b\U0001F600" + std::wstring(1, wchar_t(0xDC00)) +
                        L"  not_attempted (no driver left)  no       -        zolchip.inf  -               "
                        L"restore_previous  zolchip.inf  1.2.3.0\r\n"),
              std::wstring::npos)
        << zoltest::ToUtf8(text);
}

} // namespace
