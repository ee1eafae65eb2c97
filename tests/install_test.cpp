// Installation dispatch and the language rule in-process. The messages, the
// error line and the post-install command are checked through the host
// (pnphost_test).
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <thread>
#include <vector>

#include "basecomp.h"
#include "hostreport.h"
#include "hostsession.h"
#include "messages.h"
#include "support/installlock.h"
#include "testsupport.h"

namespace {

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
        return 2;
    }
};

} // namespace

TEST(LanguageRule, WholeCodesIgnoringLetterCaseJapaneseOrEnglishAtInstall)
{
    const wchar_t* codes[] = {L"fr", L"IT", L"De", L"es", L"jA"};
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(CBaseComponent::GetLanguageColumn(codes[i]), i + 1);
    for (const wchar_t* other : {L"en", L"", L"fr-FR", L"ja_JP", L"j", L"nl"})
        EXPECT_EQ(CBaseComponent::GetLanguageColumn(other), 0) << zoltest::ToUtf8(other);
    EXPECT_EQ(CBaseComponent::GetLanguageColumn(nullptr), 0);

    // The translations of the direct columns are passed over at install time.
    EXPECT_STREQ(CBaseComponent::SelectInstallMessage(6, L"fr"), L"No devices were found to install.");
    EXPECT_STREQ(CBaseComponent::SelectInstallMessage(6, L"JA"), GetMessageText(6, LANG_COL_JAPANESE));
    // The host's buffer is sized for the longest install-time message.
    size_t longest = 0;
    for (int message : {0, 4, 5, 6, 7, 8})
        for (const wchar_t* language : {L"en", L"ja"})
            longest = std::max(longest, wcslen(CBaseComponent::SelectInstallMessage(message, language)));
    EXPECT_EQ(longest, 191u);
}

TEST(InstallDispatch, EachTypeRunsItsPathWithTheHostsArgumentsAndLogsItsType)
{
    struct Case {
        int type;
        const char* path;
        const char* typeLine;
    } cases[] = {{1, "LEGACY", "Type=LEGACY"}, {2, "PNP", "Type=PNP"}, {3, "VIRTUAL", "Type=LEGACY"}};
    int b = 0;
    wchar_t message[256] = L"untouched";
    for (const Case& c : cases) {
        zoltest::ClearLogs();
        CDispatchComponent component;
        component.GetLog()->SetVerbose(1);
        component.GetLog()->Open();
        component.SetType(c.type);
        EXPECT_EQ(component.Install(11, &b, message, 13, L"de"), 2);
        component.GetLog()->Close();
        ASSERT_EQ(component.paths, std::vector<std::string>{c.path});
        EXPECT_EQ(component.lastA, 11);
        EXPECT_EQ(component.lastB, &b);
        EXPECT_EQ(component.lastMessage, message);
        EXPECT_EQ(component.lastD, 13);
        EXPECT_STREQ(component.lastLanguage, L"de");
        EXPECT_STREQ(message, L"untouched");
        EXPECT_EQ(zoltest::ReadMainLog(), "Initiating installation... \r\n");
        EXPECT_EQ(zoltest::ReadVerboseLogs(), std::string("Initiating installation... ") + c.typeLine + "\r\n");
    }
}

// The install lock, held by another process for longer than Install's wait
// (shortened here to 1 s through its seam), and then for less than it.
TEST(InstallLock, AnotherInstallationHoldingTheMutexStopsInstallWithMessage5AndItsProcessId)
{
    CDispatchComponent component;
    component.SetType(INF_TYPE_PNP);
    wchar_t message[256] = L"";
    {
        zoltest::CInstallLockHolder holder(30);
        ASSERT_TRUE(holder.Holding());
        zoltest::ClearLogs();
        component.GetLog()->SetVerbose(1);
        component.GetLog()->Open();
        DWORD previous = SetInstallWaitMs(1000);
        EXPECT_EQ(component.Install(0, nullptr, message, 0, L"ja"), 0);
        SetInstallWaitMs(previous);
        EXPECT_TRUE(component.paths.empty());
        EXPECT_STREQ(message, GetMessageText(MSG_INSTALL_ERROR, LANG_COL_JAPANESE));
        const std::string lines = "Waiting for another installation to finish... Gave up after 1 s.\r\n"
                                  "**ERROR** - Another installation is in progress (process ID " +
                                  std::to_string(holder.ProcessId()) + ").\r\n";
        EXPECT_EQ(zoltest::ReadMainLog(), lines);
        EXPECT_EQ(zoltest::MaskTimes(zoltest::ReadVerboseLogs()), "[T]::basecomp.cpp[262] " + lines);
        component.GetLog()->Close();
        // Released when the holder ends.
        EXPECT_EQ(holder.Wait(), 0u);
    }
    {
        // A holder that lets go within the wait: Install goes on.
        zoltest::CInstallLockHolder holder(2);
        ASSERT_TRUE(holder.Holding());
        zoltest::ClearLogs();
        CDispatchComponent later;
        later.SetType(INF_TYPE_PNP);
        later.GetLog()->Open();
        EXPECT_EQ(later.Install(0, nullptr, message, 0, L"en"), 2);
        later.GetLog()->Close();
        EXPECT_EQ(later.paths, std::vector<std::string>{"PNP"});
        EXPECT_EQ(zoltest::ReadMainLog(),
                  "Waiting for another installation to finish... Done.\r\nInitiating installation... \r\n");
    }
}

