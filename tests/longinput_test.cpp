// Long input against every fixed-size field: one table, each row run with a
// text exactly at the field's limit, one character past it and far past it.
// Each run checks the defined outcome (kept whole, cut, skipped, unchanged or
// refused) and that nothing beside the field was written.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <functional>
#include <iostream>
#include <string>
#include <vector>

#include "basecomp.h"
#include "inf/inf.h"
#include "log/cmplog.h"
#include "messages.h"
#include "testsupport.h"

namespace {

const wchar_t kGuard = static_cast<wchar_t>(0xCDCD);

// Exposes the fixed buffers; the two message hooks write a text of the
// requested length (0: none) and then report failure.
class Probe : public CBaseComponent
{
public:
    using CBaseComponent::m_szPackageFileName;
    using CBaseComponent::m_szShellExecuteFile;
    using CBaseComponent::m_szShellExecuteDir;
    size_t additional = 0, dependency = 0;
    int os = 1;

    int IsOperatingSystemSupported() override { return os; }
    int CheckAdditionalRequirements(wchar_t* m, int cap, const wchar_t*) override { return Hook(m, cap, additional); }
    int CheckDependencies(wchar_t* m, int cap, const wchar_t*) override { return Hook(m, cap, dependency); }
    static int Hook(wchar_t* message, int capacity, size_t n)
    {
        if (n == 0)
            return 1;
        wmemset(message, L'm', n);
        if (n < static_cast<size_t>(capacity))
            message[n] = L'\0';
        return 0;
    }
};

void Guard(wchar_t* cells, size_t count) { wmemset(cells, kGuard, count); }

void ExpectGuarded(const wchar_t* cells, size_t from, size_t to, const char* what)
{
    for (size_t i = from; i < to; ++i) {
        if (cells[i] != kGuard) {
            ADD_FAILURE() << what << ": cell " << i << " overwritten";
            return;
        }
    }
}

std::wstring Pad(size_t n, wchar_t c = L'x') { return std::wstring(n, c); }

// "%SystemDrive%\..." whose expansion ("C:\...") is exactly n characters.
std::wstring ExpandsTo(size_t n) { return L"%SystemDrive%\\" + Pad(n - 3, L'e'); }

void ReadPackage(CBaseComponent& c, const std::wstring& body)
{
    ASSERT_TRUE(zoltest::WriteUtf8(L"qxli.xml", L"<zol_package>" + body + L"</zol_package>"));
    ASSERT_EQ(c.ReadPackageDefinition(L"qxli.xml"), 0);
}

void ReadInstaller(CBaseComponent& c, const std::wstring& body)
{
    ASSERT_TRUE(zoltest::WriteUtf8(L"install.xml", L"<zol_install>" + body + L"</zol_install>"));
    ASSERT_EQ(c.ReadInstallerXml(L"install.xml"), 0);
}

// A getter with a caller buffer of `capacity` cells (followed by guard cells):
// the text is copied whole when it is shorter than the capacity; otherwise the
// result is 0 and nothing is written, except that `clearsOnFailure` getters
// leave an empty string.
void ExpectGetter(const std::function<int(wchar_t*, int)>& get, const std::wstring& text, int capacity,
                  bool clearsOnFailure = false)
{
    std::vector<wchar_t> cells(static_cast<size_t>(capacity) + 32);
    Guard(cells.data(), cells.size());
    const bool fits = text.size() < static_cast<size_t>(capacity);
    EXPECT_EQ(get(cells.data(), capacity), fits ? 1 : 0);
    if (fits) {
        EXPECT_EQ(std::wstring(cells.data()), text);
    } else if (clearsOnFailure) {
        EXPECT_EQ(cells[0], L'\0');
    }
    size_t from = fits ? text.size() + 1 : clearsOnFailure ? static_cast<size_t>(capacity) : 0;
    ExpectGuarded(cells.data(), from, cells.size(), "caller buffer");
}

// A path of exactly n characters below dir; every directory on the way exists.
std::wstring LongPath(const std::wstring& dir, size_t n, const std::wstring& ext)
{
    std::wstring path = dir;
    while (n - path.size() - 1 > 200) {
        path += L"\\" + Pad(150, L'd');
        CreateDirectoryW((L"\\\\?\\" + path).c_str(), nullptr);
    }
    return path + L"\\" + Pad(n - path.size() - 1 - ext.size(), L'f') + ext;
}

std::wstring InfWith(const std::wstring& lines)
{
    return L"[Version]\r\nSignature=\"$Windows NT$\"\r\nClass=System\r\n"
           L"ClassGUID={4D36E97D-E325-11CE-BFC1-08002BE10318}\r\n" + lines;
}

// The ShellExecute "file" or "DefaultDir": a prior value stays unless the
// whole expansion fits; the member after each stays untouched.
void ShellExecuteField(size_t n, bool fits, bool file)
{
    Probe c;
    wchar_t* field = file ? c.m_szShellExecuteFile : c.m_szShellExecuteDir;
    Guard(c.m_szShellExecuteFile, MAX_PATH);
    Guard(c.m_szShellExecuteDir, MAX_PATH);
    wcscpy(field, L"C:\\prior");
    c.SetSilentCapable(0x5A5A5A5A);
    std::wstring text = ExpandsTo(n);
    ReadInstaller(c, L"<ShellExecute><ShellExecute_Info " + std::wstring(file ? L"file" : L"DefaultDir") +
                         L"='" + text + L"'/></ShellExecute>");
    std::wstring expected = fits ? L"C:\\" + text.substr(14) : L"C:\\prior";
    EXPECT_EQ(std::wstring(field), expected);
    if (!fits)
        ExpectGuarded(field, expected.size() + 1, MAX_PATH, "member tail");
    ExpectGuarded(file ? c.m_szShellExecuteDir : c.m_szShellExecuteFile, 0, MAX_PATH, "other member");
    EXPECT_EQ(c.IsSilentCapable(), 0x5A5A5A5A);
}

// Property 5 with a hook message of n characters: cut to the record's 1023
// characters, terminated, and nothing written past the record.
void PrereqMessage(size_t n, bool dependencyHook)
{
    Probe c;
    (dependencyHook ? c.dependency : c.additional) = n;
    struct {
        PREREQSTATUS status;
        wchar_t guard[32];
    } record;
    memset(&record, 0xCD, sizeof(record));
    ASSERT_EQ(c.GetProperty(5, &record.status, sizeof(PREREQSTATUS), const_cast<wchar_t*>(L"en")), 1);
    EXPECT_EQ(record.status.nStatus, dependencyHook ? STATUS_NOT_APPLICABLE : STATUS_CANNOT_INSTALL);
    EXPECT_EQ(std::wstring(record.status.szMessage), Pad(n < 1024 ? n : 1023, L'm'));
    ExpectGuarded(record.guard, 0, 32, "after the record");
}

struct Row {
    const char* name;
    size_t limit; // the longest text that fits
    size_t beyond; // a length far past the limit
    void (*run)(size_t n, bool fits, const std::wstring& dir);
};

const Row kRows[] = {
    // "filename": the extension (last four characters) is cut, then at most
    // 127 characters are kept; the next member keeps its content.
    {"PackageFileName", 131, 5000, [](size_t n, bool, const std::wstring&) {
         Probe c;
         Guard(c.m_szShellExecuteFile, MAX_PATH);
         std::wstring text = L"qx" + Pad(n - 6) + L".exe";
         ReadPackage(c, L"<filename>" + text + L"</filename>");
         EXPECT_EQ(std::wstring(c.m_szPackageFileName), text.substr(0, n - 4 < 127 ? n - 4 : 127));
         ExpectGuarded(c.m_szShellExecuteFile, 0, MAX_PATH, "next member");
     }},
    // "platform": cut to 63 characters; the record and its other fields stay.
    {"SupportedOsPlatform", 63, 5000, [](size_t n, bool, const std::wstring&) {
         Probe c;
         ReadPackage(c, L"<prerequisites><supported_operating_systems><supported_operating_system platform='" +
                            Pad(n, L'p') + L"' major='5' minor='2'/></supported_operating_systems></prerequisites>");
         ASSERT_EQ(c.GetSupportedOperatingSystems().size(), 1u);
         const SUPPORTEDOS& os = c.GetSupportedOperatingSystems()[0];
         EXPECT_EQ(std::wstring(os.szPlatform), Pad(n < 64 ? n : 63, L'p'));
         EXPECT_EQ((std::vector<int>{os.nMajor, os.nMinor, os.nServicePack, os.wEdition}),
                   (std::vector<int>{5, 2, -1, 0xFFFF}));
     }},
    // A device code over 255 characters skips that device only.
    {"DeviceCode", 255, 70000, [](size_t n, bool fits, const std::wstring&) {
         Probe c;
         auto device = [](const wchar_t* type, const std::wstring& id) {
             return L"<supported_devices_and><supported_device type='" + std::wstring(type) +
                    L"'><supported_device_data name='id'>" + id +
                    L"</supported_device_data></supported_device></supported_devices_and>";
         };
         ReadPackage(c, L"<prerequisites><supported_devices>" + device(L"pnp", Pad(n, L'D')) +
                            device(L"eisa", L"PNP0A03") + L"</supported_devices></prerequisites>");
         std::vector<std::wstring> ids;
         for (const CStr& id : c.GetSupportedHardwareIds())
             ids.push_back(id.GetString());
         std::vector<std::wstring> expected{L"*PNP0A03"};
         if (fits)
             expected.insert(expected.begin(), Pad(n, L'D'));
         EXPECT_EQ(ids, expected);
     }},
    // A key-file candidate whose expanded path exceeds 259 characters is
    // skipped: the next candidate becomes the fallback.
    {"KeyFilePath", 259, 5000, [](size_t n, bool fits, const std::wstring&) {
         Probe c;
         auto candidate = [](const std::wstring& name, const std::wstring& dir) {
             return L"<sw_keys_and><sw_key name='" + name + L"'><sw_key_expectedpath>" + dir +
                    L"</sw_key_expectedpath></sw_key></sw_keys_and>";
         };
         std::wstring dir = ExpandsTo(n - 8);
         ReadPackage(c, L"<sw_keys>" + candidate(L"key.dll", dir) + candidate(L"second.dll", L"C:\\li") +
                            L"</sw_keys>");
         std::wstring expected = fits ? L"C:\\" + dir.substr(14) + L"\\key.dll" : L"C:\\li\\second.dll";
         EXPECT_EQ(std::wstring(c.GetInstalledFilePath().GetString()), expected);
     }},
    {"ShellExecuteFile", 259, 5000, [](size_t n, bool fits, const std::wstring&) { ShellExecuteField(n, fits, true); }},
    {"ShellExecuteDir", 259, 5000, [](size_t n, bool fits, const std::wstring&) { ShellExecuteField(n, fits, false); }},
    // Getters with caller buffers of 64 characters.
    {"GetPackageName", 63, 70000, [](size_t n, bool, const std::wstring&) {
         Probe c;
         ReadPackage(c, L"<name><name_xlate lang='en'>" + Pad(n, L'N') + L"</name_xlate></name>");
         ExpectGetter([&](wchar_t* b, int cap) { return c.GetPackageName(b, cap, L"fr"); }, Pad(n, L'N'), 64);
     }},
    {"GetPackageDescription", 63, 70000, [](size_t n, bool, const std::wstring&) {
         Probe c;
         ReadPackage(c, L"<description><description_xlate lang='en'><![CDATA[" + Pad(n, L'D') +
                            L"]]></description_xlate></description>");
         ExpectGetter([&](wchar_t* b, int cap) { return c.GetPackageDescription(b, cap, L"en"); }, Pad(n, L'D'), 64);
     }},
    {"GetPackageVersion", 63, 70000, [](size_t n, bool, const std::wstring&) {
         Probe c;
         ReadPackage(c, L"<version value='" + Pad(n, L'9') + L"'/>");
         ExpectGetter([&](wchar_t* b, int cap) { return c.GetPackageVersion(b, cap); }, Pad(n, L'9'), 64);
     }},
    // The package definition's file name, into a buffer of 64 characters;
    // file names end at 255 characters, so "far" stays below that.
    {"FindPackageDefinitionFile", 63, 250, [](size_t n, bool, const std::wstring& dir) {
         Probe c;
         std::wstring name = L"qx" + Pad(n - 6) + L".xml";
         ASSERT_TRUE(zoltest::WriteUtf8(dir + L"\\" + name, L"<zol_package/>"));
         ExpectGetter([&](wchar_t* b, int cap) { return c.FindPackageDefinitionFile(b, cap); }, name, 64);
     }},
    // The installed version text is always 23 characters here; the buffer
    // shrinks instead (n = 23 gives 24 cells, n = 24 gives 23, far gives 2).
    {"GetInstalledVersion", 23, 45, [](size_t n, bool, const std::wstring&) {
         Probe c;
         c.SetInstalledFilePath(zoltest::BinPath(L"ver_65535_65535_65535_65535.dll").c_str());
         ExpectGetter([&](wchar_t* b, int cap) { return c.GetInstalledVersion(b, cap); },
                      L"65535.65535.65535.65535", static_cast<int>(47 - n));
     }},
    {"PrereqMessageFromRequirements", 1023, 4095,
     [](size_t n, bool, const std::wstring&) { PrereqMessage(n, false); }},
    {"PrereqMessageFromDependencies", 1023, 4095,
     [](size_t n, bool, const std::wstring&) { PrereqMessage(n, true); }},
    // CInf: the service name into the caller's 260 characters.
    {"InfServiceName", 259, 5000, [](size_t n, bool, const std::wstring& dir) {
         std::wstring path = dir + L"\\svc.inf", name = Pad(n, L's');
         ASSERT_TRUE(zoltest::WriteUtf8(path, InfWith(L"[Svc.Services]\r\nAddService=" + name + L",2,Svc.Install\r\n")));
         CInf inf(path.c_str());
         ASSERT_EQ(inf.IsOpen(), 1);
         ExpectGetter([&](wchar_t* b, int cap) { return inf.GetServiceName(nullptr, b, cap); }, name, MAX_PATH, true);
     }},
    // The service-install section named by an "AddService" line: at most 255
    // characters are read. A longer name finds no start type, not even in a
    // section named by its first 255 characters (section headers longer than
    // that make the platform's parser refuse the whole file).
    {"InfServiceInstallSection", 255, 5000, [](size_t n, bool fits, const std::wstring& dir) {
         std::wstring path = dir + L"\\sec.inf", section = Pad(n, L'S');
         ASSERT_TRUE(zoltest::WriteUtf8(path, InfWith(L"[Svc.Services]\r\nAddService=Svc,2," + section + L"\r\n[" +
                                                       section.substr(0, 255) + L"]\r\nStartType=3\r\n")));
         CInf inf(path.c_str());
         ASSERT_EQ(inf.IsOpen(), 1);
         int start = -7;
         EXPECT_EQ(inf.GetServiceStartType(nullptr, &start), fits ? 1 : 0);
         EXPECT_EQ(start, fits ? 3 : -7);
     }},
    // A "Version" line of 4095 characters (fields of at most 500, below the
    // parser's field cap): a longer line is unreadable, and "ClassGUID" after
    // it is not read either.
    {"InfVersionLine", 4095, 20000, [](size_t n, bool fits, const std::wstring& dir) {
         std::wstring path = dir + L"\\ver.inf", line;
         for (size_t i = 0; line.size() < n; ++i)
             line += (i ? L"," : L"") + Pad(std::min<size_t>(500, n - line.size() - (i ? 1 : 0)), L'c');
         ASSERT_TRUE(line.size() == n && line.back() == L'c');
         ASSERT_TRUE(zoltest::WriteUtf8(path, L"[Version]\r\nSignature=\"$Windows NT$\"\r\nClass=" + line +
                                                   L"\r\nClassGUID={4D36E97D-E325-11CE-BFC1-08002BE10318}\r\n"));
         CInf inf(path.c_str());
         ASSERT_EQ(inf.IsOpen(), 1);
         EXPECT_STREQ(inf.GetSignature(), L"$Windows NT$");
         EXPECT_EQ(inf.GetClass() ? std::wstring(inf.GetClass()) : L"<null>", fits ? line : L"<null>");
         EXPECT_EQ(inf.GetClassGuid() == nullptr, !fits);
     }},
    // A "DestinationDirs" text piece of at most 260 characters.
    {"InfDestinationPiece", 260, 5000, [](size_t n, bool fits, const std::wstring& dir) {
         std::wstring path = dir + L"\\dest.inf", piece = L"C:\\" + Pad(n - 3, L'p');
         ASSERT_TRUE(zoltest::WriteUtf8(path, InfWith(L"[DestinationDirs]\r\nDefaultDestDir=" + piece + L"\r\n")));
         CInf inf(path.c_str());
         ASSERT_EQ(inf.ReadDestinationDirs(), fits ? 1 : 0);
         CStr out(L"stale");
         EXPECT_EQ(inf.GetDestinationDir(L"Any", &out), fits ? 1 : 0);
         EXPECT_EQ(std::wstring(out.GetString()), fits ? piece : L"");
     }},
    // The INF path itself: over 259 characters the object stays closed. (The
    // prefix's own path and the host's path limit keep "far" at 2000.)
    {"InfPath", 259, 2000, [](size_t n, bool fits, const std::wstring& dir) {
         std::wstring path = LongPath(dir, n, L".inf");
         ASSERT_EQ(path.size(), n);
         ASSERT_TRUE(zoltest::WriteUtf8(L"\\\\?\\" + path, InfWith(L"[S.Services]\r\nAddService=LongSvc,2,S.I\r\n")));
         CInf inf(path.c_str());
         EXPECT_EQ(inf.IsOpen(), fits ? 1 : 0);
         EXPECT_EQ(std::wstring(inf.GetInfPath().GetString()), fits ? path : L"");
         wchar_t name[MAX_PATH] = L"stale";
         EXPECT_EQ(inf.GetServiceName(nullptr, name, MAX_PATH), fits ? 1 : 0);
         EXPECT_STREQ(name, fits ? L"LongSvc" : L"");
     }},
    // Log messages of any length reach both logs whole.
    {"LogMessage", 1023, 70000, [](size_t n, bool, const std::wstring& dir) {
         CCmpLog log(L"li.log", (dir + L"\\").c_str());
         log.SetVerbose(1);
         size_t mainBefore = zoltest::ReadBytes(zoltest::MainLogPath()).size();
         ASSERT_EQ(log.Open(), 0);
         std::wstring message = Pad(n - 2, L'L') + L"\r\n";
         log.WriteLine(LOG_BOTH, SEV_INFO, L".\\Source\\li.cpp", 7, L"%s", message.c_str());
         log.Close();
         std::string narrow(message.begin(), message.end());
         EXPECT_EQ(zoltest::ReadBytes(zoltest::MainLogPath()).substr(mainBefore), narrow);
         std::string verbose = zoltest::ReadBytes(dir + L"\\li.log");
         size_t prefix = verbose.find("]::li.cpp[7] ");
         ASSERT_NE(prefix, std::string::npos);
         EXPECT_EQ(verbose.substr(prefix + 13), narrow);
     }},
    // The verbose log's directory must expand to at most 259 characters;
    // otherwise the log records the error and has no verbose record.
    {"LogDirectory", 259, 5000, [](size_t n, bool fits, const std::wstring&) {
         CCmpLog log(L"li.log", ExpandsTo(n).c_str());
         EXPECT_EQ(log.GetError(), fits ? 0 : LOG_ERR_PATH_TOO_LONG);
         EXPECT_EQ(log.GetRecordCount(), fits ? 2u : 1u);
         const wchar_t* verboseDir = log.GetVerboseLogDir();
         EXPECT_EQ(verboseDir ? wcslen(verboseDir) : 0, fits ? n : 0);
         // The directory and the name together exceed a path: opening fails
         // with the open error, nothing is written anywhere.
         log.SetVerbose(1);
         EXPECT_EQ(log.Open(), fits ? LOG_ERR_OPEN : 0);
         log.WriteLine(LOG_BOTH, SEV_ERROR, L"li.cpp", 1, L"%s", L"long log directory\r\n");
         log.Close();
     }},
    // The verbose log's file name is cut to 255 characters.
    {"LogFileName", 255, 70000, [](size_t n, bool, const std::wstring& dir) {
         CCmpLog log(Pad(n, L'n').c_str(), (dir + L"\\").c_str());
         EXPECT_EQ(log.GetError(), 0);
         EXPECT_EQ(std::wstring(log.GetVerboseLogName()), Pad(n < 256 ? n : 255, L'n'));
     }},
    // Language codes: only the whole code "ja" selects Japanese; longer codes
    // that start with it select English, in process and through the host.
    {"LanguageCode", 2, 20000, [](size_t n, bool fits, const std::wstring& dir) {
         std::wstring code = L"ja" + Pad(n - 2, L'a');
         EXPECT_EQ(CBaseComponent::GetLanguageColumn(code.c_str()), fits ? LANG_COL_JAPANESE : LANG_COL_ENGLISH);
         const int column = fits ? LANG_COL_JAPANESE : LANG_COL_ENGLISH;
         Probe c;
         wchar_t message[256];
         Guard(message, 256);
         EXPECT_EQ(c.Install(0, nullptr, message, 0, code.c_str()), 0);
         std::wstring expected = GetMessageText(MSG_UNKNOWN_INF_TYPE, column);
         EXPECT_EQ(std::wstring(message), expected);
         ExpectGuarded(message, expected.size() + 1, 256, "install message");
         c.os = 0;
         PREREQSTATUS status;
         ASSERT_EQ(c.CheckPrerequisites(&status, sizeof(status), code.c_str()), 1);
         EXPECT_EQ(std::wstring(status.szMessage), GetMessageText(MSG_OS_NOT_SUPPORTED, column));
         if (n < 1000) // through the host too, once
             return;
         ASSERT_TRUE(zoltest::CopyTree(zoltest::ExamplePath(L"chipset"), dir));
         zoltest::ProcessResult r = zoltest::RunHost(dir, L"--check --json --lang " + code);
         EXPECT_EQ(r.exitCode, 0u) << r.output.substr(0, 2000);
         EXPECT_NE(r.output.find("\"1\":{\"result\":1,\"value\":\"Server Chipset Device Driver\"}"), std::string::npos);
     }},
};

class LongInput : public ::testing::TestWithParam<Row>
{
protected:
    void TearDown() override { SetCurrentDirectoryW(L"C:\\"); }
};

TEST_P(LongInput, AtLimitOnePastAndFarPast)
{
    const Row& row = GetParam();
    for (size_t n : {row.limit, row.limit + 1, row.beyond}) {
        SCOPED_TRACE(std::string(row.name) + " with " + std::to_string(n) + " characters");
        std::wstring dir = zoltest::MakeTestDir(L"li_" + zoltest::FromUtf8(row.name) + L"_" + std::to_wstring(n));
        ASSERT_TRUE(SetCurrentDirectoryW(dir.c_str()));
        row.run(n, n <= row.limit, dir);
    }
}

INSTANTIATE_TEST_SUITE_P(Fields, LongInput, ::testing::ValuesIn(kRows),
                         [](const ::testing::TestParamInfo<Row>& info) { return std::string(info.param.name); });

// The platform's INF parser cuts long fields and keys at a fixed length and
// refuses a file whose section header is too long; both are measured here,
// not assumed. The table's INF limits all lie below the field cap, so they are
// the component's own limits at work.
TEST(LongInputPlatform, InfFieldCap)
{
    std::wstring dir = zoltest::MakeTestDir(L"li_infcap"), path = dir + L"\\cap.inf";
    ASSERT_TRUE(zoltest::WriteUtf8(path, InfWith(L"[S]\r\nK=" + Pad(5000, L'f') + L"\r\n" + Pad(5000, L'k') + L"=v\r\n")));
    CUniqueInf inf(SetupOpenInfFileW(path.c_str(), nullptr, INF_STYLE_WIN4, nullptr));
    ASSERT_TRUE(inf.valid());
    INFCONTEXT context;
    ASSERT_TRUE(SetupFindFirstLineW(inf.get(), L"S", L"K", &context));
    std::vector<wchar_t> field(8192, L'\0');
    ASSERT_TRUE(SetupGetStringFieldW(&context, 1, field.data(), 8192, nullptr));
    size_t cap = wcslen(field.data());
    EXPECT_GT(cap, 260u);
    EXPECT_EQ(std::wstring(field.data()), Pad(cap, L'f'));
    ASSERT_TRUE(SetupFindNextLine(&context, &context));
    ASSERT_TRUE(SetupGetStringFieldW(&context, 0, field.data(), 8192, nullptr));
    std::cout << "INF field cap: " << cap << ", key cap: " << wcslen(field.data()) << " characters\n";
    for (size_t n : {255, 256, 5000}) {
        std::wstring sectionPath = dir + L"\\sec" + std::to_wstring(n) + L".inf";
        ASSERT_TRUE(zoltest::WriteUtf8(sectionPath, InfWith(L"[" + Pad(n, L's') + L"]\r\nK=v\r\n")));
        UINT errorLine = 0;
        CUniqueInf sections(SetupOpenInfFileW(sectionPath.c_str(), nullptr, INF_STYLE_WIN4, &errorLine));
        DWORD error = sections.valid() ? 0 : GetLastError();
        std::cout << "INF section header of " << n << " characters: " << (sections.valid() ? "opens" : "refused")
                  << " (error 0x" << std::hex << error << std::dec << ", line " << errorLine << ")\n";
        EXPECT_EQ(sections.valid(), n <= 255);
    }
}

} // namespace
