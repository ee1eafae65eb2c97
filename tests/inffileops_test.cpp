// CInf file operations on the real file system: copies, deletes and renames
// from INF file-list sections, and restart-time replacement of files in use
// (checked in the registry's pending-operation list).
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "inf/inf.h"
#include "legacyhelpers.h"
#include "testsupport.h"

namespace {

using legacytest::ClearPendingOperations;
using legacytest::PendingOperations;

const wchar_t kHead[] = L"[Version]\r\nSignature=\"$Windows NT$\"\r\n";

// True when the list holds the pair (from, to) as the platform records it.
bool HasPending(const std::vector<std::wstring>& entries, const std::wstring& from, const std::wstring& to)
{
    for (size_t i = 0; i + 1 < entries.size(); i += 2) {
        if (_wcsicmp(entries[i].c_str(), (L"\\??\\" + from).c_str()) == 0 &&
            _wcsicmp(entries[i + 1].c_str(), to.c_str()) == 0)
            return true;
    }
    return false;
}

// Holds a file open for reading only, as a running program would.
class CHeldFile
{
public:
    explicit CHeldFile(const std::wstring& path)
        : m_h(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr)) {}
    ~CHeldFile() { CloseHandle(m_h); }
    bool valid() const { return m_h != INVALID_HANDLE_VALUE; }

private:
    HANDLE m_h;
};

class CTestInf : public CInf
{
public:
    using CInf::CInf;
    using CInf::s_nTempNameLimit;
};

class InfFileOps : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ClearPendingOperations();
        wchar_t tmp[MAX_PATH] = {};
        m_tmpWasSet = GetEnvironmentVariableW(L"TMP", tmp, MAX_PATH) > 0;
        m_oldTmp = tmp;
    }
    void TearDown() override
    {
        SetEnvironmentVariableW(L"TMP", m_tmpWasSet ? m_oldTmp.c_str() : nullptr);
        ClearPendingOperations();
    }

    // A fresh package directory; Out() and DefaultOut() refer to it.
    void Begin(const std::wstring& name) { m_dir = zoltest::MakeTestDir(name); }
    // The package's INF and source files.
    std::wstring Package(const std::wstring& inf, const std::vector<std::pair<std::wstring, std::string>>& files = {})
    {
        EXPECT_TRUE(zoltest::WriteUtf8(m_dir + L"\\pkg.inf", kHead + inf));
        for (const auto& f : files)
            EXPECT_TRUE(zoltest::WriteBytes(m_dir + L"\\" + f.first, f.second));
        return m_dir + L"\\pkg.inf";
    }
    std::wstring Out(const std::wstring& name = L"") const { return m_dir + L"\\out" + (name.empty() ? L"" : L"\\" + name); }
    std::wstring DefaultOut() const { return L"[DestinationDirs]\r\nDefaultDestDir=" + Out() + L"\r\n"; }

    std::wstring m_dir;
    bool m_tmpWasSet = false;
    std::wstring m_oldTmp;
};

} // namespace

TEST_F(InfFileOps, OneDestinationLineTakesEveryList)
{
    std::wstring root(MAX_PATH, L'\0');
    root.resize(GetEnvironmentVariableW(L"SystemRoot", &root[0], MAX_PATH));
    const std::wstring sys32 = root + L"\\system32\\";

    // One line: every list goes there, whatever its key.
    Begin(L"ops_dest_one");
    CInf one(Package(L"[DestinationDirs]\r\nNotAList=11\r\n"
                     L"[Install]\r\nCopyFiles=ListA\r\nCopyFiles=ListB\r\n"
                     L"[ListA]\r\nzolinf_a.dll\r\n[ListB]\r\nzolinf_b.dll\r\n",
                     {{L"zolinf_a.dll", "a"}, {L"zolinf_b.dll", "b"}}).c_str());
    EXPECT_EQ(one.ProcessCopyFiles(L"Install"), 1);
    EXPECT_EQ(zoltest::ReadBytes(sys32 + L"zolinf_a.dll"), "a");
    EXPECT_EQ(zoltest::ReadBytes(sys32 + L"zolinf_b.dll"), "b");
    DeleteFileW((sys32 + L"zolinf_a.dll").c_str());
    DeleteFileW((sys32 + L"zolinf_b.dll").c_str());
}

