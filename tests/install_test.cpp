// Installation dispatch, the language rule and the post-install command.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "basecomp.h"
#include "messages.h"
#include "testsupport.h"

namespace {

const wchar_t kUnknownTypeEn[] = L"Unknown INF file type -- installation will not continue.";
// "不明なINFファイル タイプです -- インストールを続行できません"
const wchar_t kUnknownTypeJa[] = L"\u4E0D\u660E\u306AINF\u30D5\u30A1\u30A4\u30EB \u30BF\u30A4\u30D7\u3067\u3059 -- "
                                 L"\u30A4\u30F3\u30B9\u30C8\u30FC\u30EB\u3092\u7D9A\u884C\u3067\u304D\u307E\u305B\u3093";
const wchar_t kShellFailed[] = L"An error occurred during the ShellExecute command.";

// A component whose three install paths only record how they were called.
class CDispatchComponent : public CBaseComponent
{
public:
    int InstallLegacy(int a, void* b, wchar_t* message, int d, const wchar_t* language) override
    {
        return Record("LEGACY", a, b, message, d, language);
    }
    int InstallPnP(int a, void* b, wchar_t* message, int d, const wchar_t* language) override
    {
        return Record("PNP", a, b, message, d, language);
    }
    int InstallVirtual(int a, void* b, wchar_t* message, int d, const wchar_t* language) override
    {
        return Record("VIRTUAL", a, b, message, d, language);
    }
    void SetType(int type) { m_nInfType = type; }
    void SetShellExecute(const std::wstring& file, const std::wstring& dir)
    {
        wcscpy_s(m_szShellExecuteFile, file.c_str());
        wcscpy_s(m_szShellExecuteDir, dir.c_str());
    }

    int pathResult = 1;
    const wchar_t* pathMessage = nullptr;
    std::vector<std::string> paths;
    int lastA = 0, lastD = 0;
    void* lastB = nullptr;
    wchar_t* lastMessage = nullptr;
    const wchar_t* lastLanguage = nullptr;

private:
    int Record(const char* path, int a, void* b, wchar_t* message, int d, const wchar_t* language)
    {
        paths.push_back(path);
        lastA = a;
        lastB = b;
        lastD = d;
        lastMessage = message;
        lastLanguage = language;
        if (pathMessage)
            wcscpy(message, pathMessage);
        return pathResult;
    }
};

class InstallDispatch : public ::testing::Test
{
protected:
    void SetUp() override
    {
        const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
        m_dir = zoltest::MakeTestDir(zoltest::FromUtf8(info->name()));
        zoltest::ClearLogs();
        m_component.reset(new CDispatchComponent());
        m_component->GetLog()->SetVerbose(1);
        m_component->GetLog()->Open();
        ResetMessage();
    }
    void TearDown() override
    {
        m_component->GetLog()->Close();
        m_component.reset();
    }
    // Empties both logs (closed while their files are removed).
    void ClearLogs()
    {
        m_component->GetLog()->Close();
        zoltest::ClearLogs();
        m_component->GetLog()->Open();
    }
    void ResetMessage()
    {
        wmemset(m_message, L'#', 255);
        m_message[255] = L'\0';
    }
    bool MessageUntouched() const { return m_message[0] == L'#' && wcslen(m_message) == 255; }
    std::string MainLog() { return zoltest::ReadMainLog(); }
    std::string VerboseLog() { return zoltest::MaskTimes(zoltest::ReadVerboseLogs()); }

    std::wstring m_dir;
    std::unique_ptr<CDispatchComponent> m_component;
    wchar_t m_message[256];
};

bool WaitForFile(const std::wstring& path)
{
    for (int i = 0; i < 200 && !zoltest::FileExists(path); ++i)
        Sleep(50);
    return zoltest::FileExists(path);
}

} // namespace

TEST(LanguageColumn, WholeCodesIgnoringLetterCase)
{
    EXPECT_EQ(CBaseComponent::GetLanguageColumn(L"fr"), 1);
    EXPECT_EQ(CBaseComponent::GetLanguageColumn(L"IT"), 2);
    EXPECT_EQ(CBaseComponent::GetLanguageColumn(L"De"), 3);
    EXPECT_EQ(CBaseComponent::GetLanguageColumn(L"es"), 4);
    EXPECT_EQ(CBaseComponent::GetLanguageColumn(L"ja"), 5);
    EXPECT_EQ(CBaseComponent::GetLanguageColumn(L"jA"), 5);
    for (const wchar_t* other : {L"en", L"", L"fr-FR", L"ja_JP", L"j", L"jap", L"nl"})
        EXPECT_EQ(CBaseComponent::GetLanguageColumn(other), 0) << zoltest::ToUtf8(other);
    EXPECT_EQ(CBaseComponent::GetLanguageColumn(nullptr), 0);
}

TEST(InstallMessages, JapaneseForJaEnglishForEveryOtherLanguage)
{
    for (int message : {0, 4, 5, 6, 7, 8}) {
        EXPECT_STREQ(CBaseComponent::SelectInstallMessage(message, L"ja"), GetMessageText(message, LANG_COL_JAPANESE));
        for (const wchar_t* language : {L"fr", L"it", L"de", L"es", L"en", L"xx", L""})
            EXPECT_STREQ(CBaseComponent::SelectInstallMessage(message, language),
                         GetMessageText(message, LANG_COL_ENGLISH));
    }
    EXPECT_STREQ(CBaseComponent::SelectInstallMessage(0, L"JA"), kUnknownTypeJa);
    EXPECT_STREQ(CBaseComponent::SelectInstallMessage(8, L"ja"), kShellFailed);
    // The direct columns hold the translations the selector passes over.
    EXPECT_STREQ(GetMessageText(6, LANG_COL_FRENCH), L"Pas de p\u00E9riph\u00E9rique \u00E0 installer");
    // The host's buffer is sized for the longest message: 191 characters.
    size_t longest = 0;
    for (int message = 0; message < MSG_COUNT; ++message)
        for (int column = 0; column < LANG_COL_COUNT; ++column)
            if (message == 0 || message >= 4)
                longest = std::max(longest, wcslen(CBaseComponent::SelectInstallMessage(message, column == 5 ? L"ja" : L"en")));
    EXPECT_EQ(longest, 191u);
}

