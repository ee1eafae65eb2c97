// The component log on the real platform: files, directories, formats and the
// verbose-log hand-over. The main log is shared by every test of this
// program, so each test looks only at what it appended.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <regex>
#include <string>

#include "log/cmplog.h"
#include "testsupport.h"

namespace {

const wchar_t kSource[] = L".\\Source\\basecomp.cpp";

std::string Rule() { return std::string(75, '='); }

std::wstring TestName()
{
    return zoltest::FromUtf8(::testing::UnitTest::GetInstance()->current_test_info()->name());
}

std::string HostExeName()
{
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    const wchar_t* slash = wcsrchr(path, L'\\');
    return zoltest::ToUtf8(slash ? slash + 1 : path);
}

// Replaces the date and time texts of headers and footers by fixed markers.
std::string MaskHeaderTimes(const std::string& text)
{
    static const std::regex date("Log Date:        [0-9]{1,2}/[0-9]{1,2}/[0-9]{4} [0-9]{1,2}:[0-9]{2}:[0-9]{2}");
    static const std::regex end("Log Session End\\. \\[[0-9]{1,2}:[0-9]{2}:[0-9]{2}\\]");
    std::string s = std::regex_replace(text, date, "Log Date:        <D>");
    return std::regex_replace(s, end, "Log Session End. [<T>]");
}

class CmpLogTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_dir = zoltest::MakeTestDir(L"cmplog_" + TestName()) + L"\\";
        m_mainMark = zoltest::ReadMainLog().size();
    }

    std::string MainAppended() const
    {
        std::string all = zoltest::ReadMainLog();
        return all.size() >= m_mainMark ? all.substr(m_mainMark) : all;
    }
    std::string Read(const std::wstring& name) const { return zoltest::ReadBytes(m_dir + name); }
    // The main log was moved aside with content, and the new one holds the
    // WARNING that names where it went and then "mine"; the aside file goes.
    static void ExpectMovedAsideHolding(const std::string& content)
    {
        std::vector<std::wstring> aside;
        for (const std::wstring& path : zoltest::VerboseLogPaths())
            if (path.find(L"zolsetup.log.untrusted-") != std::wstring::npos)
                aside.push_back(path);
        ASSERT_EQ(aside.size(), 1u);
        EXPECT_EQ(zoltest::ReadBytes(aside[0]), content);
        static const std::regex moved("\\*\\*WARNING\\*\\* - Untrusted log file moved aside: "
                                      "C:\\\\devavoror\\\\log\\\\zolsetup\\.log -> C:\\\\devavoror\\\\log\\\\"
                                      "zolsetup\\.log\\.untrusted-[0-9]{8}T[0-9]{6}-[0-9a-f]{8}\r\nmine\r\n");
        EXPECT_TRUE(std::regex_match(zoltest::ReadMainLog(), moved)) << zoltest::ReadMainLog();
        DeleteFileW(aside[0].c_str());
    }

    std::wstring m_dir;
    size_t m_mainMark = 0;
};

TEST_F(CmpLogTest, EveryTargetWithVerboseOn)
{
    CCmpLog log(L"v.log", m_dir.c_str());
    log.SetVerbose(1);
    ASSERT_EQ(log.Open(), 0);
    log.WriteLine(LOG_MAIN, SEV_INFO, nullptr, 0, L"t0\r\n");
    log.WriteLine(LOG_VERBOSE, SEV_INFO, kSource, 11, L"t1\r\n");
    log.WriteLine(LOG_VERBOSE_CONT, SEV_INFO, nullptr, 0, L"t2\r\n");
    log.WriteLine(LOG_BOTH, SEV_INFO, kSource, 13, L"t3\r\n");
    log.WriteLine(LOG_BOTH_CONT, SEV_INFO, nullptr, 0, L"t4\r\n");
    log.WriteLine(5, SEV_INFO, kSource, 15, L"t5\r\n");
    log.WriteLine(-1, SEV_INFO, kSource, 16, L"t-1\r\n");
    ASSERT_EQ(log.Close(), 0);

    EXPECT_EQ(MainAppended(), "t0\r\nt3\r\nt4\r\n");
    std::string verbose = Read(L"v.log");
    EXPECT_EQ(zoltest::MaskTimes(verbose), "[T]::basecomp.cpp[11] t1\r\nt2\r\n[T]::basecomp.cpp[13] t3\r\nt4\r\n");
    // The time is the locale's 24-hour time with seconds.
    EXPECT_TRUE(std::regex_search(verbose, std::regex("^\\[[0-9]{1,2}:[0-9]{2}:[0-9]{2}\\]::basecomp\\.cpp\\[11\\] ")))
        << verbose;
}