TEST_F(InfFileOps, CopySourceNamesAndOverwriteFlags)
{
    Begin(L"ops_copy");
    std::wstring inf = Package(DefaultOut() +
        L"[Install]\r\nCopyFiles=Files\r\n"
        L"[Files]\r\n"
        L"same.txt\r\n"             // no source field: the same name
        L"renamed.txt,src.txt\r\n"
        L"empty.txt,,\r\n"          // empty source field: the same name
        L"keep.txt,,,16\r\n"
        L"keep2.txt,,,0x10000\r\n"
        L"over.txt,,,0x12\r\n",
        {{L"same.txt", "same"}, {L"src.txt", "src"}, {L"renamed.txt", "wrong"}, {L"empty.txt", "empty"},
         {L"keep.txt", "new"}, {L"keep2.txt", "new"}, {L"over.txt", "new"}});
    CreateDirectoryW(Out().c_str(), nullptr);
    for (const wchar_t* f : {L"keep.txt", L"keep2.txt", L"over.txt"})
        zoltest::WriteBytes(Out(f), "old");
    CInf ops(inf.c_str());
    EXPECT_EQ(ops.ProcessCopyFiles(L"Install"), 1);
    EXPECT_EQ(zoltest::ReadBytes(Out(L"same.txt")), "same");
    EXPECT_EQ(zoltest::ReadBytes(Out(L"renamed.txt")), "src");
    EXPECT_EQ(zoltest::ReadBytes(Out(L"empty.txt")), "empty");
    EXPECT_EQ(zoltest::ReadBytes(Out(L"keep.txt")), "old");
    EXPECT_EQ(zoltest::ReadBytes(Out(L"keep2.txt")), "old");
    EXPECT_EQ(zoltest::ReadBytes(Out(L"over.txt")), "new");
    EXPECT_EQ(ops.IsRebootNeeded(), 0);
}

TEST_F(InfFileOps, CopyCreatesMissingLevels)
{
    m_dir = zoltest::MakeTestDir(L"ops_levels");
    std::wstring target = m_dir + L"\\one\\two";
    zoltest::WriteUtf8(m_dir + L"\\pkg.inf", kHead + std::wstring(L"[DestinationDirs]\r\nDefaultDestDir=") + target +
                       L"\r\n[Install]\r\nCopyFiles=Files\r\n[Files]\r\nf.bin\r\n");
    zoltest::WriteBytes(m_dir + L"\\f.bin", "f");
    CInf ops((m_dir + L"\\pkg.inf").c_str());
    EXPECT_EQ(ops.ProcessCopyFiles(L"Install"), 1);
    EXPECT_EQ(zoltest::ReadBytes(target + L"\\f.bin"), "f");
}

TEST_F(InfFileOps, MissingListsSucceedAndMissingDestinationsFail)
{
    Begin(L"ops_missing");
    CInf ops(Package(DefaultOut() +
                     L"[Install]\r\nCopyFiles=NoSuchList,@f.bin\r\nDelFiles=NoSuchList\r\nRenFiles=NoSuchList\r\n",
                     {{L"f.bin", "f"}}).c_str());
    EXPECT_EQ(ops.ProcessCopyFiles(L"Install"), 1);
    EXPECT_EQ(ops.ProcessDelFiles(L"Install"), 1);
    EXPECT_EQ(ops.ProcessRenFiles(L"Install"), 1);
    EXPECT_EQ(ops.ProcessCopyFiles(L"NoSuchInstallSection"), 1);
    EXPECT_FALSE(zoltest::FileExists(Out()));

    // Without usable destination directories every directive kind fails,
    // even for a section without directives.
    Begin(L"ops_nodest");
    CInf noDest(Package(L"[Install]\r\nAddReg=Reg\r\n").c_str());
    EXPECT_EQ(noDest.ProcessCopyFiles(L"Install"), 0);
    EXPECT_EQ(noDest.ProcessDelFiles(L"Install"), 0);
    EXPECT_EQ(noDest.ProcessRenFiles(L"Install"), 0);
}