TEST_F(InstallDispatch, EachTypeRunsItsPathWithTheHostsArguments)
{
    struct Case {
        int type;
        const char* path;
        const char* typeLine;
    } cases[] = {{1, "LEGACY", "Type=LEGACY"}, {2, "PNP", "Type=PNP"}, {3, "VIRTUAL", "Type=LEGACY"}};
    int b = 0;
    for (const Case& c : cases) {
        ClearLogs();
        m_component->paths.clear();
        m_component->SetType(c.type);
        m_component->pathResult = 2;
        EXPECT_EQ(m_component->Install(11, &b, m_message, 13, L"de"), 2);
        ASSERT_EQ(m_component->paths, std::vector<std::string>{c.path});
        EXPECT_EQ(m_component->lastA, 11);
        EXPECT_EQ(m_component->lastB, &b);
        EXPECT_EQ(m_component->lastMessage, m_message);
        EXPECT_EQ(m_component->lastD, 13);
        EXPECT_STREQ(m_component->lastLanguage, L"de");
        EXPECT_TRUE(MessageUntouched());
        EXPECT_EQ(MainLog(), "Initiating installation... \r\n");
        EXPECT_EQ(VerboseLog(), std::string("Initiating installation... ") + c.typeLine + "\r\n");
    }
    // A failing path's result and message come through unchanged.
    m_component->SetType(2);
    m_component->pathResult = 0;
    m_component->pathMessage = L"path message";
    EXPECT_EQ(m_component->Install(0, nullptr, m_message, 0, L"en"), 0);
    EXPECT_STREQ(m_message, L"path message");
}

TEST_F(InstallDispatch, UnknownTypeGivesMessage0AndAnEnglishErrorLine)
{
    for (int type : {-1, 0, 4}) {
        for (const wchar_t* language : {L"ja", L"JA", L"de", L"fr", L"es", L"it", L"en", L"xx"}) {
            ClearLogs();
            ResetMessage();
            m_component->SetType(type);
            EXPECT_EQ(m_component->Install(0, nullptr, m_message, 0, language), 0);
            bool japanese = _wcsicmp(language, L"ja") == 0;
            EXPECT_STREQ(m_message, japanese ? kUnknownTypeJa : kUnknownTypeEn);
            const std::string expected = "Initiating installation... \r\n"
                                         "**ERROR** - Unknown INF file type -- installation will not continue.\r\n";
            EXPECT_EQ(MainLog(), expected);
            EXPECT_EQ(VerboseLog(), expected);
        }
    }
    EXPECT_TRUE(m_component->paths.empty());
}

TEST_F(InstallDispatch, PostInstallCommandFailureTurnsAnyResultIntoMessage8)
{
    m_component->SetType(2);
    m_component->SetShellExecute(m_dir + L"\\missing.exe", m_dir);
    for (int pathResult : {0, 1, 2}) {
        ResetMessage();
        ClearLogs();
        m_component->pathResult = pathResult;
        m_component->pathMessage = pathResult ? nullptr : L"path message";
        EXPECT_EQ(m_component->Install(0, nullptr, m_message, 0, L"ja"), 0);
        EXPECT_STREQ(m_message, kShellFailed);
        EXPECT_EQ(VerboseLog(), "Initiating installation... Type=PNP\r\n"
                                "[T]::basecomp.cpp[297] Executing ShellExecute command... Failed!\r\n");
        EXPECT_EQ(MainLog(), "Initiating installation... \r\n");
    }
    // It runs after an unknown type too, and its message wins.
    ResetMessage();
    m_component->SetType(-1);
    EXPECT_EQ(m_component->Install(0, nullptr, m_message, 0, L"en"), 0);
    EXPECT_STREQ(m_message, kShellFailed);
}

TEST_F(InstallDispatch, PostInstallCommandThatWorksKeepsTheResult)
{
    // The command runs hidden in its own directory.
    ASSERT_TRUE(zoltest::WriteBytes(m_dir + L"\\post.bat", "@echo ran> ran.txt\r\n"));
    m_component->SetType(2);
    m_component->pathResult = 2;
    m_component->SetShellExecute(m_dir + L"\\post.bat", m_dir);
    EXPECT_EQ(m_component->Install(0, nullptr, m_message, 0, L"en"), 2);
    EXPECT_TRUE(MessageUntouched());
    EXPECT_TRUE(WaitForFile(m_dir + L"\\ran.txt"));
    EXPECT_EQ(VerboseLog(), "Initiating installation... Type=PNP\r\n"
                            "[T]::basecomp.cpp[297] Executing ShellExecute command... Done.\r\n");

    // Without a command there is no command line in the log.
    ClearLogs();
    m_component->SetShellExecute(L"", L"");
    m_component->pathResult = 1;
    EXPECT_EQ(m_component->Install(0, nullptr, m_message, 0, L"en"), 1);
    EXPECT_EQ(VerboseLog(), "Initiating installation... Type=PNP\r\n");
}