TEST_F(CmpLogTest, SeverityTagsAndLocationPrefixes)
{
    CCmpLog log(L"sev.log", m_dir.c_str());
    log.SetVerbose(1);
    ASSERT_EQ(log.Open(), 0);
    for (int severity : {0, 1, 2, 3, 7}) {
        log.WriteLine(LOG_BOTH, severity, kSource, 20 + severity, L"m%d\r\n", severity);
        log.WriteLine(LOG_BOTH_CONT, severity, nullptr, 0, L"c%d\r\n", severity);
    }
    log.WriteLine(LOG_MAIN, SEV_CRITICAL, nullptr, 0, L"main only\r\n");
    log.WriteLine(LOG_VERBOSE_CONT, SEV_WARNING, nullptr, 0, L"verbose cont\r\n");
    log.Close();

    EXPECT_EQ(MainAppended(), "m0\r\nc0\r\n"
                              "**WARNING** - m1\r\n**WARNING** - c1\r\n"
                              "**ERROR** - m2\r\n**ERROR** - c2\r\n"
                              "**CRITICAL** - m3\r\n**CRITICAL** - c3\r\n"
                              "m7\r\nc7\r\n"
                              "**CRITICAL** - main only\r\n");
    EXPECT_EQ(zoltest::MaskTimes(Read(L"sev.log")), "[T]::basecomp.cpp[20] m0\r\nc0\r\n"
                                                   "[T]::basecomp.cpp[21] **WARNING** - m1\r\n**WARNING** - c1\r\n"
                                                   "[T]::basecomp.cpp[22] **ERROR** - m2\r\n**ERROR** - c2\r\n"
                                                   "[T]::basecomp.cpp[23] **CRITICAL** - m3\r\n**CRITICAL** - c3\r\n"
                                                   "m7\r\nc7\r\n"
                                                   "**WARNING** - verbose cont\r\n");
}

TEST_F(CmpLogTest, ContinuationCompletesTheLineAndSourceIsNameWithExtension)
{
    CCmpLog log(L"cont.log", m_dir.c_str());
    log.SetVerbose(1);
    ASSERT_EQ(log.Open(), 0);
    log.WriteLine(LOG_VERBOSE, SEV_INFO, kSource, 87, L"Locating package definition file... ");
    log.WriteLine(LOG_VERBOSE_CONT, SEV_INFO, nullptr, 0, L"Done.\r\n");
    log.WriteLine(LOG_VERBOSE, SEV_INFO, L"C:/build/Source/log/cmplog.cpp", 7, L"forward slashes\r\n");
    log.WriteLine(LOG_VERBOSE, SEV_INFO, L"plain", 8, L"no directory, no extension\r\n");
    log.WriteLine(LOG_VERBOSE, SEV_INFO, nullptr, 9, L"no source\r\n");
    log.Close();
    EXPECT_EQ(zoltest::MaskTimes(Read(L"cont.log")),
              "[T]::basecomp.cpp[87] Locating package definition file... Done.\r\n"
              "[T]::cmplog.cpp[7] forward slashes\r\n"
              "[T]::plain[8] no directory, no extension\r\n"
              "[T]::[9] no source\r\n");
    EXPECT_EQ(MainAppended(), "");
}

TEST_F(CmpLogTest, WithoutVerboseOnlyTheMainLogIsWritten)
{
    std::wstring verboseDir = m_dir + L"never\\";
    CCmpLog log(L"quiet.log", verboseDir.c_str());
    ASSERT_EQ(log.Open(), 0);
    EXPECT_EQ(log.IsVerbose(), 0);
    log.WriteLine(LOG_MAIN, SEV_INFO, nullptr, 0, L"t0\r\n");
    log.WriteLine(LOG_VERBOSE, SEV_ERROR, kSource, 1, L"t1\r\n");
    log.WriteLine(LOG_VERBOSE_CONT, SEV_ERROR, nullptr, 0, L"t2\r\n");
    log.WriteLine(LOG_BOTH, SEV_ERROR, kSource, 3, L"t3\r\n");
    log.WriteLine(LOG_BOTH_CONT, SEV_INFO, nullptr, 0, L"t4\r\n");
    log.WriteHeader();
    log.Close();
    std::string main = MainAppended();
    const std::string lines = "t0\r\n**ERROR** - t3\r\nt4\r\n";
    EXPECT_EQ(main.substr(0, lines.size()), lines);
    EXPECT_EQ(main.substr(lines.size(), 75), Rule());
    EXPECT_EQ(main.find("Verbose Log Session Start"), std::string::npos);
    EXPECT_EQ(GetFileAttributesW(verboseDir.c_str()), INVALID_FILE_ATTRIBUTES) << "no verbose directory or file";
}