TEST_F(InfFileOps, FailedListStopsItselfButNotOthers)
{
    Begin(L"ops_partial");
    CInf ops(Package(DefaultOut() +
                     L"[Install]\r\nCopyFiles=Bad,Good\r\n"
                     L"[Bad]\r\nabsent.bin\r\nnever.bin\r\n[Good]\r\ngood.bin\r\n",
                     {{L"never.bin", "n"}, {L"good.bin", "g"}}).c_str());
    EXPECT_EQ(ops.ProcessCopyFiles(L"Install"), 0);
    EXPECT_FALSE(zoltest::FileExists(Out(L"never.bin")));
    EXPECT_TRUE(zoltest::FileExists(Out(L"good.bin")));
}

TEST_F(InfFileOps, InUseTargetIsReplacedAtRestart)
{
    for (int useTmp = 1; useTmp >= 0; --useTmp) {
        Begin(useTmp ? L"ops_busy_tmp" : L"ops_busy_local");
        std::wstring inf = Package(DefaultOut() + L"[Install]\r\nCopyFiles=Files\r\n[Files]\r\nbusy.dll\r\n",
                                   {{L"busy.dll", "new"}});
        std::wstring tmpDir = m_dir + L"\\tmp";
        CreateDirectoryW(tmpDir.c_str(), nullptr);
        SetEnvironmentVariableW(L"TMP", useTmp ? tmpDir.c_str() : (m_dir + L"\\absent").c_str());
        CreateDirectoryW(Out().c_str(), nullptr);
        zoltest::WriteBytes(Out(L"busy.dll"), "old");
        zoltest::WriteBytes(Out(L"busy0.dll"), "taken");

        CInf ops(inf.c_str());
        {
            CHeldFile held(Out(L"busy.dll"));
            ASSERT_TRUE(held.valid());
            EXPECT_EQ(ops.ProcessCopyFiles(L"Install"), 1);
        }
        EXPECT_EQ(ops.IsRebootNeeded(), 1);
        EXPECT_EQ(zoltest::ReadBytes(Out(L"busy.dll")), "old");
        // The copy is made beside the target, never in TMP nor in the
        // package, under a name no file had.
        std::wstring temp = Out(L"busy1.dll");
        EXPECT_EQ(zoltest::ReadBytes(temp), "new");
        EXPECT_EQ(zoltest::ReadBytes(Out(L"busy0.dll")), "taken");
        EXPECT_FALSE(zoltest::FileExists(tmpDir + L"\\busy0.dll"));
        EXPECT_FALSE(zoltest::FileExists(m_dir + L"\\busy0.dll"));
        std::vector<std::wstring> pending = PendingOperations();
        EXPECT_TRUE(HasPending(pending, temp, L"!\\??\\" + Out(L"busy.dll"))) << useTmp;
        ClearPendingOperations();
    }
}

TEST_F(InfFileOps, DeletesNowOrAtRestart)
{
    Begin(L"ops_delete");
    std::wstring inf = Package(DefaultOut() +
        L"[Now]\r\nDelFiles=NowFiles\r\n[NowFiles]\r\nd0.txt\r\nabsent.txt\r\n"
        L"[Later]\r\nDelFiles=LaterFiles\r\n[LaterFiles]\r\nd1.txt,,,1\r\nd2.txt,,,0x10000\r\nlocked.txt\r\n");
    CreateDirectoryW(Out().c_str(), nullptr);
    for (const wchar_t* f : {L"d0.txt", L"d1.txt", L"d2.txt", L"locked.txt"})
        zoltest::WriteBytes(Out(f), "x");

    CInf now(inf.c_str());
    EXPECT_EQ(now.ProcessDelFiles(L"Now"), 1);
    EXPECT_FALSE(zoltest::FileExists(Out(L"d0.txt")));
    EXPECT_EQ(now.IsRebootNeeded(), 0);
    EXPECT_TRUE(PendingOperations().empty());

    CInf later(inf.c_str());
    {
        CHeldFile held(Out(L"locked.txt"));
        ASSERT_TRUE(held.valid());
        EXPECT_EQ(later.ProcessDelFiles(L"Later"), 1);
    }
    EXPECT_EQ(later.IsRebootNeeded(), 1);
    std::vector<std::wstring> pending = PendingOperations();
    for (const wchar_t* f : {L"d1.txt", L"d2.txt", L"locked.txt"}) {
        EXPECT_TRUE(zoltest::FileExists(Out(f))) << f;
        EXPECT_TRUE(HasPending(pending, Out(f), L"")) << f;
    }
}