TEST(InstallLock, AHostHoldingTheMutexOnTheSameThreadLetsInstallRunAndKeepsItsRecord)
{
    CInstallLock host;
    ASSERT_TRUE(host.Acquire(0));
    EXPECT_EQ(host.ReadOwner(), GetCurrentProcessId());
    zoltest::ClearLogs();
    CDispatchComponent component;
    component.GetLog()->Open();
    component.SetType(INF_TYPE_PNP);
    wchar_t message[256] = L"";
    EXPECT_EQ(component.Install(0, nullptr, message, 0, L"en"), 2);
    component.GetLog()->Close();
    EXPECT_EQ(zoltest::ReadMainLog(), "Initiating installation... \r\n");
    // The component's release leaves the host's hold and record in place.
    EXPECT_EQ(host.ReadOwner(), GetCurrentProcessId());
    auto takenElsewhere = [] {
        bool taken = false;
        std::thread([&taken] { taken = CInstallLock().Acquire(0); }).join();
        return taken;
    };
    EXPECT_FALSE(takenElsewhere());
    host.Release();
    EXPECT_EQ(host.ReadOwner(), 0u);
    EXPECT_TRUE(takenElsewhere());
    EXPECT_EQ(zoltest::RunDevsim(L"hold-install-lock 0").exitCode, 0u);
}

// A lock held by a process that is not an administrator's is squatting, not
// a busy server: Install says so at once instead of waiting, the host's
// report gives the reason, and once the squatter lets go its file is moved
// aside and the lock made anew.
TEST(InstallLock, ALockFileAnotherAccountHoldsIsNamedAndNotWaitedFor)
{
    zoltest::CInstallLockHolder holder(8);
    ASSERT_TRUE(holder.Holding());
    // Wine reports every owner as its own account: the lock file is
    // reported as another account's.
    zoltest::CForeignOwnerScope squatter(CInstallLock::LockPath());
    ASSERT_TRUE(squatter.Valid());

    zoltest::ClearLogs();
    CDispatchComponent component;
    component.SetType(INF_TYPE_PNP);
    component.GetLog()->Open();
    wchar_t message[256] = L"";
    EXPECT_EQ(component.Install(0, nullptr, message, 0, L"en"), 0);
    component.GetLog()->Close();
    EXPECT_TRUE(component.paths.empty());
    EXPECT_STREQ(message, GetMessageText(MSG_INSTALL_ERROR, LANG_COL_ENGLISH));
    const std::string squatting = "The install lock C:\\DEVAVOROR\\zolcomp-install.lock is held by a process that is "
                                  "not an administrator's: process ID " + std::to_string(holder.ProcessId()) + ".";
    EXPECT_EQ(zoltest::ReadMainLog(), "**ERROR** - " + squatting + "\r\n");

    CInstallLock lock;
    EXPECT_FALSE(lock.Acquire(10000));
    EXPECT_EQ(lock.BusyReason(), LOCK_BUSY_NOT_ADMINISTRATOR);
    CHostReport report;
    CHostSession::NoteInstallLockRefusal(lock, report);
    EXPECT_EQ(report.exitCode, ZOL_EXIT_INSTALL_IN_PROGRESS);
    std::string json = zoltest::ToUtf8(report.RenderJson());
    EXPECT_NE(json.find(",\"install\":{\"result\":null,\"message\":\"" +
                        zoltest::ToUtf8(CHostReport::JsonString(zoltest::FromUtf8(squatting)).substr(1)) +
                        ",\"in_progress\":true,\"in_progress_reason\":\"not_administrator\"}"),
              std::string::npos)
        << json;

    EXPECT_EQ(holder.Wait(), 0u);
    EXPECT_TRUE(lock.Acquire(0));
    EXPECT_EQ(lock.ReadOwner(), GetCurrentProcessId());
    lock.Release();
}

// A holder record that is cut short (or anything else someone wrote there)
// names no process: the lock is busy all the same and the message says so
// without a process ID.
TEST(InstallLock, AHolderRecordCutShortNamesNoProcess)
{
    CInstallLock first;
    ASSERT_TRUE(first.Acquire(0));
    first.Release();
    HANDLE held = CreateFileW(CInstallLock::LockPath().c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    SetEndOfFile(held);
    WriteFile(held, "\xFF\xFF\xFF", 3, &written, nullptr);
    CInstallLock lock;
    EXPECT_FALSE(lock.Acquire(0));
    EXPECT_EQ(lock.BusyReason(), LOCK_BUSY_INSTALLATION);
    EXPECT_STREQ(InstallInProgressText(lock).GetString(), L"Another installation is in progress.");
    CloseHandle(held);
}