TEST_F(CmpLogTest, HeaderAndFooterFormats)
{
    CCmpLog log(L"hdr.log", m_dir.c_str());
    log.SetVerbose(1);
    log.SetStubVersion(L"9.8.7");
    ASSERT_EQ(log.Open(), 0);
    log.WriteHeader();
    log.WriteLine(LOG_BOTH, SEV_INFO, kSource, 1, L"body\r\n");
    log.WriteFooter(-5);
    log.Close();

    // The test program has no version resource: its version text is empty.
    const std::string source = "Source:          " + HostExeName() + "\r\n";
    const std::string footer =
        "\r\n\r\nLog Session End. [<T>]\r\nReturn Code (-5)\r\n" + Rule() + "\r\n\r\n";
    EXPECT_EQ(zoltest::MaskTimes(MaskHeaderTimes(Read(L"hdr.log"))),
              Rule() + "\r\n" + source +
                  "Version:         \r\n"
                  "Stub Version:    9.8.7\r\n"
                  "Log Date:        <D>\r\n"
                  "\r\n"
                  "Verbose Log Session Start ...\r\n"
                  "\r\n"
                  "[T]::basecomp.cpp[1] body\r\n" +
                  footer);
    EXPECT_EQ(MaskHeaderTimes(MainAppended()), Rule() + "\r\n" + source +
                                                   "Version:         \r\n"
                                                   "Log Date:        <D>\r\n"
                                                   "\r\n"
                                                   "Log Session Start...\r\n"
                                                   "\r\n"
                                                   "body\r\n" +
                                                   footer);
}

TEST_F(CmpLogTest, FooterWithoutVerboseGoesToTheMainLogOnly)
{
    CCmpLog log(L"foot.log", m_dir.c_str());
    ASSERT_EQ(log.Open(), 0);
    log.WriteFooter(-2147483647 - 1);
    log.Close();
    EXPECT_EQ(MaskHeaderTimes(MainAppended()),
              "\r\n\r\nLog Session End. [<T>]\r\nReturn Code (-2147483648)\r\n" + Rule() + "\r\n\r\n");
    EXPECT_FALSE(zoltest::FileExists(m_dir + L"foot.log"));
}

TEST_F(CmpLogTest, WideStringConventionInFormats)
{
    CCmpLog log(L"fmt.log", m_dir.c_str());
    log.SetVerbose(1);
    ASSERT_EQ(log.Open(), 0);
    log.WriteLine(LOG_BOTH, SEV_INFO, kSource, 5, L"[%s|%d|%S|%c|%5s|%%]\r\n", L"wide", -42, "narrow", L'w', L"ab");
    log.Close();
    EXPECT_EQ(MainAppended(), "[wide|-42|narrow|w|   ab|%]\r\n");
    EXPECT_EQ(zoltest::MaskTimes(Read(L"fmt.log")), "[T]::basecomp.cpp[5] [wide|-42|narrow|w|   ab|%]\r\n");
}

TEST_F(CmpLogTest, LongMessagesAreWrittenWhole)
{
    CCmpLog log(L"long.log", m_dir.c_str());
    log.SetVerbose(1);
    ASSERT_EQ(log.Open(), 0);
    std::string expectedMain, expectedVerbose;
    // Around the longest text converted in one call on the stack (682
    // characters with the tag and line end), the formatting buffer, and far
    // beyond both.
    for (size_t length : {640u, 667u, 668u, 669u, 1022u, 1023u, 1024u, 1025u, 5000u}) {
        std::wstring text(length, L'x');
        text[0] = L'<';
        text[length - 1] = L'>';
        log.WriteLine(LOG_BOTH, SEV_ERROR, kSource, 9, L"%s\r\n", text.c_str());
        std::string narrow = zoltest::ToUtf8(text) + "\r\n";
        expectedMain += "**ERROR** - " + narrow;
        expectedVerbose += "[T]::basecomp.cpp[9] **ERROR** - " + narrow;
    }
    // A long format without arguments, too.
    std::wstring format(3000, L'f');
    format += L"\r\n";
    log.WriteLine(LOG_MAIN, SEV_INFO, nullptr, 0, format.c_str());
    expectedMain += zoltest::ToUtf8(format);
    log.Close();
    EXPECT_EQ(MainAppended(), expectedMain);
    EXPECT_EQ(zoltest::MaskTimes(Read(L"long.log")), expectedVerbose);
}