TEST_F(InfFileOps, RenamesNeedExactlyTwoFields)
{
    Begin(L"ops_rename");
    std::wstring inf = Package(DefaultOut() +
        L"[Good]\r\nRenFiles=GoodList\r\n[GoodList]\r\nnew.txt,old.txt\r\n"
        L"[Bad]\r\nRenFiles=BadList\r\n[BadList]\r\na.txt,b.txt,c.txt\r\ny.txt,x.txt\r\n"
        L"[Busy]\r\nRenFiles=BusyList\r\n[BusyList]\r\nmoved.txt,held.txt\r\n");
    CreateDirectoryW(Out().c_str(), nullptr);
    for (const wchar_t* f : {L"old.txt", L"b.txt", L"x.txt", L"held.txt"})
        zoltest::WriteBytes(Out(f), "x");

    CInf ops(inf.c_str());
    EXPECT_EQ(ops.ProcessRenFiles(L"Good"), 1);
    EXPECT_TRUE(zoltest::FileExists(Out(L"new.txt")));
    EXPECT_FALSE(zoltest::FileExists(Out(L"old.txt")));

    EXPECT_EQ(ops.ProcessRenFiles(L"Bad"), 0);
    EXPECT_TRUE(zoltest::FileExists(Out(L"b.txt")));
    EXPECT_TRUE(zoltest::FileExists(Out(L"x.txt"))); // later lines are not attempted
    EXPECT_EQ(ops.IsRebootNeeded(), 0);

    {
        CHeldFile held(Out(L"held.txt"));
        ASSERT_TRUE(held.valid());
        EXPECT_EQ(ops.ProcessRenFiles(L"Busy"), 1);
    }
    EXPECT_EQ(ops.IsRebootNeeded(), 1);
    EXPECT_TRUE(zoltest::FileExists(Out(L"held.txt")));
    EXPECT_TRUE(HasPending(PendingOperations(), Out(L"held.txt"), L"!\\??\\" + Out(L"moved.txt")));
}

TEST_F(InfFileOps, TemporaryNameSearchIsBounded)
{
    Begin(L"ops_tempname");
    std::wstring inf = Package(DefaultOut(), {{L"src.bin", "s"}});
    std::wstring targetDir = m_dir + L"\\target";
    std::wstring target = targetDir + L"\\t.bin";
    CreateDirectoryW(targetDir.c_str(), nullptr);
    for (const wchar_t* f : {L"src0.bin", L"src1.bin", L"src2.bin"})
        zoltest::WriteBytes(targetDir + L"\\" + f, "taken");

    CTestInf ops(inf.c_str());
    unsigned long saved = CTestInf::s_nTempNameLimit;
    CStr temp(L"stale");
    CTestInf::s_nTempNameLimit = 3;
    EXPECT_EQ(ops.MakeTempCopy((m_dir + L"\\src.bin").c_str(), target.c_str(), &temp), 0);
    EXPECT_TRUE(temp.IsEmpty());
    CTestInf::s_nTempNameLimit = 4;
    EXPECT_EQ(ops.MakeTempCopy((m_dir + L"\\src.bin").c_str(), target.c_str(), &temp), 1);
    EXPECT_EQ(std::wstring(temp.GetString()), targetDir + L"\\src3.bin");
    EXPECT_EQ(zoltest::ReadBytes(targetDir + L"\\src3.bin"), "s");
    for (const wchar_t* f : {L"src0.bin", L"src1.bin", L"src2.bin"})
        EXPECT_EQ(zoltest::ReadBytes(targetDir + L"\\" + f), "taken"); // names taken first stay as they were
    CTestInf::s_nTempNameLimit = saved;

    // A source that cannot be read leaves no file behind.
    EXPECT_EQ(ops.MakeTempCopy((m_dir + L"\\absent.bin").c_str(), target.c_str(), &temp), 0);
    EXPECT_FALSE(zoltest::FileExists(targetDir + L"\\absent0.bin"));
    // A candidate name beyond the path limit ends the search.
    std::wstring deep = targetDir + L"\\" + std::wstring(240, L'd');
    ASSERT_TRUE(CreateDirectoryW(deep.c_str(), nullptr));
    EXPECT_EQ(ops.MakeTempCopy((m_dir + L"\\src.bin").c_str(), (deep + L"\\t").c_str(), &temp), 0);
}

