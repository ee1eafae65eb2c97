// CInf reading: opening, the "Version" identity, section lists, service
// lines and destination directories, on real INF files read by the
// platform's SetupAPI.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "inf/inf.h"
#include "inf/infsourcelayout.h"
#include "inf/infutil.h"
#include "testsupport.h"

namespace {

std::wstring WriteInf(const std::wstring& dir, const std::wstring& name, const std::wstring& text)
{
    std::wstring path = dir + L"\\" + name;
    EXPECT_TRUE(zoltest::WriteUtf8(path, text));
    return path;
}

std::wstring Env(const wchar_t* name)
{
    wchar_t buffer[1024] = {};
    GetEnvironmentVariableW(name, buffer, 1024);
    return buffer;
}

std::wstring DestDir(CInf& inf, const wchar_t* section)
{
    CStr out(L"stale");
    int ok = inf.GetDestinationDir(section, &out);
    return ok ? std::wstring(out.GetString()) : L"<none:" + std::wstring(out.GetString()) + L">";
}

std::wstring Names(const CStrList& list)
{
    std::wstring all;
    for (const CStr& s : list)
        all += std::wstring(s.GetString()) + L"|";
    return all;
}

const wchar_t kVersionFull[] =
    L"[Version]\r\nSignature=\"$Windows NT$\"\r\nClass=System\r\n"
    L"ClassGUID={4D36E97D-E325-11CE-BFC1-08002BE10318}\r\n";

} // namespace

TEST(InfRead, OpensAndReadsVersionIdentity)
{
    std::wstring dir = zoltest::MakeTestDir(L"inf_version");
    std::wstring path = WriteInf(dir, L"full.inf", kVersionFull);
    CInf inf(path.c_str());
    ASSERT_EQ(inf.IsOpen(), 1);
    EXPECT_EQ(std::wstring(inf.GetInfPath().GetString()), path);
    EXPECT_EQ(std::wstring(inf.GetInfDir().GetString()), dir + L"\\");
    EXPECT_STREQ(inf.GetSignature(), L"$Windows NT$");
    EXPECT_STREQ(inf.GetClass(), L"System");
    EXPECT_STREQ(inf.GetClassGuid(), L"{4D36E97D-E325-11CE-BFC1-08002BE10318}");
    EXPECT_EQ(inf.ReadVersion(), 1);
    EXPECT_EQ(inf.IsRebootNeeded(), 0);
    EXPECT_EQ(inf.IsVirtual(), 0);

    // Each key is read only after the one before it.
    CInf noClass(WriteInf(dir, L"noclass.inf",
                          L"[Version]\r\nSignature=\"$Windows NT$\"\r\n"
                          L"ClassGUID={4D36E97D-E325-11CE-BFC1-08002BE10318}\r\n").c_str());
    ASSERT_EQ(noClass.IsOpen(), 1);
    EXPECT_STREQ(noClass.GetSignature(), L"$Windows NT$");
    EXPECT_EQ(noClass.GetClass(), nullptr);
    EXPECT_EQ(noClass.GetClassGuid(), nullptr);

    // The Windows 4 style does not open an INF without a signature.
    CInf noSignature(WriteInf(dir, L"nosig.inf", L"[Version]\r\nClass=System\r\nClassGUID={X}\r\n").c_str());
    EXPECT_EQ(noSignature.IsOpen(), 0);
    EXPECT_EQ(noSignature.GetClass(), nullptr);
}

TEST(InfRead, MissingInfIsClosedAndEmpty)
{
    std::wstring dir = zoltest::MakeTestDir(L"inf_missing");
    CInf inf((dir + L"\\absent.inf").c_str());
    EXPECT_EQ(inf.IsOpen(), 0);
    EXPECT_EQ(inf.GetSignature(), nullptr);
    EXPECT_TRUE(inf.GetCopyFilesSections().empty());
    EXPECT_TRUE(inf.GetAddServiceSections().empty());
    EXPECT_TRUE(inf.GetSoftwareSettingsSections().empty());
    EXPECT_EQ(inf.ReadVersion(), 0);
    EXPECT_EQ(inf.ReadDestinationDirs(), 0);
    EXPECT_EQ(inf.ProcessCopyFiles(L"Install"), 0);
    wchar_t name[64] = L"x";
    EXPECT_EQ(inf.GetServiceName(nullptr, name, 64), 0);
    EXPECT_STREQ(name, L"");

    // A path longer than the engine's path limit leaves the object closed.
    std::wstring longPath = dir + L"\\" + std::wstring(300, L'a') + L".inf";
    CInf tooLong(longPath.c_str());
    EXPECT_EQ(tooLong.IsOpen(), 0);
    EXPECT_TRUE(tooLong.GetInfPath().IsEmpty());
    CInf empty(L"");
    EXPECT_EQ(empty.IsOpen(), 0);
}