TEST_F(CmpLogTest, TextIsWrittenInTheAnsiCodePage)
{
    ASSERT_EQ(GetACP(), 1252u) << "the test environment fixes the locale";
    CCmpLog log(L"ansi.log", m_dir.c_str());
    log.SetVerbose(1);
    ASSERT_EQ(log.Open(), 0);
    log.WriteLine(LOG_BOTH_CONT, SEV_INFO, nullptr, 0, L"caf\u00E9 %s \u65E5\r\n", L"\u00FCber");
    log.Close();
    // One byte per character, no byte-order mark; what 1252 lacks becomes '?'.
    EXPECT_EQ(MainAppended(), "caf\xE9 \xFC" "ber ?\r\n");
    EXPECT_EQ(Read(L"ansi.log"), "caf\xE9 \xFC" "ber ?\r\n");
}

TEST_F(CmpLogTest, SecondOpenAppendsAndTwoLogsShareTheMainLog)
{
    {
        CCmpLog first(L"ap.log", m_dir.c_str());
        first.SetVerbose(1);
        ASSERT_EQ(first.Open(), 0);
        first.WriteLine(LOG_BOTH_CONT, SEV_INFO, nullptr, 0, L"first\r\n");
        first.Close();
    }
    CCmpLog second(L"ap.log", m_dir.c_str());
    second.SetVerbose(1);
    ASSERT_EQ(second.Open(), 0);
    second.WriteLine(LOG_BOTH_CONT, SEV_INFO, nullptr, 0, L"second\r\n");
    // A second object on the same files appends at the end, piece by piece.
    CCmpLog other(L"ap.log", m_dir.c_str());
    other.SetVerbose(1);
    ASSERT_EQ(other.Open(), 0);
    other.WriteLine(LOG_BOTH_CONT, SEV_INFO, nullptr, 0, L"other\r\n");
    second.WriteLine(LOG_BOTH_CONT, SEV_INFO, nullptr, 0, L"second again\r\n");
    // Opening an open log again does not lose anything either.
    ASSERT_EQ(second.Open(), 0);
    second.WriteLine(LOG_BOTH_CONT, SEV_INFO, nullptr, 0, L"reopened\r\n");
    other.Close();
    second.Close();
    const char* expected = "first\r\nsecond\r\nother\r\nsecond again\r\nreopened\r\n";
    EXPECT_EQ(MainAppended(), expected);
    EXPECT_EQ(Read(L"ap.log"), expected);
}

TEST_F(CmpLogTest, CloseEndsWriting)
{
    CCmpLog log(L"close.log", m_dir.c_str());
    log.SetVerbose(1);
    ASSERT_EQ(log.Open(), 0);
    log.WriteLine(LOG_BOTH_CONT, SEV_INFO, nullptr, 0, L"before\r\n");
    EXPECT_EQ(log.Close(), 0);
    log.WriteLine(LOG_BOTH_CONT, SEV_INFO, nullptr, 0, L"after\r\n");
    log.WriteHeader();
    log.WriteFooter(1);
    EXPECT_EQ(log.Close(), 0);
    EXPECT_EQ(MainAppended(), "before\r\n");
    EXPECT_EQ(Read(L"close.log"), "before\r\n");
}

TEST_F(CmpLogTest, ASessionAfterAnUnfinishedLineStartsOnANewLine)
{
    // A writer killed between a step's start text and its answer.
    {
        CCmpLog dead;
        ASSERT_EQ(dead.Open(), 0);
        dead.WriteLine(LOG_MAIN, SEV_INFO, nullptr, 0, L"    - Checking dependency list... ");
        dead.Close();
    }
    CCmpLog next(L"cut.log", m_dir.c_str());
    ASSERT_EQ(next.Open(), 0);
    next.WriteHeader();
    next.Close();
    EXPECT_EQ(MainAppended().substr(0, 36 + 75), "    - Checking dependency list... \r\n" + Rule());

    // The verbose log too; only a final CR LF counts as a finished line, and
    // an empty or finished file gets nothing.
    const struct {
        const char* before;
        const char* after;
    } cases[] = {
        {"", ""}, {"x", "x\r\n"}, {"done\r\n", "done\r\n"}, {"lf only\n", "lf only\n\r\n"}, {"cr\r", "cr\r\r\n"},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(zoltest::WriteBytes(m_dir + L"cut.log", c.before));
        CCmpLog log(L"cut.log", m_dir.c_str());
        log.SetVerbose(1);
        ASSERT_EQ(log.Open(), 0);
        log.WriteLine(LOG_VERBOSE_CONT, SEV_INFO, nullptr, 0, L"next\r\n");
        log.Close();
        EXPECT_EQ(Read(L"cut.log"), std::string(c.after) + "next\r\n") << c.before;
    }
}