// Names from the file lists and destination lines never reach outside the
// folder they belong to: files beside the destination and the package
// folders survive every directive, and each refused name is named.
TEST_F(InfFileOps, TraversalNamesAreRefused)
{
    Begin(L"ops_traversal");
    const std::wstring victim = m_dir + L"\\victim.txt", rootVictim = L"C:\\zolvictim.txt";
    std::wstring inf = Package(DefaultOut() +
        L"Up=" + Out() + L"\\..\r\n"
        L"UpSub=10,..\\..\r\n"
        L"Drive=10,C:\\zoltest\r\n"
        L"[CopyDest]\r\nCopyFiles=CopyDestList\r\n[CopyDestList]\r\n..\\victim.txt,new.txt\r\n"
        L"[CopySource]\r\nCopyFiles=CopySourceList\r\n[CopySourceList]\r\nstolen.txt,..\\secret.txt\r\n"
        L"[Delete]\r\nDelFiles=DeleteList\r\n[DeleteList]\r\nkept.txt\r\n..\\victim.txt\r\n"
        L"[Reserved]\r\nDelFiles=ReservedList\r\n[ReservedList]\r\nNUL.txt\r\n"
        L"[RenameOld]\r\nRenFiles=RenameOldList\r\n[RenameOldList]\r\nmoved.txt,..\\victim.txt\r\n"
        L"[RenameNew]\r\nRenFiles=RenameNewList\r\n[RenameNewList]\r\n..\\victim.txt,mine.txt\r\n"
        L"[Dirs]\r\nDelFiles=Up,UpSub,Drive\r\n"
        L"[Up]\r\nvictim.txt\r\n[UpSub]\r\nzolvictim.txt\r\n[Drive]\r\nx.txt\r\n",
        {{L"new.txt", "new"}});
    ASSERT_TRUE(zoltest::WriteBytes(victim, "victim"));
    ASSERT_TRUE(zoltest::WriteBytes(rootVictim, "victim"));
    ASSERT_TRUE(zoltest::WriteBytes(m_dir + L"\\..\\secret.txt", "secret"));
    CreateDirectoryW(Out().c_str(), nullptr);
    for (const wchar_t* f : {L"kept.txt", L"mine.txt"})
        zoltest::WriteBytes(Out(f), "mine");

    CInf ops(inf.c_str());
    for (const wchar_t* section : {L"CopyDest", L"CopySource"})
        EXPECT_EQ(ops.ProcessCopyFiles(section), 0) << zoltest::ToUtf8(section);
    for (const wchar_t* section : {L"Delete", L"Reserved", L"Dirs"})
        EXPECT_EQ(ops.ProcessDelFiles(section), 0) << zoltest::ToUtf8(section);
    for (const wchar_t* section : {L"RenameOld", L"RenameNew"})
        EXPECT_EQ(ops.ProcessRenFiles(section), 0) << zoltest::ToUtf8(section);

    EXPECT_EQ(zoltest::ReadBytes(victim), "victim");
    EXPECT_EQ(zoltest::ReadBytes(rootVictim), "victim");
    EXPECT_FALSE(zoltest::FileExists(Out(L"stolen.txt")));
    EXPECT_FALSE(zoltest::FileExists(Out(L"kept.txt"))); // the lines before a refused one are done
    EXPECT_EQ(zoltest::ReadBytes(Out(L"mine.txt")), "mine");
    EXPECT_FALSE(zoltest::FileExists(Out(L"moved.txt")));
    EXPECT_EQ(ops.IsRebootNeeded(), 0);
    EXPECT_TRUE(PendingOperations().empty());
    std::wstring failures;
    for (const CStr& f : ops.GetFailures())
        failures += std::wstring(f.GetString()) + L"|";
    EXPECT_EQ(failures,
              L"Unsafe folder name in package: " + Out() + L"\\..|"
              L"Unsafe folder name in package: ..\\..|"
              L"Unsafe folder name in package: C:\\zoltest|"
              L"Unsafe file name in package: ..\\victim.txt|"
              L"Unsafe file name in package: ..\\secret.txt|"
              L"Unsafe file name in package: ..\\victim.txt|"
              L"Unsafe file name in package: NUL.txt|"
              L"File delete failed: no destination directory for Up|"
              L"File delete failed: no destination directory for UpSub|"
              L"File delete failed: no destination directory for Drive|"
              L"Unsafe file name in package: ..\\victim.txt|"
              L"Unsafe file name in package: ..\\victim.txt|");
    DeleteFileW(rootVictim.c_str());
}