TEST(InfRead, RelativePathIsFixedAtConstruction)
{
    std::wstring dir = zoltest::MakeTestDir(L"inf_relative");
    WriteInf(dir, L"rel.inf", kVersionFull);
    wchar_t previous[MAX_PATH] = {};
    GetCurrentDirectoryW(MAX_PATH, previous);
    ASSERT_TRUE(SetCurrentDirectoryW(dir.c_str()));
    CInf inf(L"rel.inf");
    ASSERT_TRUE(SetCurrentDirectoryW(L"C:\\"));
    EXPECT_EQ(inf.IsOpen(), 1);
    EXPECT_EQ(std::wstring(inf.GetInfPath().GetString()), dir + L"\\rel.inf");
    EXPECT_EQ(std::wstring(inf.GetInfDir().GetString()), dir + L"\\");
    SetCurrentDirectoryW(previous);
}

TEST(InfRead, CollectsSectionsInFileOrder)
{
    std::wstring dir = zoltest::MakeTestDir(L"inf_sections");
    std::wstring path = WriteInf(dir, L"sections.inf",
        std::wstring(kVersionFull) +
        L"[Second]\r\nCopyFiles=Files\r\n"
        L"[First]\r\nAddReg=Reg\r\nCopyFiles=Files\r\n"
        L"[Svc.Services]\r\nAddService=MySvc,0x2,MySvc_Install\r\n"
        L"[Other.Services]\r\nAddService=Second,0x2,Second_Install\r\n"
        L"[MySvc_Install]\r\nServiceType=1\r\nStartType=3\r\n"
        L"[Second_Install]\r\nServiceType=1\r\n"
        L"[Drv.SoftwareSettings]\r\nAddReg=Reg\r\n"
        L"[x.SOFTWARESETTINGS.extra]\r\n"
        L"[SoftwareSettings]\r\nAddReg=Reg\r\n"
        L"[Pre.softwaresettings]\r\n"
        L"[Files]\r\na.sys\r\n");
    CInf inf(path.c_str());
    ASSERT_EQ(inf.IsOpen(), 1);
    EXPECT_EQ(Names(inf.GetCopyFilesSections()), L"Second|First|");
    EXPECT_EQ(Names(inf.GetAddServiceSections()), L"Svc.Services|Other.Services|");
    EXPECT_EQ(Names(inf.GetSoftwareSettingsSections()),
              L"Drv.SoftwareSettings|x.SOFTWARESETTINGS.extra|Pre.softwaresettings|");

    wchar_t name[64] = {};
    EXPECT_NE(inf.GetServiceName(nullptr, name, 64), 0);
    EXPECT_STREQ(name, L"MySvc");
    EXPECT_NE(inf.GetServiceName(L"Other.Services", name, 64), 0);
    EXPECT_STREQ(name, L"Second");
    // Too small a buffer stores nothing.
    EXPECT_EQ(inf.GetServiceName(nullptr, name, 5), 0);
    EXPECT_STREQ(name, L"");
    EXPECT_EQ(inf.GetServiceName(L"First", name, 64), 0);

    int start = -1;
    EXPECT_EQ(inf.GetServiceStartType(nullptr, &start), 1);
    EXPECT_EQ(start, 3);
    EXPECT_EQ(inf.GetServiceStartType(L"Other.Services", &start), 0); // no StartType line
    EXPECT_EQ(inf.GetServiceStartType(L"First", &start), 0);
}