TEST_F(CmpLogTest, OpenCreatesMissingDirectoriesLevelByLevel)
{
    std::wstring nested = m_dir + L"one\\two\\";
    CCmpLog log(L"n.log", nested.c_str());
    log.SetVerbose(1);
    ASSERT_EQ(log.Open(), 0);
    log.Close();
    EXPECT_TRUE(zoltest::FileExists(nested + L"n.log"));

    // Forward slashes and environment variables in the directory.
    std::wstring relative = m_dir.substr(2); // without "C:"
    for (auto& c : relative)
        if (c == L'\\')
            c = L'/';
    std::wstring withVariable = L"%SystemDrive%" + relative + L"env/deeper/";
    CCmpLog envLog(L"e.log", withVariable.c_str());
    EXPECT_EQ(std::wstring(envLog.GetVerboseLogDir()), L"C:" + relative + L"env/deeper/");
    envLog.SetVerbose(1);
    ASSERT_EQ(envLog.Open(), 0);
    envLog.Close();
    EXPECT_TRUE(zoltest::FileExists(m_dir + L"env\\deeper\\e.log"));
}

TEST_F(CmpLogTest, MissingMainLogFolderIsCreatedBothLevels)
{
    // Every log of this program is closed between tests, so the whole folder
    // can go.
    zoltest::RemoveTree(L"C:\\devavoror");
    ASSERT_EQ(GetFileAttributesW(L"C:\\devavoror"), INVALID_FILE_ATTRIBUTES);
    CCmpLog log;
    EXPECT_EQ(std::wstring(log.GetRecord(0)->szDirectory), L"C:\\devavoror\\log\\");
    ASSERT_EQ(log.Open(), 0);
    log.WriteLine(LOG_MAIN, SEV_INFO, nullptr, 0, L"fresh\r\n");
    log.Close();
    EXPECT_EQ(zoltest::ReadMainLog(), "fresh\r\n");
}

TEST_F(CmpLogTest, UnusableVerboseFileFailsOpenAndKeepsMainClosed)
{
    ASSERT_TRUE(zoltest::WriteBytes(m_dir + L"blocker", "a file, not a folder"));
    std::wstring blocked = m_dir + L"blocker\\sub\\";
    CCmpLog log(L"x.log", blocked.c_str());
    log.SetVerbose(1);
    EXPECT_EQ(log.Open(), LOG_ERR_OPEN);
    EXPECT_EQ(log.GetRecord(0)->bOpen, 0);
    EXPECT_EQ(log.GetRecord(1)->bOpen, 0);
    log.WriteLine(LOG_BOTH, SEV_ERROR, kSource, 1, L"lost\r\n");
    log.Close();
    EXPECT_EQ(MainAppended(), "");

    // Without verbose logging the verbose folder is never used.
    CCmpLog quiet(L"x.log", blocked.c_str());
    EXPECT_EQ(quiet.Open(), 0);
    quiet.Close();
}

TEST_F(CmpLogTest, DirectoryLongerThan260CharactersLeavesTheVerboseRecordOut)
{
    std::wstring fits = L"C:\\" + std::wstring(255, L'd') + L"\\"; // 259 characters and the terminator
    CCmpLog ok(L"a.log", fits.c_str());
    EXPECT_EQ(ok.GetError(), 0);
    EXPECT_EQ(ok.GetRecordCount(), 2u);

    std::wstring tooLong = L"C:\\" + std::wstring(256, L'd') + L"\\";
    CCmpLog log(L"a.log", tooLong.c_str());
    EXPECT_EQ(log.GetError(), LOG_ERR_PATH_TOO_LONG);
    ASSERT_EQ(log.GetRecordCount(), 1u);
    EXPECT_EQ(log.GetVerboseLogDir(), nullptr);
    EXPECT_EQ(log.GetVerboseLogName(), nullptr);
    log.SetVerbose(1);
    ASSERT_EQ(log.Open(), 0);
    log.WriteLine(LOG_BOTH, SEV_INFO, kSource, 1, L"main still works\r\n");
    log.MoveVerboseLog(L"b.log", m_dir.c_str());
    log.WriteFooter(3);
    log.Close();
    EXPECT_EQ(MainAppended().substr(0, 18), "main still works\r\n");
}