TEST_F(InfFileOps, EnsureDirectoryEdges)
{
    Begin(L"ops_ensure");
    CInf ops(Package(DefaultOut()).c_str());
    std::wstring deep = m_dir;
    for (int i = 0; i < 40; ++i)
        deep += L"\\d";
    EXPECT_EQ(ops.EnsureDirectory((deep + L"\\").c_str()), 1);
    EXPECT_NE(GetFileAttributesW(deep.c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(ops.EnsureDirectory(deep.c_str()), 1); // already there

    EXPECT_EQ(ops.EnsureDirectory(L"Q:\\no\\such\\drive\\"), 0);
    // Paths beyond the path limit are refused before any directory is made.
    std::wstring huge = m_dir;
    for (int i = 0; i < 2000; ++i)
        huge += L"\\e";
    EXPECT_EQ(ops.EnsureDirectory(huge.c_str()), 0);
    EXPECT_FALSE(zoltest::FileExists(m_dir + L"\\e"));
    zoltest::WriteBytes(m_dir + L"\\file", "f");
    EXPECT_EQ(ops.EnsureFileDirectory((m_dir + L"\\file\\sub\\x.bin").c_str()), 0);
}

TEST_F(InfFileOps, OverlongNamesFailTheLine)
{
    std::wstring longName(300, L'n');
    std::wstring nearLimit(250, L'm');
    Begin(L"ops_longnames");
    std::wstring inf = Package(DefaultOut() +
        L"[A]\r\nCopyFiles=LongDest\r\n[LongDest]\r\n" + longName + L"\r\n"
        L"[B]\r\nCopyFiles=LongSource\r\n[LongSource]\r\nshort.bin," + longName + L"\r\n"
        L"[C]\r\nCopyFiles=LongJoin\r\n[LongJoin]\r\n" + nearLimit + L"\r\n"
        L"[D]\r\nDelFiles=LongDel\r\n[LongDel]\r\n" + nearLimit + L"\r\n"
        L"[E]\r\nRenFiles=LongRen\r\n[LongRen]\r\n" + nearLimit + L",short.bin\r\n",
        {{L"short.bin", "s"}});
    CInf ops(inf.c_str());
    EXPECT_EQ(ops.ProcessCopyFiles(L"A"), 0);
    // The source named by the line is not replaced by the destination name.
    EXPECT_EQ(ops.ProcessCopyFiles(L"B"), 0);
    EXPECT_FALSE(zoltest::FileExists(Out(L"short.bin")));
    EXPECT_EQ(ops.ProcessCopyFiles(L"C"), 0);
    EXPECT_EQ(ops.ProcessDelFiles(L"D"), 0);
    EXPECT_EQ(ops.ProcessRenFiles(L"E"), 0);
    EXPECT_EQ(ops.IsRebootNeeded(), 0);
}

// A destination outside the system folders, here the drive root's folder
// of DIRID 24, that a user made a link to a folder of theirs: the copy,
// the delete and the rename are each refused with a failure naming it,
// and nothing is written through the link. One open to everyone is
// refused likewise; missing levels are created for SYSTEM and
// Administrators alone.
TEST_F(InfFileOps, DestinationsOutsideTheSystemFoldersMustBeTheAdministrators)
{
    Begin(L"ops_dirid24");
    const std::wstring theirs = zoltest::MakeTestDir(L"ops_dirid24_theirs");
    ASSERT_TRUE(zoltest::WriteBytes(theirs + L"\\victim.dll", "theirs"));
    ASSERT_TRUE(zoltest::WriteBytes(theirs + L"\\old.dll", "old"));
    zoltest::RemoveTree(L"C:\\zolx");
    ASSERT_TRUE(zoltest::MakeUnixLink(theirs, L"C:\\zolx"));
    const std::wstring lists = L"[Install]\r\nCopyFiles=Files\r\nDelFiles=Gone\r\nRenFiles=Moved\r\n"
                               L"[Files]\r\nzol.dll\r\n[Gone]\r\nvictim.dll\r\n[Moved]\r\nnew.dll,old.dll\r\n";
    {
        CInf inf(Package(L"[DestinationDirs]\r\nDefaultDestDir=24,zolx\r\n" + lists, {{L"zol.dll", "zol"}}).c_str());
        EXPECT_EQ(inf.ProcessCopyFiles(L"Install"), 0);
        EXPECT_EQ(inf.ProcessDelFiles(L"Install"), 0);
        EXPECT_EQ(inf.ProcessRenFiles(L"Install"), 0);
        const CStr refused(L"Destination folder not trusted: C:\\zolx is a link (reparse point)");
        EXPECT_EQ(inf.GetFailures(), (CStrList{refused, refused, refused}));
    }
    EXPECT_TRUE(zoltest::RemoveUnixLink(L"C:\\zolx"));
    EXPECT_EQ(zoltest::ReadBytes(theirs + L"\\victim.dll"), "theirs");
    EXPECT_EQ(zoltest::ReadBytes(theirs + L"\\old.dll"), "old");
    EXPECT_FALSE(zoltest::FileExists(theirs + L"\\zol.dll"));
    EXPECT_FALSE(zoltest::FileExists(theirs + L"\\new.dll"));

    ASSERT_TRUE(CreateDirectoryW(L"C:\\zolx", nullptr));
    ASSERT_TRUE(zoltest::UnixChmod(L"C:\\zolx", "777", "(A;OICI;0x1301ff;;;WD)"));
    {
        CInf inf(Package(L"[DestinationDirs]\r\nDefaultDestDir=24,zolx\r\n" + lists, {{L"zol.dll", "zol"}}).c_str());
        EXPECT_EQ(inf.ProcessCopyFiles(L"Install"), 0);
        EXPECT_EQ(inf.GetFailures(), (CStrList{CStr(L"Destination folder not trusted: C:\\zolx has an access list that "
                                                     L"lets other accounts change it")}));
    }
    EXPECT_FALSE(zoltest::FileExists(L"C:\\zolx\\zol.dll"));
    zoltest::RemoveTree(L"C:\\zolx");

    {
        CInf inf(Package(L"[DestinationDirs]\r\nDefaultDestDir=24,zolx\\sub\r\n" + lists, {{L"zol.dll", "zol"}}).c_str());
        EXPECT_EQ(inf.ProcessCopyFiles(L"Install"), 1);
        EXPECT_TRUE(inf.GetFailures().empty());
    }
    EXPECT_EQ(zoltest::ReadBytes(L"C:\\zolx\\sub\\zol.dll"), "zol");
    for (const wchar_t* level : {L"C:\\zolx", L"C:\\zolx\\sub"})
        EXPECT_EQ(zoltest::ReadSecurity(level), "O:S-1-5-21-0-0-0-1000D:(A;OICI;FA;;;SY)(A;OICI;FA;;;S-1-5-21-0-0-0-1000)");
    zoltest::RemoveTree(L"C:\\zolx");
}