TEST(InfRead, SectionNamesAreReadWholeAndACutNameIsNeverTaken)
{
    // More than 16384 characters of names: the list is read whole. Read
    // with room for 16384 only, the profile reader fills 16382 characters
    // and cuts the name that does not fit. The names are laid out so that
    // the cut leaves "Cut", the name of a real section: a cut name must not
    // be taken for it. "Version" and "Cut" take 12 characters, 399 names of
    // 40 take 16359, "Filler7" 8: the last name starts at 16379 and keeps 3.
    std::wstring dir = zoltest::MakeTestDir(L"inf_manysections");
    std::wstring text = std::wstring(kVersionFull) + L"[Cut]\r\nCopyFiles=Files\r\n";
    auto filler = [](int i) {
        wchar_t name[64];
        wsprintfW(name, L"F%022d.SoftwareSettings", i);
        return std::wstring(name);
    };
    for (int i = 0; i < 399; ++i)
        text += L"[" + filler(i) + L"]\r\nAddReg=Reg\r\n";
    text += L"[Filler7]\r\n[CutAndMore]\r\nCopyFiles=Files\r\n";
    for (int i = 399; i < 450; ++i)
        text += L"[" + filler(i) + L"]\r\nCopyFiles=Files\r\n";
    std::wstring path = WriteInf(dir, L"many.inf", text);
    CInf inf(path.c_str());
    ASSERT_EQ(inf.IsOpen(), 1);
    const CStrList& copies = inf.GetCopyFilesSections();
    ASSERT_EQ(copies.size(), 53u);
    EXPECT_EQ(std::wstring(copies[0].GetString()) + L"|" + copies[1].GetString(), L"Cut|CutAndMore");
    EXPECT_EQ(std::wstring(copies.back().GetString()), filler(449));
    const CStrList& settings = inf.GetSoftwareSettingsSections();
    ASSERT_EQ(settings.size(), 450u);
    EXPECT_EQ(std::wstring(settings.back().GetString()), filler(449));

    CStrList cut = infutil::ReadSectionNames(path.c_str(), 0x4000);
    ASSERT_EQ(cut.size(), 402u);
    EXPECT_EQ(std::wstring(cut[1].GetString()), L"Cut");
    EXPECT_EQ(std::wstring(cut.back().GetString()), L"Filler7");
}

TEST(InfRead, DestinationDirsRouteBySectionKey)
{
    std::wstring dir = zoltest::MakeTestDir(L"inf_dest");
    std::wstring root = Env(L"SystemRoot");
    // One line serves every section, whatever its key.
    CInf one(WriteInf(dir, L"one.inf", std::wstring(kVersionFull) + L"[DestinationDirs]\r\nSomeList=11\r\n").c_str());
    ASSERT_EQ(one.ReadDestinationDirs(), 1);
    EXPECT_EQ(DestDir(one, L"Anything"), root + L"\\system32");
    EXPECT_EQ(Names(one.GetDestinationDirs()), L"SomeList|" + root + L"\\system32|");

    // With more lines the exact key wins, then "DefaultDestDir", else none.
    CInf two(WriteInf(dir, L"two.inf", std::wstring(kVersionFull) +
                                           L"[DestinationDirs]\r\nDrv.Files=12\r\nDefaultDestDir=11\r\n").c_str());
    ASSERT_EQ(two.ReadDestinationDirs(), 1);
    EXPECT_EQ(DestDir(two, L"Drv.Files"), root + L"\\system32\\drivers");
    EXPECT_EQ(DestDir(two, L"drv.files"), root + L"\\system32");
    EXPECT_EQ(DestDir(two, L"Other"), root + L"\\system32");
    CInf neither(WriteInf(dir, L"neither.inf", std::wstring(kVersionFull) +
                                                   L"[DestinationDirs]\r\nA=12\r\nB=11\r\n").c_str());
    ASSERT_EQ(neither.ReadDestinationDirs(), 1);
    EXPECT_EQ(DestDir(neither, L"C"), L"<none:>");
}