TEST_F(CmpLogTest, MoveVerboseLogToItselfDoesNothing)
{
    CCmpLog log(L"a.log", m_dir.c_str());
    log.SetVerbose(1);
    ASSERT_EQ(log.Open(), 0);
    log.WriteLine(LOG_VERBOSE_CONT, SEV_INFO, nullptr, 0, L"one\r\n");
    log.MoveVerboseLog(L"a.log", m_dir.c_str());
    log.MoveVerboseLog(nullptr, m_dir.c_str());
    log.MoveVerboseLog(L"", m_dir.c_str());
    // The same file under another letter case: nothing may be duplicated or lost.
    std::wstring upperDir = m_dir;
    CharUpperBuffW(&upperDir[0], static_cast<DWORD>(upperDir.size()));
    log.MoveVerboseLog(L"A.LOG", upperDir.c_str());
    log.WriteLine(LOG_VERBOSE_CONT, SEV_INFO, nullptr, 0, L"two\r\n");
    log.Close();
    EXPECT_EQ(std::wstring(log.GetVerboseLogName()), L"a.log");
    EXPECT_EQ(std::wstring(log.GetVerboseLogDir()), m_dir);
    EXPECT_EQ(Read(L"a.log"), "one\r\ntwo\r\n");
}

TEST_F(CmpLogTest, MoveVerboseLogRenamesWhenNoFileIsThere)
{
    std::wstring target = zoltest::MakeTestDir(L"cmplog_move_target") + L"\\";
    CCmpLog log(L"a.log", m_dir.c_str());
    log.SetVerbose(1);
    ASSERT_EQ(log.Open(), 0);
    log.WriteLine(LOG_VERBOSE_CONT, SEV_INFO, nullptr, 0, L"one\r\n");
    log.MoveVerboseLog(L"b.log", target.c_str());
    EXPECT_EQ(std::wstring(log.GetVerboseLogName()), L"b.log");
    EXPECT_EQ(std::wstring(log.GetVerboseLogDir()), target);
    log.WriteLine(LOG_VERBOSE_CONT, SEV_INFO, nullptr, 0, L"two\r\n");
    log.Close();
    EXPECT_FALSE(zoltest::FileExists(m_dir + L"a.log"));
    EXPECT_EQ(zoltest::ReadBytes(target + L"b.log"), "one\r\ntwo\r\n");
}

TEST_F(CmpLogTest, MoveVerboseLogAppendsToAnExistingFile)
{
    ASSERT_TRUE(zoltest::WriteBytes(m_dir + L"c.log", "old\r\n"));
    CCmpLog log(L"a.log", m_dir.c_str());
    log.SetVerbose(1);
    ASSERT_EQ(log.Open(), 0);
    log.WriteLine(LOG_VERBOSE_CONT, SEV_INFO, nullptr, 0, L"mine\r\n");
    log.MoveVerboseLog(L"c.log", m_dir.c_str());
    EXPECT_EQ(std::wstring(log.GetVerboseLogName()), L"c.log");
    log.WriteLine(LOG_VERBOSE_CONT, SEV_INFO, nullptr, 0, L"more\r\n");
    log.Close();
    EXPECT_FALSE(zoltest::FileExists(m_dir + L"a.log"));
    EXPECT_EQ(Read(L"c.log"), "old\r\nmine\r\nmore\r\n");
}

// A log file with a second name elsewhere (a hard link a user made to a
// file of theirs, or to one they want overwritten) is moved aside and a new
// file started: nothing reaches the other name.
TEST_F(CmpLogTest, AHardLinkedLogIsMovedAsideAndANewOneStarted)
{
    CCmpLog first;
    ASSERT_EQ(first.Open(), 0);
    first.Close();
    const std::wstring other = m_dir + L"other.txt";
    ASSERT_TRUE(zoltest::WriteBytes(other, "theirs\r\n"));
    DeleteFileW(zoltest::MainLogPath().c_str());
    ASSERT_TRUE(CreateHardLinkW(zoltest::MainLogPath().c_str(), other.c_str(), nullptr));

    CCmpLog log;
    ASSERT_EQ(log.Open(), 0);
    log.WriteLine(LOG_MAIN, SEV_INFO, nullptr, 0, L"mine\r\n");
    log.Close();
    EXPECT_EQ(Read(L"other.txt"), "theirs\r\n");
    ExpectMovedAsideHolding("theirs\r\n");
}

// A log file another account owns (one a user made in the log folder while
// it was open to everyone) is moved aside and a new one started: its owner
// could read, change or delete what is logged.
TEST_F(CmpLogTest, ALogFileAnotherAccountOwnsIsMovedAsideAndANewOneStarted)
{
    CCmpLog first;
    ASSERT_EQ(first.Open(), 0);
    first.Close();
    DeleteFileW(zoltest::MainLogPath().c_str());
    ASSERT_TRUE(zoltest::WriteBytes(zoltest::MainLogPath(), "theirs\r\n"));

    CCmpLog log;
    {
        zoltest::CForeignOwnerScope theirs(zoltest::MainLogPath());
        ASSERT_TRUE(theirs.Valid());
        ASSERT_EQ(log.Open(), 0);
    }
    log.WriteLine(LOG_MAIN, SEV_INFO, nullptr, 0, L"mine\r\n");
    log.Close();
    ExpectMovedAsideHolding("theirs\r\n");
}

// The hand-over merges into the host's file only when that file is a real
// one with one name; one linked elsewhere is moved aside and a new file
// takes the lines.
TEST_F(CmpLogTest, MoveVerboseLogNeverWritesThroughASecondName)
{
    const std::wstring other = m_dir + L"other.txt";
    ASSERT_TRUE(zoltest::WriteBytes(other, "theirs\r\n"));
    ASSERT_TRUE(CreateHardLinkW((m_dir + L"host.log").c_str(), other.c_str(), nullptr));
    CCmpLog log(L"a.log", m_dir.c_str());
    log.SetVerbose(1);
    ASSERT_EQ(log.Open(), 0);
    log.WriteLine(LOG_VERBOSE_CONT, SEV_INFO, nullptr, 0, L"mine\r\n");
    log.MoveVerboseLog(L"host.log", m_dir.c_str());
    log.WriteLine(LOG_VERBOSE_CONT, SEV_INFO, nullptr, 0, L"more\r\n");
    log.Close();
    EXPECT_EQ(Read(L"other.txt"), "theirs\r\n");
    EXPECT_EQ(Read(L"host.log"), "mine\r\nmore\r\n");
    EXPECT_FALSE(zoltest::FileExists(m_dir + L"a.log"));
    EXPECT_NE(MainAppended().find("**WARNING** - Untrusted log file moved aside: " +
                                  zoltest::ToUtf8(m_dir) + "host.log -> "),
              std::string::npos)
        << MainAppended();
}

TEST_F(CmpLogTest, MoveVerboseLogOfAnEmptyFileKeepsTheRecord)
{
    ASSERT_TRUE(zoltest::WriteBytes(m_dir + L"c.log", "old\r\n"));
    CCmpLog log(L"a.log", m_dir.c_str());
    log.SetVerbose(1);
    ASSERT_EQ(log.Open(), 0);
    log.MoveVerboseLog(L"c.log", m_dir.c_str());
    EXPECT_EQ(std::wstring(log.GetVerboseLogName()), L"a.log");
    log.WriteLine(LOG_VERBOSE_CONT, SEV_INFO, nullptr, 0, L"still here\r\n");
    log.Close();
    EXPECT_EQ(Read(L"a.log"), "still here\r\n");
    EXPECT_EQ(Read(L"c.log"), "old\r\n");
}

TEST_F(CmpLogTest, MoveVerboseLogWhenNotOpenAndTargetExistsDoesNothing)
{
    ASSERT_TRUE(zoltest::WriteBytes(m_dir + L"c.log", "old\r\n"));
    CCmpLog log(L"a.log", m_dir.c_str());
    log.MoveVerboseLog(L"c.log", m_dir.c_str());
    EXPECT_EQ(std::wstring(log.GetVerboseLogName()), L"a.log");
    EXPECT_EQ(Read(L"c.log"), "old\r\n");
}