TEST(InfRead, DestinationLinesBuildDirectories)
{
    std::wstring dir = zoltest::MakeTestDir(L"inf_dest_build");
    std::wstring root = Env(L"SystemRoot");
    std::wstring longText(300, L'x');
    CInf inf(WriteInf(dir, L"build.inf", std::wstring(kVersionFull) +
        L"[DestinationDirs]\r\n"
        L"Unknown=99\r\n"             // no directory: skipped
        L"UnknownThenText=99,sub\r\n" // would be relative: skipped
        L"Sub=11,sub\r\n"
        L"Slash=10,\\inf\r\n"
        L"Late=sub,11\r\n"            // a relative text, then an id with its drive: refused
        L"Text=C:\\target\\dir\r\n"
        L"Dots=11,a\\..\\..\r\n"       // refused: a ".." part
        L"TextDots=C:\\target\\.\r\n"  // refused: a "." part
        L"TooLong=" + longText + L"\r\n").c_str());
    ASSERT_EQ(inf.ReadDestinationDirs(), 1);
    // A refused line keeps its key with no directory: its lists fail rather
    // than fall back to the default line.
    EXPECT_EQ(Names(inf.GetDestinationDirs()),
              L"Sub|" + root + L"\\system32\\sub|Slash|" + root + L"\\inf|Late||Text|C:\\target\\dir|Dots||TextDots||");
    CStr refused(L"stale");
    EXPECT_EQ(inf.GetDestinationDir(L"Dots", &refused), 0);
    EXPECT_TRUE(refused.IsEmpty());
    EXPECT_EQ(Names(inf.GetFailures()), L"Unsafe folder name in package: sub|Unsafe folder name in package: a\\..\\..|"
                                        L"Unsafe folder name in package: C:\\target\\.|");

    CInf only99(WriteInf(dir, L"only99.inf", std::wstring(kVersionFull) +
                                                 L"[DestinationDirs]\r\nDefaultDestDir=99\r\n").c_str());
    EXPECT_EQ(only99.ReadDestinationDirs(), 0);
    CStr out(L"stale");
    EXPECT_EQ(only99.GetDestinationDir(L"Any", &out), 0);
    EXPECT_TRUE(out.IsEmpty());

    CInf none(WriteInf(dir, L"none.inf", kVersionFull).c_str());
    EXPECT_EQ(none.ReadDestinationDirs(), 0);
}

TEST(InfRead, DirectoryIdsFollowTheEnvironment)
{
    struct Row { int id; std::wstring expected; };
    std::wstring root = Env(L"SystemRoot"), all = Env(L"ALLUSERSPROFILE"), pf = Env(L"ProgramFiles");
    ASSERT_FALSE(root.empty());
    const Row rows[] = {
        {10, root}, {11, root + L"\\system32"}, {12, root + L"\\system32\\drivers"}, {17, root + L"\\inf"},
        {18, root + L"\\help"}, {20, root + L"\\fonts"}, {24, Env(L"SystemDrive")}, {50, root + L"\\system"},
        {0x4016, all}, {0x4017, all + L"\\Start Menu\\Programs"}, {0x4018, all + L"\\Start Menu\\Programs\\Startup"},
        {0x4019, all + L"\\Desktop"}, {0x401F, all + L"\\Favorites"}, {0x4023, all + L"\\Application Data"},
        {0x4026, pf}, {0x402B, pf + L"\\Common"},
        {13, L""}, {14, L""}, {15, L""}, {16, L""}, {19, L""}, {21, L""}, {22, L""}, {23, L""},
        {0, L""}, {-1, L""}, {99, L""}, {0x4020, L""},
    };
    std::wstring dir = zoltest::MakeTestDir(L"inf_ids");
    CInf inf(WriteInf(dir, L"ids.inf", kVersionFull).c_str());
    for (const Row& row : rows) {
        CStr out(L"stale");
        EXPECT_EQ(inf.GetDirIdPath(row.id, &out), &out);
        EXPECT_EQ(std::wstring(out.GetString()), row.expected) << row.id;
    }

    // An unset variable gives no directory, never a bare "\system32".
    SetEnvironmentVariableW(L"SystemRoot", nullptr);
    CStr out(L"stale");
    inf.GetDirIdPath(11, &out);
    EXPECT_TRUE(out.IsEmpty());
    CInf noRoot(WriteInf(dir, L"noroot.inf", std::wstring(kVersionFull) +
                                                 L"[DestinationDirs]\r\nDefaultDestDir=11\r\n").c_str());
    EXPECT_EQ(noRoot.ReadDestinationDirs(), 0);
    SetEnvironmentVariableW(L"SystemRoot", root.c_str());
}