TEST_F(CmpLogTest, MoveVerboseLogHandlesNamesOutsideTheAnsiCodePage)
{
    // Neither name can be written in code page 1252.
    std::wstring target = m_dir + L"\u65E5\u672C\\";
    ASSERT_TRUE(CreateDirectoryW(target.c_str(), nullptr));
    CCmpLog log(L"a.log", m_dir.c_str());
    log.SetVerbose(1);
    ASSERT_EQ(log.Open(), 0);
    log.WriteLine(LOG_VERBOSE_CONT, SEV_INFO, nullptr, 0, L"one\r\n");
    log.MoveVerboseLog(L"\u30ED\u30B0.log", target.c_str());
    EXPECT_EQ(std::wstring(log.GetVerboseLogName()), L"\u30ED\u30B0.log");
    EXPECT_FALSE(zoltest::FileExists(m_dir + L"a.log"));

    ASSERT_TRUE(zoltest::WriteBytes(target + L"\u65E5.log", "old\r\n"));
    log.WriteLine(LOG_VERBOSE_CONT, SEV_INFO, nullptr, 0, L"two\r\n");
    log.MoveVerboseLog(L"\u65E5.log", target.c_str());
    EXPECT_EQ(std::wstring(log.GetVerboseLogName()), L"\u65E5.log");
    log.WriteLine(LOG_VERBOSE_CONT, SEV_INFO, nullptr, 0, L"three\r\n");
    log.Close();
    EXPECT_FALSE(zoltest::FileExists(target + L"\u30ED\u30B0.log"));
    EXPECT_EQ(zoltest::ReadBytes(target + L"\u65E5.log"), "old\r\none\r\ntwo\r\nthree\r\n");
}

TEST(CmpLog, GeneratedVerboseNameHasOneDotAndCreatesNoFile)
{
    std::wstring dir = zoltest::MakeTestDir(L"cmplog_tempname");
    wchar_t previous[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, previous);
    SetCurrentDirectoryW(dir.c_str());
    wchar_t name[256];
    CCmpLog::MakeTempLogName(name, 256);
    CCmpLog log;
    SetCurrentDirectoryW(previous);

    static const std::regex pattern("^_QX[0-9A-Fa-f]{1,4}\\.[Tt][Mm][Pp]$");
    for (const wchar_t* generated : {static_cast<const wchar_t*>(name), log.GetVerboseLogName()}) {
        std::string text = zoltest::ToUtf8(generated);
        EXPECT_TRUE(std::regex_match(text, pattern)) << text;
        EXPECT_EQ(std::count(text.begin(), text.end(), '.'), 1) << text;
    }
    EXPECT_EQ(std::wstring(log.GetVerboseLogDir()), L"C:\\devavoror\\log\\");
    EXPECT_EQ(std::wstring(log.GetRecord(0)->szFileName), L"zolsetup.log");
    EXPECT_EQ(log.IsVerbose(), 0);
    EXPECT_EQ(log.GetRecord(0)->bOpen, 0);
    WIN32_FIND_DATAW found;
    HANDLE h = FindFirstFileW((dir + L"\\*.*").c_str(), &found);
    int files = 0;
    if (h != INVALID_HANDLE_VALUE) {
        do {
            if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
                ++files;
        } while (FindNextFileW(h, &found));
        FindClose(h);
    }
    EXPECT_EQ(files, 0);
}

TEST(CmpLog, SetVerboseReturnsTheFlag)
{
    CCmpLog log(L"x.log", L"C:\\zoltest\\");
    EXPECT_EQ(log.SetVerbose(1), 1);
    EXPECT_EQ(log.IsVerbose(), 1);
    EXPECT_EQ(log.SetVerbose(0), 0);
    EXPECT_EQ(log.IsVerbose(), 0);
}

TEST(CmpLog, TrimRightRemovesOnlyTrailingWhiteSpace)
{
    struct Case {
        const wchar_t* in;
        const wchar_t* out;
    } cases[] = {
        {L"  a b \t\r\n ", L"  a b"}, {L"model", L"model"}, {L" \t\r\n", L""},
        {L"", L""},                   {L"a\tb", L"a\tb"},   {L"x\v", L"x\v"},
    };
    for (const Case& c : cases) {
        wchar_t buffer[64];
        wcscpy(buffer, c.in);
        EXPECT_EQ(TrimRight(buffer), buffer);
        EXPECT_STREQ(buffer, c.out);
    }
    EXPECT_EQ(TrimRight(nullptr), nullptr);
    std::wstring longText(600, L'y');
    longText += L"   ";
    std::vector<wchar_t> buffer(longText.begin(), longText.end());
    buffer.push_back(0);
    TrimRight(buffer.data());
    EXPECT_EQ(std::wstring(buffer.data()), std::wstring(600, L'y'));
}

} // namespace