TEST(InfRead, OverlongValuesCountAsUnreadable)
{
    // The platform's parser keeps at most 511 characters of a field, so the
    // limits below that are the ones an INF can exceed.
    std::wstring dir = zoltest::MakeTestDir(L"inf_overlong");
    CInf inf(WriteInf(dir, L"long.inf", std::wstring(kVersionFull) +
                      L"[Svc.Services]\r\nAddService=" + std::wstring(300, L'n') + L",2," +
                      std::wstring(300, L'i') + L"\r\n").c_str());
    ASSERT_EQ(inf.IsOpen(), 1);
    wchar_t name[255] = L"x";
    EXPECT_EQ(inf.GetServiceName(nullptr, name, 255), 0);
    EXPECT_STREQ(name, L"");
    int start = 0;
    EXPECT_EQ(inf.GetServiceStartType(nullptr, &start), 0);
    EXPECT_EQ(start, 0);
}

// Where the source layout puts each file: a line of the ".amd64" section over
// one of the plain section, for the file and for its disk each; the disk's
// path, then the file's subfolder; pieces that leave the package refused.
TEST(InfSourceLayout, PlacesFilesAsThePlatformReadsTheLayout)
{
    std::wstring dir = zoltest::MakeTestDir(L"inf_layout");
    std::wstring path = WriteInf(dir, L"layout.inf",
                                 std::wstring(kVersionFull) +
                                     L"[SourceDisksNames]\r\n1=%Disk%,,,\\x86\r\n2=%Disk%,,,\r\n3=%Disk%,,,\"\\\"\r\n"
                                     L"4=%Disk%,,,\\..\\up\r\n"
                                     L"[SourceDisksNames.amd64]\r\n1=%Disk%,,,\"\\amd64\\\"\r\n5=%Disk%,,,only64\r\n"
                                     L"[SourceDisksFiles]\r\na.sys=1\r\nb.sys=1,\"sub\\deep\\\"\r\nc.sys=2,data\r\n"
                                     L"d.sys=3\r\ne.sys=1\r\nf.sys=5\r\ng.sys=9,lost\r\nh.sys=4\r\ni.sys=2,C:\\evil\r\n"
                                     L"j.sys=2,a\\\\b\r\n"
                                     L"[SourceDisksFiles.amd64]\r\ne.sys=2,x64\r\n"
                                     L"[Strings]\r\nDisk=\"Disk\"\r\n");
    CUniqueInf inf(SetupOpenInfFileW(path.c_str(), nullptr, INF_STYLE_WIN4, nullptr));
    ASSERT_TRUE(inf.valid());
    CInfSourceLayout layout(inf.get());
    auto place = [&](const wchar_t* name) {
        CStr subfolder(L"stale");
        bool ok = layout.Subfolder(name, &subfolder);
        return (ok ? L"" : L"refused:") + std::wstring(CInfSourceLayout::RelativePath(subfolder, name).GetString());
    };
    EXPECT_EQ(place(L"a.sys"), L"amd64\\a.sys");
    EXPECT_EQ(place(L"B.SYS"), L"amd64\\sub\\deep\\B.SYS");
    EXPECT_EQ(place(L"c.sys"), L"data\\c.sys");
    EXPECT_EQ(place(L"d.sys"), L"d.sys");
    EXPECT_EQ(place(L"e.sys"), L"x64\\e.sys");
    EXPECT_EQ(place(L"f.sys"), L"only64\\f.sys");
    // No line for the file or for its disk: the top.
    EXPECT_EQ(place(L"g.sys"), L"g.sys");
    EXPECT_EQ(place(L"unlisted.sys"), L"unlisted.sys");
    EXPECT_EQ(place(L"h.sys"), L"refused:\\..\\up\\h.sys");
    EXPECT_EQ(place(L"i.sys"), L"refused:C:\\evil\\i.sys");
    EXPECT_EQ(place(L"j.sys"), L"refused:a\\\\b\\j.sys");
}
