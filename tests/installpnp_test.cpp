// The plug-and-play install path in-process: which files are staged, and
// (through the stand-in library) how each device's update is called and how
// failures and restart requests Wine cannot produce map to the result. The
// real update is proven at process level (pnphost_test).
#include <gtest/gtest.h>

#include <windows.h>
#include <newdev.h>
#include <setupapi.h>

#include <memory>

#include "basecomp.h"
#include "devices/installevents.h"
#include "devices/pnpdriver.h"
#include "support/emptyfolder.h"
#include "inf/infdriversection.h"
#include "messages.h"
#include "pnphelpers.h"
#include "testsupport.h"

using namespace pnptest;

namespace {

const wchar_t kId0E83[] = L"PCI\\VEN_8086&DEV_0E83&SUBSYS_7C41A2E9";
const wchar_t kId0E84[] = L"PCI\\VEN_8086&DEV_0E84&SUBSYS_7C41A2E9";
const wchar_t kAbsentId[] = L"PCI\\VEN_8086&DEV_FFFE&SUBSYS_00000000";
const wchar_t kDeviceFailedEn[] =
    L"Installation failed on at least one device.  One of the devices may have been deleted through Device Manager "
    L"and a reboot may be necessary to complete the driver installation for this device.";

// A copy of the chipset sample that is the component's own directory and
// the current directory for the test.
class PnPInstall : public ::testing::Test
{
protected:
    void SetUp() override
    {
        const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
        m_dir = zoltest::MakeTestDir(zoltest::FromUtf8(info->name()));
        ASSERT_TRUE(zoltest::CopyTree(zoltest::ExamplePath(L"chipset"), m_dir));
        m_cwd.reset(new CCurrentDirectoryScope(m_dir));
        m_module.reset(new CComponentDirectoryScope(m_dir));
        ASSERT_TRUE(m_module->Valid());
        zoltest::RemoveTree(StagingFolder());
        zoltest::ClearLogs();
        m_message[0] = L'\0';
    }
    void TearDown() override
    {
        m_module.reset();
        m_cwd.reset();
    }
    int InstallPnP(const std::vector<std::wstring>& ids, int rebootRequired = 0, const wchar_t* language = L"en")
    {
        CBaseComponent component;
        component.SetInfFile(L"zolchip.inf", INF_TYPE_PNP);
        component.SetRebootRequired(rebootRequired);
        for (const std::wstring& id : ids)
            component.AddSupportedHardwareId(id.c_str());
        m_before = Devices(component);
        component.GetLog()->Open();
        int result = component.InstallPnP(0, nullptr, m_message, 0, language);
        component.GetLog()->Close();
        m_after = Devices(component);
        return result;
    }
    // Property 10, asked as a host asks it: the header first, then room for
    // every record. A language code passed as extra is never written.
    static std::vector<ZOL_DEVICE_RESULT> Devices(CBaseComponent& component)
    {
        wchar_t language[] = L"en";
        EXPECT_EQ(component.GetProperty(ZOL_PROP_DEVICE_RESULTS, nullptr, 0, language), 0);
        std::vector<BYTE> block(ZOL_DEVICE_RESULTS_BYTES(0));
        auto header = [&block] { return reinterpret_cast<ZOL_DEVICE_RESULTS*>(block.data()); };
        header()->cbRecord = sizeof(ZOL_DEVICE_RESULT) + 1;
        header()->nCount = -1;
        EXPECT_EQ(component.GetProperty(ZOL_PROP_DEVICE_RESULTS, block.data(), static_cast<int>(block.size()), language),
                  0);
        EXPECT_EQ(header()->nCount, -1) << "a block of unknown records is not written";
        header()->cbRecord = sizeof(ZOL_DEVICE_RESULT);
        int answered =
            component.GetProperty(ZOL_PROP_DEVICE_RESULTS, block.data(), static_cast<int>(block.size()), language);
        const int count = header()->nCount;
        EXPECT_EQ(answered, count == 0 ? 1 : 0);
        EXPECT_STREQ(language, L"en");
        std::vector<ZOL_DEVICE_RESULT> records;
        if (count > 0) {
            block.assign(ZOL_DEVICE_RESULTS_BYTES(count), 0);
            header()->cbRecord = sizeof(ZOL_DEVICE_RESULT);
            EXPECT_EQ(component.GetProperty(ZOL_PROP_DEVICE_RESULTS, block.data(), static_cast<int>(block.size()),
                                            language),
                      1);
            records.assign(header()->Devices, header()->Devices + count);
        }
        return records;
    }
    // "instance hardware-ID outcome reason error restart" for each record.
    static std::vector<std::wstring> Outcomes(const std::vector<ZOL_DEVICE_RESULT>& records)
    {
        std::vector<std::wstring> out;
        for (const ZOL_DEVICE_RESULT& r : records)
            out.push_back(std::wstring(r.szInstanceId) + L" " + r.szHardwareId + L" " + std::to_wstring(r.nOutcome) +
                          L" " + std::to_wstring(r.nReason) + L" " + std::to_wstring(r.dwError) + L" " +
                          std::to_wstring(r.bRestart));
        return out;
    }

    std::wstring m_dir;
    std::unique_ptr<CCurrentDirectoryScope> m_cwd;
    std::unique_ptr<CComponentDirectoryScope> m_module;
    wchar_t m_message[512];
    std::vector<ZOL_DEVICE_RESULT> m_before, m_after;
};

// Stands in for the platform's wait for pending device installations.
std::vector<DWORD> g_pendingWaits;
DWORD g_pendingAnswerAfterFirst = WAIT_OBJECT_0;
DWORD WINAPI FakePendingWait(DWORD timeoutMs)
{
    g_pendingWaits.push_back(timeoutMs);
    return g_pendingWaits.size() == 1 ? WAIT_TIMEOUT : g_pendingAnswerAfterFirst;
}

} // namespace

TEST(PnPDriverNames, CompressedNamesAndListsWithoutRepeats)
{
    EXPECT_STREQ(CWin2000PnPDriver::GetCompressedName(L"driver.sys").GetString(), L"driver.sy_");
    EXPECT_STREQ(CWin2000PnPDriver::GetCompressedName(L"setup.inf").GetString(), L"setup.in_");
    EXPECT_STREQ(CWin2000PnPDriver::GetCompressedName(L"page.html").GetString(), L"page.htm_");
    EXPECT_STREQ(CWin2000PnPDriver::GetCompressedName(L"a.h").GetString(), L"a.h_");
    EXPECT_STREQ(CWin2000PnPDriver::GetCompressedName(L"readme").GetString(), L"readme._");
    EXPECT_STREQ(CWin2000PnPDriver::GetCompressedName(L"archive.tar.gz").GetString(), L"archive.tar.gz_");

    CWin2000PnPDriver driver(L"x.inf", 1);
    for (const wchar_t* id : {L"PCI\\VEN_1", L"PCI\\VEN_1", L"pci\\ven_1"})
        driver.AddHardwareId(id);
    EXPECT_EQ(ToVector(driver.GetHardwareIds()), (std::vector<std::wstring>{L"PCI\\VEN_1", L"pci\\ven_1"}));
    for (const wchar_t* name : {L"a.sys", L"a.sys", L"A.sys", L"", L"a.sy_"})
        EXPECT_EQ(driver.AddStageFile(name), 1);
    EXPECT_EQ(ToVector(driver.GetStageFiles()), (std::vector<std::wstring>{L"a.sys", L"a.sy_", L"A.sys", L"A.sy_"}));
}

TEST_F(PnPInstall, StagesTheInfItsCatalogsAndEveryFileItCopies)
{
    ASSERT_TRUE(zoltest::WriteBytes(m_dir + L"\\zolchip.sy_", "compressed"));
    // A read-only copy left by an earlier run is overwritten.
    CreateDirectoryW(L"C:\\DEVAVOROR", nullptr);
    CreateDirectoryW(StagingFolder().c_str(), nullptr);
    std::wstring old = StagingFolder() + L"\\zolchip.cfg";
    ASSERT_TRUE(zoltest::WriteBytes(old, "old"));
    SetFileAttributesW(old.c_str(), FILE_ATTRIBUTE_READONLY);

    CWin2000PnPDriver driver(L"zolchip.inf", 1);
    // The compressed names of files the package does not hold fail to copy.
    EXPECT_EQ(driver.StageDriverFiles(StagingFolder().c_str()), 0);
    EXPECT_EQ(ToVector(driver.GetStageFiles()),
              (std::vector<std::wstring>{L"zolchip.inf", L"zolchip.in_", L"zolchip_x86.cat", L"zolchip_x86.ca_",
                                         L"zolchip_amd64.cat", L"zolchip_amd64.ca_", L"zolchip.sys", L"zolchip.sy_",
                                         L"zolchip.cfg", L"zolchip.cf_", L"zolchip_src.dat", L"zolchip_src.da_"}));
    EXPECT_EQ(FilesIn(StagingFolder()),
              (std::vector<std::wstring>{L"zolchip.cfg", L"zolchip.inf", L"zolchip.sy_", L"zolchip.sys",
                                         L"zolchip_amd64.cat", L"zolchip_src.dat", L"zolchip_x86.cat"}));
    EXPECT_EQ(zoltest::ReadBytes(old), zoltest::ReadBytes(m_dir + L"\\zolchip.cfg"));

    // An INF that cannot be opened (or named at all) stages only itself.
    CWin2000PnPDriver missing(L"missing.inf", 1);
    missing.StageDriverFiles(StagingFolder().c_str());
    EXPECT_EQ(ToVector(missing.GetStageFiles()), (std::vector<std::wstring>{L"missing.inf", L"missing.in_"}));
    CWin2000PnPDriver tooLong((std::wstring(400, L'i') + L".inf").c_str(), 1);
    EXPECT_EQ(tooLong.StageDriverFiles(StagingFolder().c_str()), 0);
    EXPECT_EQ(tooLong.GetStageFiles().size(), 2u);
}

TEST_F(PnPInstall, StagingFollowsEveryCopyFilesFormAndCatalogKey)
{
    std::wstring longName(300, L'n');
    std::wstring inf = L"[Version]\r\nSignature=\"$Windows NT$\"\r\nCatalogFile=all.cat\r\nCatalogFile.nt=nt.cat\r\n"
                       L"CatalogFile.ntia64=" + longName + L".cat\r\n"
                       L"[Install.NT]\r\n"
                       L"CopyFiles=@first.sys, ListA, Missing.Section, @" + longName + L".sys\r\n"
                       L"CopyFiles=ListB\r\n"
                       L"[Other]\r\ncopyfiles=ListA,@readme\r\n"
                       L"[ListA]\r\ndest.sys,src.sys\r\nplain.dll\r\nempty_source.dll,\r\n"
                       L"[ListB]\r\nfirst.sys\r\n";
    ASSERT_TRUE(zoltest::WriteUtf8(m_dir + L"\\test.inf", inf));
    for (const wchar_t* name : {L"first.sys", L"src.sys", L"plain.dll", L"empty_source.dll", L"readme", L"all.cat"})
        ASSERT_TRUE(zoltest::WriteBytes(m_dir + L"\\" + name, "x"));

    CWin2000PnPDriver driver(L"test.inf", 1);
    EXPECT_EQ(driver.StageDriverFiles(StagingFolder().c_str()), 0);
    // A catalog name too long for its field is left out; the over-long "@"
    // name is listed but its copy fails (its path does not fit).
    EXPECT_EQ(ToVector(driver.GetStageFiles()),
              (std::vector<std::wstring>{L"test.inf", L"test.in_", L"all.cat", L"all.ca_", L"nt.cat", L"nt.ca_",
                                         L"first.sys", L"first.sy_", longName + L".sys", longName + L".sy_",
                                         L"readme", L"readme._", L"src.sys", L"src.sy_", L"plain.dll", L"plain.dl_",
                                         L"empty_source.dll", L"empty_source.dl_"}));
    EXPECT_EQ(FilesIn(StagingFolder()), (std::vector<std::wstring>{L"all.cat", L"empty_source.dll", L"first.sys",
                                                                   L"plain.dll", L"readme", L"src.sys", L"test.inf"}));
}

TEST_F(PnPInstall, StagingSeesSectionsPastAnyNameBuffer)
{
    // 300 sections of 40-character names come before the one that copies:
    // its file is staged as the platform would copy it.
    std::wstring inf = L"[Version]\r\nSignature=\"$Windows NT$\"\r\n";
    for (int i = 0; i < 300; ++i) {
        wchar_t name[64];
        wsprintfW(name, L"Filler%033d", i);
        inf += std::wstring(L"[") + name + L"]\r\nAddReg=Reg\r\n";
    }
    inf += L"[Late.NT]\r\nCopyFiles=@late.sys\r\n";
    ASSERT_TRUE(zoltest::WriteUtf8(m_dir + L"\\late.inf", inf));
    ASSERT_TRUE(zoltest::WriteBytes(m_dir + L"\\late.sys", "x"));
    CWin2000PnPDriver driver(L"late.inf", 1);
    driver.StageDriverFiles(StagingFolder().c_str());
    EXPECT_EQ(ToVector(driver.GetStageFiles()),
              (std::vector<std::wstring>{L"late.inf", L"late.in_", L"late.sys", L"late.sy_"}));
    EXPECT_EQ(FilesIn(StagingFolder()), (std::vector<std::wstring>{L"late.inf", L"late.sys"}));
}

TEST_F(PnPInstall, EachPresentIdIsUpdatedOnceFromTheStagedInf)
{
    CSimulatedDevice device({kId0E83});
    CSimulatedDevice other({kId0E84});
    ASSERT_FALSE(device.Instance().empty() || other.Instance().empty());
    CFakeNewDevLibrary library;
    CNewDevOverrideScope scope(&library);
    UINT errorMode = GetErrorMode();

    const wchar_t lower[] = L"pci\\ven_8086&dev_0e83&subsys_7c41a2e9";
    EXPECT_EQ(InstallPnP({kId0E83, kAbsentId, lower, kId0E84, kId0E83}), 1);
    EXPECT_STREQ(m_message, L"");

    // Listed twice: once; differing only in case: both.
    ASSERT_EQ(library.calls.size(), 3u);
    EXPECT_EQ(library.calls[0].hardwareId, kId0E83);
    EXPECT_EQ(library.calls[1].hardwareId, lower);
    EXPECT_EQ(library.calls[2].hardwareId, kId0E84);
    for (const UPDATECALL& call : library.calls) {
        EXPECT_EQ(call.infPath, L"C:\\DEVAVOROR\\pnpdrvs\\zolchip.inf");
        EXPECT_EQ(call.flags, static_cast<DWORD>(INSTALLFLAG_FORCE));
    }
    wchar_t system[MAX_PATH];
    GetSystemDirectoryW(system, MAX_PATH);
    EXPECT_EQ(library.loadPaths, std::vector<std::wstring>{std::wstring(system) + L"\\newdev.dll"});
    EXPECT_TRUE(library.errorModeAtLoad & SEM_FAILCRITICALERRORS);
    EXPECT_EQ(GetErrorMode(), errorMode);
    EXPECT_EQ(library.frees, 1);
    EXPECT_TRUE(zoltest::FileExists(StagingFolder() + L"\\zolchip.inf"));
}

// When the update reads the staged INF, another process tries to put its
// own INF there: over it, after deleting it, after renaming it away. The
// staged copies stay open against writes, renames and deletes, so every try
// fails and the platform's update installs the package's INF.
class CSwappingLibrary : public CFakeNewDevLibrary
{
public:
    explicit CSwappingLibrary(const std::wstring& theirs) : m_theirs(theirs) {}
    int Load(const wchar_t* path) override
    {
        CFakeNewDevLibrary::Load(path);
        return m_real.Load(path);
    }
    int FindUpdateFunction() override { return m_real.FindUpdateFunction(); }
    BOOL UpdateDriver(const wchar_t* hardwareId, const wchar_t* infPath, DWORD flags, BOOL* reboot) override
    {
        CFakeNewDevLibrary::UpdateDriver(hardwareId, infPath, flags, reboot);
        const std::wstring staged(infPath), away = staged + L".away";
        overwrite = CopyFileW(m_theirs.c_str(), infPath, FALSE) ? ERROR_SUCCESS : GetLastError();
        remove = DeleteFileW(infPath) ? ERROR_SUCCESS : GetLastError();
        rename = MoveFileExW(infPath, away.c_str(), 0) ? ERROR_SUCCESS : GetLastError();
        if (remove == ERROR_SUCCESS || rename == ERROR_SUCCESS)
            CopyFileW(m_theirs.c_str(), infPath, FALSE);
        return m_real.UpdateDriver(hardwareId, infPath, flags, reboot);
    }
    void Free() override
    {
        CFakeNewDevLibrary::Free();
        m_real.Free();
    }
    DWORD overwrite = 0, remove = 0, rename = 0;

private:
    std::wstring m_theirs;
    CNewDevLibrary m_real;
};

// Every INF the platform has taken into its INF folder, as one text.
std::string InstalledInfs()
{
    wchar_t windows[MAX_PATH] = {};
    GetWindowsDirectoryW(windows, MAX_PATH);
    std::string all;
    for (const std::wstring& name : FilesIn(std::wstring(windows) + L"\\inf"))
        if (name.size() > 4 && _wcsicmp(name.c_str() + name.size() - 4, L".inf") == 0)
            all += zoltest::ReadBytes(std::wstring(windows) + L"\\inf\\" + name);
    return all;
}

TEST_F(PnPInstall, AStagedInfCannotBeSwappedBeforeTheUpdateReadsIt)
{
    CSimulatedDevice device({kId0E83});
    ASSERT_FALSE(device.Instance().empty());
    const std::wstring theirs = m_dir + L"\\theirs.inf";
    std::string text = zoltest::ReadBytes(m_dir + L"\\zolchip.inf");
    ASSERT_TRUE(zoltest::WriteBytes(theirs, "; swapped in by another process\r\n" + text));
    CSwappingLibrary library(theirs);
    CNewDevOverrideScope scope(&library);

    EXPECT_EQ(InstallPnP({kId0E83}), 1);
    ASSERT_EQ(library.calls.size(), 1u);
    EXPECT_EQ(library.overwrite, DWORD(ERROR_SHARING_VIOLATION));
    EXPECT_EQ(library.remove, DWORD(ERROR_SHARING_VIOLATION));
    EXPECT_EQ(library.rename, DWORD(ERROR_SHARING_VIOLATION));
    EXPECT_EQ(zoltest::ReadBytes(StagingFolder() + L"\\zolchip.inf"), text);
    EXPECT_EQ(InstalledInfs().find("swapped in by another process"), std::string::npos);
    EXPECT_NE(InstalledInfs().find(text.substr(0, 40)), std::string::npos);
}

// What an earlier run or anyone else left in the staging folder is gone
// before the package is staged: files one by one, subfolders with their
// content, links as links (what they point to stays).
TEST_F(PnPInstall, StagingStartsFromAnEmptyFolder)
{
    CWin2000PnPDriver first(L"zolchip.inf", 1);
    ASSERT_EQ(first.StageDriverFiles(StagingFolder().c_str()), 0);
    first.ReleaseStagedFiles();
    const std::wstring outside = zoltest::MakeTestDir(L"outside");
    ASSERT_TRUE(zoltest::WriteBytes(outside + L"\\kept.txt", "kept"));
    ASSERT_TRUE(zoltest::WriteBytes(StagingFolder() + L"\\zolchip.sys", "planted"));
    ASSERT_TRUE(zoltest::WriteBytes(StagingFolder() + L"\\stale.txt", "stale"));
    SetFileAttributesW((StagingFolder() + L"\\stale.txt").c_str(), FILE_ATTRIBUTE_READONLY);
    ASSERT_TRUE(CreateDirectoryW((StagingFolder() + L"\\sub").c_str(), nullptr));
    ASSERT_TRUE(zoltest::WriteBytes(StagingFolder() + L"\\sub\\zolchip.inf", "planted"));

    CWin2000PnPDriver driver(L"zolchip.inf", 1);
    EXPECT_EQ(driver.StageDriverFiles(StagingFolder().c_str()), 0);
    driver.ReleaseStagedFiles();
    EXPECT_EQ(zoltest::ReadBytes(StagingFolder() + L"\\zolchip.sys"), zoltest::ReadBytes(m_dir + L"\\zolchip.sys"));
    EXPECT_FALSE(zoltest::FileExists(StagingFolder() + L"\\stale.txt"));
    EXPECT_FALSE(zoltest::FileExists(StagingFolder() + L"\\sub"));
    const std::vector<std::wstring> staged{L"zolchip.cfg", L"zolchip.inf", L"zolchip.sys", L"zolchip_amd64.cat",
                                           L"zolchip_src.dat", L"zolchip_x86.cat"};
    EXPECT_EQ(FilesIn(StagingFolder()), staged);
    EXPECT_TRUE(driver.GetNotes().empty());

    // A link is removed as the link. Wine's platform calls follow the Linux
    // link whatever they are asked, so there it cannot be: the folder holding
    // it goes aside whole instead, and what it points to stays.
    ASSERT_TRUE(zoltest::MakeUnixLink(outside, StagingFolder() + L"\\link"));
    CWin2000PnPDriver again(L"zolchip.inf", 1);
    EXPECT_EQ(again.StageDriverFiles(StagingFolder().c_str()), 0);
    EXPECT_EQ(zoltest::ReadBytes(outside + L"\\kept.txt"), "kept");
    EXPECT_EQ(FilesIn(StagingFolder()), staged);
    EXPECT_FALSE(zoltest::FileExists(StagingFolder() + L"\\link"));
    ASSERT_EQ(again.GetNotes().size(), 1u);
    EXPECT_NE(zoltest::ToUtf8(again.GetNotes()[0].GetString()).find("\\link is a link"), std::string::npos)
        << zoltest::ToUtf8(again.GetNotes()[0].GetString());
}

// The race a user who owns a subfolder of an old staging folder can run:
// between the listing and the entry, the subfolder is swapped for a link to
// a folder elsewhere (here by the emptying's seam). Nothing outside the
// staging folder changes: the swapped entry is not the one listed, so it is
// neither entered nor deleted, and the staging folder goes aside whole.
namespace {
std::wstring g_swapEntry, g_swapTarget;
void SwapForLink(const std::wstring& entry)
{
    if (_wcsicmp(entry.c_str(), g_swapEntry.c_str()) != 0)
        return;
    ASSERT_TRUE(MoveFileW(entry.c_str(), (entry + L".moved").c_str()));
    ASSERT_TRUE(zoltest::MakeUnixLink(g_swapTarget, entry));
}
} // namespace

TEST_F(PnPInstall, AStagingSubfolderSwappedForALinkIsNeitherEnteredNorDeletedThrough)
{
    CWin2000PnPDriver first(L"zolchip.inf", 1);
    ASSERT_EQ(first.StageDriverFiles(StagingFolder().c_str()), 0);
    first.ReleaseStagedFiles();
    const std::wstring outside = zoltest::MakeTestDir(L"outside");
    ASSERT_TRUE(CreateDirectoryW((outside + L"\\inner").c_str(), nullptr));
    ASSERT_TRUE(zoltest::WriteBytes(outside + L"\\victim.txt", "victim"));
    ASSERT_TRUE(zoltest::WriteBytes(outside + L"\\inner\\victim2.txt", "victim2"));
    ASSERT_TRUE(CreateDirectoryW((StagingFolder() + L"\\sub").c_str(), nullptr));
    ASSERT_TRUE(zoltest::WriteBytes(StagingFolder() + L"\\sub\\old.txt", "old"));

    g_swapEntry = StagingFolder() + L"\\sub";
    g_swapTarget = outside;
    PFN_EMPTY_FOLDER_HOOK previous = SetEmptyFolderHookForTest(SwapForLink);
    CWin2000PnPDriver driver(L"zolchip.inf", 1);
    int staged = driver.StageDriverFiles(StagingFolder().c_str());
    SetEmptyFolderHookForTest(previous);
    zoltest::RemoveUnixLink(g_swapEntry);

    EXPECT_EQ(zoltest::ReadBytes(outside + L"\\victim.txt"), "victim");
    EXPECT_EQ(zoltest::ReadBytes(outside + L"\\inner\\victim2.txt"), "victim2");
    // The folder with the link went aside; the package was staged in a new one.
    EXPECT_EQ(staged, 0); // the sample names files the package does not hold
    EXPECT_EQ(zoltest::ReadBytes(StagingFolder() + L"\\zolchip.sys"), zoltest::ReadBytes(m_dir + L"\\zolchip.sys"));
    EXPECT_FALSE(zoltest::FileExists(StagingFolder() + L"\\sub.moved"));
    ASSERT_EQ(driver.GetNotes().size(), 1u);
    std::string note = zoltest::ToUtf8(driver.GetNotes()[0].GetString());
    EXPECT_EQ(note.rfind("Untrusted folder moved aside: C:\\DEVAVOROR\\pnpdrvs -> C:\\DEVAVOROR\\pnpdrvs.untrusted-", 0), 0u)
        << note;
    EXPECT_NE(note.find("(C:\\DEVAVOROR\\pnpdrvs\\sub is a link or changed after the listing)"), std::string::npos)
        << note;
}

TEST_F(PnPInstall, RestartRequestsAndFailedUpdatesDecideTheResult)
{
    CSimulatedDevice a({kId0E83});
    CSimulatedDevice b({kId0E84});
    ASSERT_FALSE(a.Instance().empty() || b.Instance().empty());
    {
        CFakeNewDevLibrary library;
        library.SetOutcome(kId0E84, TRUE, TRUE);
        CNewDevOverrideScope scope(&library);
        EXPECT_EQ(InstallPnP({kId0E83, kId0E84}), 2);
        EXPECT_STREQ(m_message, L"");
        EXPECT_EQ(zoltest::ReadMainLog(), "");
    }
    {
        // A restart request, then a failure (with the package demanding a
        // restart as well): 0 with message 7; the loop went on.
        CFakeNewDevLibrary library;
        library.SetOutcome(kId0E83, TRUE, TRUE);
        library.SetOutcome(kId0E84, FALSE, FALSE);
        CNewDevOverrideScope scope(&library);
        EXPECT_EQ(InstallPnP({kId0E83, kId0E84}, 1, L"de"), 0);
        EXPECT_STREQ(m_message, kDeviceFailedEn);
        EXPECT_EQ(library.calls.size(), 2u);
        // The failed device, with the platform's code and text.
        std::string log = zoltest::ReadMainLog();
        const std::string line =
            "**ERROR** - Driver update failed: PCI\\VEN_8086&DEV_0E84&SUBSYS_7C41A2E9, error 0xE000020B";
        EXPECT_EQ(log.compare(0, line.size(), line), 0) << log;
        EXPECT_EQ(zoltest::Lines(log).size(), 1u) << log;
    }
    {
        CFakeNewDevLibrary library;
        library.SetOutcome(kId0E83, FALSE, FALSE);
        CNewDevOverrideScope scope(&library);
        EXPECT_EQ(InstallPnP({kId0E83, kId0E84}), 0);
        EXPECT_EQ(library.calls.size(), 2u);
    }
    zoltest::RemoveTree(StagingFolder());
    {   // A missing function frees the library and stages nothing.
        CFakeNewDevLibrary library;
        library.hasFunction = 0;
        CNewDevOverrideScope scope(&library);
        EXPECT_EQ(InstallPnP({kId0E83}), 0);
        EXPECT_STREQ(m_message, L"An error occurred during installation.");
        EXPECT_EQ(library.frees, 1);
        EXPECT_TRUE(library.calls.empty());
        EXPECT_TRUE(FilesIn(StagingFolder()).empty());
        EXPECT_NE(zoltest::ReadMainLog().find("**ERROR** - Driver update function not found: "
                                              "UpdateDriverForPlugAndPlayDevicesW in "),
                  std::string::npos);
    }
}

TEST_F(PnPInstall, IdOrInfTooLongForItsBufferCountsAsAFailedDevice)
{
    CFakeNewDevLibrary library;
    CNewDevOverrideScope scope(&library);
    std::wstring longest(255, L'A'), tooLong(256, L'B');
    CWin2000PnPDriver driver(L"zolchip.inf", 1);
    for (const std::wstring& id : {longest, tooLong, std::wstring(kId0E83)})
        driver.AddHardwareId(id.c_str());
    EXPECT_EQ(driver.InstallDrivers(), PNP_INSTALL_UPDATE_FAILED);
    ASSERT_EQ(library.calls.size(), 2u);
    EXPECT_EQ(library.calls[0].hardwareId, longest);
    EXPECT_EQ(library.calls[1].hardwareId, kId0E83);

    library.calls.clear();
    CWin2000PnPDriver longInf((std::wstring(300, L'i') + L".inf").c_str(), 1);
    longInf.AddHardwareId(kId0E83);
    EXPECT_EQ(longInf.InstallDrivers(), PNP_INSTALL_UPDATE_FAILED);
    EXPECT_TRUE(library.calls.empty());
}

TEST_F(PnPInstall, NoSupportedIdGivesMessage4InBothLogs)
{
    zoltest::ClearLogs();
    CBaseComponent component;
    component.GetLog()->SetVerbose(1);
    component.GetLog()->Open();
    component.SetInfFile(L"zolchip.inf", INF_TYPE_PNP);
    EXPECT_EQ(component.InstallPnP(0, nullptr, m_message, 0, L"fr"), 0);
    EXPECT_STREQ(m_message, L"No supported devices were specified.");
    component.GetLog()->Close();
    EXPECT_EQ(zoltest::ReadMainLog(), "No supported devices were specified.\r\n");
    EXPECT_EQ(zoltest::ReadVerboseLogs(), "No supported devices were specified.\r\n");
}

TEST(InfDriverSection, ChoosesTheModelsAndInstallSectionsThisPlatformUses)
{
    std::wstring dir = zoltest::MakeTestDir(L"driversection");
    std::wstring inf =
        L"[Version]\r\nSignature=\"$Windows NT$\"\r\n"
        L"[Manufacturer]\r\nA=Models,NTx86,NTamd64,NTamd64.6.1,NTamd64.10.0,NT.6.0,NTamd64.6.0.1,NTamd64.5.2.3\r\n"
        L"B=Plain,NTamd64.6.0\r\n"
        L"[Models.NTx86]\r\nD=X86,PCI\\DEV_1\r\n[Models.NTamd64]\r\nD=Amd64,PCI\\DEV_1\r\n"
        L"[Models.NTamd64.6.1]\r\nD=Amd64_61,PCI\\DEV_1\r\n[Models.NT.6.0]\r\nD=Nt60,PCI\\DEV_1\r\n"
        L"[Models.NTamd64.6.0.1]\r\nD=Workstation60,PCI\\DEV_1\r\n[Models.NTamd64.5.2.3]\r\nD=Server52,PCI\\DEV_1\r\n"
        L"[Plain]\r\nD=Other,PCI\\DEV_2,PCI\\COMPAT,PCI\\ONLYCOMPAT\r\nD=Third,pci\\dev_3\r\nD=Late,PCI\\COMPAT\r\n"
        L"[Amd64_61]\r\n[Amd64_61.NT]\r\n[Amd64_61.NTamd64]\r\nCopyFiles=@one.sys,List\r\nCopyFiles=List2,NoList\r\n"
        L"[List]\r\ndest.sys,src.sys\r\nplain.dll\r\n[List2]\r\nONE.SYS\r\n"
        L"[Amd64_61.NTamd64.CoInstallers]\r\nCopyFiles=@coinst.dll\r\n[Amd64_61.CoInstallers]\r\nCopyFiles=@no.dll\r\n"
        L"[Other]\r\n[Other.NT]\r\nCopyFiles=@other.sys\r\n[Other.NTx86]\r\nCopyFiles=@other32.sys\r\n";
    ASSERT_TRUE(zoltest::WriteUtf8(dir + L"\\sections.inf", inf));
    CUniqueInf handle(SetupOpenInfFileW((dir + L"\\sections.inf").c_str(), nullptr, INF_STYLE_WIN4, nullptr));
    ASSERT_TRUE(handle.valid());

    auto install = [&](const CInfDriverSection& sections, const wchar_t* id) {
        CStr section;
        return sections.InstallSection(id, &section) ? std::wstring(section.GetString()) : std::wstring(L"<none>");
    };
    // The highest version not above the system's; an architecture over none;
    // a product type only where it matches; a listed section the INF lacks
    // (NTamd64.10.0) passed over.
    EXPECT_EQ(install(CInfDriverSection(handle.get(), 6, 1, VER_NT_SERVER), L"pci\\dev_1"), L"Amd64_61.NTamd64");
    EXPECT_EQ(install(CInfDriverSection(handle.get(), 10, 0, VER_NT_SERVER), L"PCI\\DEV_1"), L"Amd64_61.NTamd64");
    EXPECT_EQ(install(CInfDriverSection(handle.get(), 6, 0, VER_NT_WORKSTATION), L"PCI\\DEV_1"), L"Workstation60");
    EXPECT_EQ(install(CInfDriverSection(handle.get(), 6, 0, VER_NT_SERVER), L"PCI\\DEV_1"), L"Nt60");
    EXPECT_EQ(install(CInfDriverSection(handle.get(), 5, 2, VER_NT_SERVER), L"PCI\\DEV_1"), L"Server52");
    EXPECT_EQ(install(CInfDriverSection(handle.get(), 5, 0, VER_NT_SERVER), L"PCI\\DEV_1"), L"Amd64");

    // A decoration listed without its section leaves the plain one; the
    // hardware ID over an earlier compatible ID; ".NTamd64", then ".NT",
    // then the plain name.
    CInfDriverSection here(handle.get(), 6, 1, VER_NT_SERVER);
    EXPECT_EQ(install(here, L"PCI\\DEV_3"), L"Third");
    EXPECT_EQ(install(here, L"PCI\\COMPAT"), L"Late");
    EXPECT_EQ(install(here, L"PCI\\ONLYCOMPAT"), L"Other.NT");
    EXPECT_EQ(install(here, L"PCI\\DEV_9"), L"<none>");

    // The co-installers section of the chosen install section adds its
    // files; that of another decoration does not.
    CStrList files;
    EXPECT_TRUE(here.SourceFiles(L"PCI\\DEV_1", &files));
    EXPECT_EQ(ToVector(files), (std::vector<std::wstring>{L"one.sys", L"src.sys", L"plain.dll", L"coinst.dll"}));
    EXPECT_TRUE(here.SourceFiles(L"PCI\\DEV_2", &files));
    EXPECT_EQ(ToVector(files), std::vector<std::wstring>{L"other.sys"});
    EXPECT_FALSE(here.SourceFiles(L"PCI\\DEV_9", &files));
    EXPECT_TRUE(files.empty());
}

TEST_F(PnPInstall, OnlyFilesThisRunStagedFromThePackageCountForTheUpdate)
{
    // The x86 install section names files this package does not ship; the
    // update on this platform never copies them.
    ASSERT_TRUE(zoltest::EditFile(m_dir + L"\\zolchip.inf", "[ZolChip_Install.NT]",
                                  "[ZolChip_Install.NTx86]\r\nCopyFiles=@zolchip32.sys,ZolChip32.Files\r\n"
                                  "[ZolChip32.Files]\r\nzolchip32.dat\r\n[ZolChip_Install.NT]"));
    CSimulatedDevice device({kId0E83});
    ASSERT_FALSE(device.Instance().empty());
    CFakeNewDevLibrary library;
    CNewDevOverrideScope scope(&library);
    EXPECT_EQ(InstallPnP({kId0E83}), 1);
    EXPECT_EQ(library.calls.size(), 1u);
    EXPECT_EQ(zoltest::ReadMainLog(), "");

    // The copy staged by that install does not stand in for the missing
    // file: no update, message 5, and the file named.
    ASSERT_TRUE(DeleteFileW((m_dir + L"\\zolchip.sys").c_str()));
    ASSERT_TRUE(zoltest::FileExists(StagingFolder() + L"\\zolchip.sys"));
    EXPECT_EQ(InstallPnP({kId0E83}, 0, L"JA"), 0);
    EXPECT_STREQ(m_message, GetMessageText(MSG_INSTALL_ERROR, LANG_COL_JAPANESE));
    EXPECT_EQ(library.calls.size(), 1u);
    EXPECT_EQ(zoltest::ReadMainLog(), "**ERROR** - Package file missing: zolchip.sys\r\n");

    // Its compressed form is the file; a file-list entry is required under
    // its source name; the INF itself is required too.
    ASSERT_TRUE(zoltest::WriteBytes(m_dir + L"\\zolchip.sy_", "compressed"));
    EXPECT_EQ(InstallPnP({kId0E83}), 1);
    EXPECT_EQ(library.calls.size(), 2u);
    ASSERT_TRUE(DeleteFileW((m_dir + L"\\zolchip_src.dat").c_str()));
    zoltest::ClearLogs();
    EXPECT_EQ(InstallPnP({kId0E83}), 0);
    EXPECT_EQ(zoltest::ReadMainLog(), "**ERROR** - Package file missing: zolchip_src.dat\r\n");
    CWin2000PnPDriver staged(L"zolchip.inf", 1);
    ASSERT_TRUE(DeleteFileW((m_dir + L"\\zolchip.inf").c_str()));
    staged.StageDriverFiles(StagingFolder().c_str());
    EXPECT_EQ(ToVector(staged.FindMissingPackageFiles((StagingFolder() + L"\\zolchip.inf").c_str())),
              std::vector<std::wstring>{L"zolchip.inf"});
    EXPECT_EQ(library.calls.size(), 2u);
}

// The co-installer DLL is copied by the device installation as the driver
// files are: without it the package is refused before any update.
TEST_F(PnPInstall, ACoInstallerFileIsRequiredLikeTheDriverFiles)
{
    ASSERT_TRUE(zoltest::EditFile(m_dir + L"\\zolchip.inf", "ZolChip.Files  = 12",
                                  "ZolChip.Files  = 12\r\nZolChip.CoInstaller = 11"));
    ASSERT_TRUE(zoltest::EditFile(m_dir + L"\\zolchip.inf", "[ZolChip_Install.NT.Services]",
                                  "[ZolChip_Install.NT.CoInstallers]\r\nCopyFiles = ZolChip.CoInstaller\r\n"
                                  "[ZolChip.CoInstaller]\r\nzolcoins.dll\r\n[ZolChip_Install.NT.Services]"));
    CSimulatedDevice device({kId0E83});
    ASSERT_FALSE(device.Instance().empty());
    CFakeNewDevLibrary library;
    CNewDevOverrideScope scope(&library);
    EXPECT_EQ(InstallPnP({kId0E83}, 0, L"ja"), 0);
    EXPECT_STREQ(m_message, GetMessageText(MSG_INSTALL_ERROR, LANG_COL_JAPANESE));
    EXPECT_TRUE(library.calls.empty());
    EXPECT_EQ(zoltest::ReadMainLog(), "**ERROR** - Package file missing: zolcoins.dll\r\n");

    ASSERT_TRUE(zoltest::WriteBytes(m_dir + L"\\zolcoins.dll", "co-installer"));
    zoltest::ClearLogs();
    EXPECT_EQ(InstallPnP({kId0E83}), 1);
    EXPECT_EQ(library.calls.size(), 1u);
    EXPECT_EQ(zoltest::ReadBytes(StagingFolder() + L"\\zolcoins.dll"), "co-installer");
    EXPECT_EQ(zoltest::ReadMainLog(), "");
}

TEST_F(PnPInstall, EachDeviceGetsTheOutcomeOfTheUpdatesForItsIds)
{
    const wchar_t kId0E90[] = L"PCI\\VEN_8086&DEV_0E90&SUBSYS_7C41A2E9";
    CSimulatedDevice a({kId0E83});
    CSimulatedDevice both({std::wstring(kId0E84) + L"&REV_01", kId0E84, kId0E83});
    CSimulatedDevice c({kId0E90});
    CSimulatedDevice unsupported({L"PCI\\VEN_8086&DEV_FFFF"});
    ASSERT_FALSE(a.Instance().empty() || both.Instance().empty() || c.Instance().empty());
    auto line = [](const std::wstring& instance, const wchar_t* id, int outcome, int reason, DWORD error,
                   int restart) {
        return instance + L" " + id + L" " + std::to_wstring(outcome) + L" " + std::to_wstring(reason) + L" " +
               std::to_wstring(error) + L" " + std::to_wstring(restart);
    };
    {
        CFakeNewDevLibrary library;
        library.SetOutcome(kId0E84, FALSE, FALSE);
        library.SetOutcome(kId0E90, TRUE, TRUE);
        CNewDevOverrideScope scope(&library);
        EXPECT_EQ(InstallPnP({kId0E90, kId0E83, kId0E84}), 0);
        // Before: what an install would update, with the first supported ID
        // each device lists, in the supported list's order.
        EXPECT_EQ(Outcomes(m_before), (std::vector<std::wstring>{
                                          line(a.Instance(), kId0E83, ZOL_DEVICE_PRESENT, 0, 0, 0),
                                          line(both.Instance(), kId0E83, ZOL_DEVICE_PRESENT, 0, 0, 0),
                                          line(c.Instance(), kId0E90, ZOL_DEVICE_PRESENT, 0, 0, 0)}));
        // The device listing a failed ID failed with its code, though its
        // other ID updated; a restart belongs to the device that asked.
        EXPECT_EQ(Outcomes(m_after),
                  (std::vector<std::wstring>{line(a.Instance(), kId0E83, ZOL_DEVICE_UPDATED, 0, 0, 0),
                                             line(both.Instance(), kId0E83, ZOL_DEVICE_FAILED, 0, 0xE000020B, 0),
                                             line(c.Instance(), kId0E90, ZOL_DEVICE_UPDATED, 0, 0, 1)}));
    }
    {
        CFakeNewDevLibrary library;
        library.loads = 0;
        CNewDevOverrideScope scope(&library);
        EXPECT_EQ(InstallPnP({kId0E83}), 0);
        EXPECT_EQ(Outcomes(m_after),
                  (std::vector<std::wstring>{
                      line(a.Instance(), kId0E83, ZOL_DEVICE_NOT_ATTEMPTED, ZOL_REASON_LIBRARY_MISSING, 0, 0),
                      line(both.Instance(), kId0E83, ZOL_DEVICE_NOT_ATTEMPTED, ZOL_REASON_LIBRARY_MISSING, 0, 0)}));
        library.loads = 1;
        library.hasFunction = 0;
        EXPECT_EQ(InstallPnP({kId0E90}), 0);
        EXPECT_EQ(Outcomes(m_after), std::vector<std::wstring>{line(c.Instance(), kId0E90, ZOL_DEVICE_NOT_ATTEMPTED,
                                                                    ZOL_REASON_FUNCTION_MISSING, 0, 0)});
        library.hasFunction = 1;
        ASSERT_TRUE(DeleteFileW((m_dir + L"\\zolchip.sys").c_str()));
        EXPECT_EQ(InstallPnP({kId0E90}), 0);
        EXPECT_EQ(Outcomes(m_after), std::vector<std::wstring>{line(c.Instance(), kId0E90, ZOL_DEVICE_NOT_ATTEMPTED,
                                                                    ZOL_REASON_PACKAGE_REFUSED, 0, 0)});
        // No supported device present, or none supported: no records.
        EXPECT_EQ(InstallPnP({kAbsentId}), 0);
        EXPECT_TRUE(m_before.empty() && m_after.empty());
    }
}

// The install reports the devices the start-up's list found, each looked at
// again when the install runs: one removed since, or that no longer lists a
// supported ID, is not among them, though its ID is still updated.
TEST_F(PnPInstall, ResultsNameTheListedDevicesAsTheyAreWhenTheInstallRuns)
{
    CSimulatedDevice kept({kId0E83});
    CSimulatedDevice changed({kId0E84});
    std::unique_ptr<CSimulatedDevice> removed(new CSimulatedDevice({kId0E83}));
    ASSERT_FALSE(kept.Instance().empty() || changed.Instance().empty() || removed->Instance().empty());
    CFakeNewDevLibrary library;
    CNewDevOverrideScope scope(&library);
    CBaseComponent component;
    component.SetInfFile(L"zolchip.inf", INF_TYPE_PNP);
    component.AddSupportedHardwareId(kId0E83);
    component.AddSupportedHardwareId(kId0E84);
    ASSERT_EQ(component.BuildDeviceList(0), 1);

    removed.reset();
    {
        CUniqueDevInfo set(SetupDiCreateDeviceInfoList(nullptr, nullptr));
        SP_DEVINFO_DATA data = {sizeof(data)};
        const wchar_t ids[] = L"PCI\\VEN_8086&DEV_FFFF\0";
        ASSERT_TRUE(SetupDiOpenDeviceInfoW(set.get(), changed.Instance().c_str(), nullptr, 0, &data));
        ASSERT_TRUE(SetupDiSetDeviceRegistryPropertyW(set.get(), &data, SPDRP_HARDWAREID,
                                                      reinterpret_cast<const BYTE*>(ids), sizeof(ids)));
    }
    component.GetLog()->Open();
    EXPECT_EQ(component.InstallPnP(0, nullptr, m_message, 0, L"en"), 1);
    component.GetLog()->Close();
    ASSERT_EQ(library.calls.size(), 2u);
    EXPECT_EQ(Outcomes(Devices(component)),
              std::vector<std::wstring>{kept.Instance() + L" " + kId0E83 + L" " +
                                        std::to_wstring(ZOL_DEVICE_UPDATED) + L" 0 0 0"});
}

TEST_F(PnPInstall, PendingDeviceInstallationsAreWaitedForAtMost60sThenTheUpdatesRun)
{
    CSimulatedDevice device({kId0E83});
    ASSERT_FALSE(device.Instance().empty());
    CFakeNewDevLibrary library;
    CNewDevOverrideScope scope(&library);
    PFN_WAIT_NO_PENDING_INSTALLS previous = SetPendingInstallWaitOverride(FakePendingWait);
    for (DWORD answer : {static_cast<DWORD>(WAIT_OBJECT_0), static_cast<DWORD>(WAIT_TIMEOUT)}) {
        g_pendingWaits.clear();
        g_pendingAnswerAfterFirst = answer;
        zoltest::ClearLogs();
        library.calls.clear();
        EXPECT_EQ(InstallPnP({kId0E83}), 1);
        // A look without waiting, then one wait of 60 s at most.
        EXPECT_EQ(g_pendingWaits, (std::vector<DWORD>{0, 60000}));
        EXPECT_EQ(library.calls.size(), 1u);
        EXPECT_EQ(zoltest::ReadMainLog(), std::string("Waiting for pending device installations... ") +
                                              (answer == WAIT_OBJECT_0 ? "Done.\r\n" : "Gave up after 60 s.\r\n"));
    }
    // Nothing to update: no wait at all.
    g_pendingWaits.clear();
    EXPECT_EQ(InstallPnP({kAbsentId}), 0);
    EXPECT_TRUE(g_pendingWaits.empty());
    SetPendingInstallWaitOverride(previous);
}

// A name in the INF that is not a plain file name refuses the package as a
// missing file does: no update, message 5, the name in an error line, and
// nothing staged, so a file beside the staging folder survives.
TEST_F(PnPInstall, TraversalNamesRefuseThePackage)
{
    struct Case {
        const char* from;
        const char* to;
        const char* named;
    } cases[] = {
        {"CopyFiles = @zolchip.sys", "CopyFiles = @..\\victim.sys", "..\\victim.sys"},
        {"zolchip.dat,zolchip_src.dat", "zolchip.dat,..\\victim.sys", "..\\victim.sys"},
        {"zolchip.dat,zolchip_src.dat", "..\\..\\victim.dat,zolchip_src.dat", "..\\..\\victim.dat"},
        {"CatalogFile.ntamd64 = zolchip_amd64.cat", "CatalogFile.ntamd64 = ..\\victim.sys", "..\\victim.sys"},
        {"CopyFiles = ZolChip.Files", "CopyFiles = ZolChip.Files\r\nDelFiles = Gone\r\n[Gone]\r\n..\\victim.sys",
         "..\\victim.sys"},
        {"CopyFiles = ZolChip.Files", "CopyFiles = ZolChip.Files\r\nRenFiles = Moved\r\n[Moved]\r\nnew.sys,AUX",
         "AUX"},
        // Source layouts that leave the package folder.
        {"zolchip.sys     = 1", "zolchip.sys     = 1,..\\..", "..\\..\\zolchip.sys"},
        {"zolchip.cfg     = 1", "zolchip.cfg     = 1,C:\\DEVAVOROR", "C:\\DEVAVOROR\\zolchip.cfg"},
    };
    CSimulatedDevice device({kId0E83});
    ASSERT_FALSE(device.Instance().empty());
    CFakeNewDevLibrary library;
    CNewDevOverrideScope scope(&library);
    const std::string original = zoltest::ReadBytes(m_dir + L"\\zolchip.inf");
    const std::wstring victim = L"C:\\DEVAVOROR\\victim.sys";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.to);
        ASSERT_TRUE(zoltest::WriteBytes(m_dir + L"\\zolchip.inf", original));
        ASSERT_TRUE(zoltest::EditFile(m_dir + L"\\zolchip.inf", c.from, c.to));
        zoltest::RemoveTree(StagingFolder());
        CreateDirectoryW(L"C:\\DEVAVOROR", nullptr);
        ASSERT_TRUE(zoltest::WriteBytes(victim, "victim"));
        ASSERT_TRUE(zoltest::WriteBytes(m_dir + L"\\..\\victim.sys", "outside the package"));
        zoltest::ClearLogs();

        EXPECT_EQ(InstallPnP({kId0E83}), 0);
        EXPECT_STREQ(m_message, GetMessageText(MSG_INSTALL_ERROR, LANG_COL_ENGLISH));
        EXPECT_TRUE(library.calls.empty());
        EXPECT_EQ(zoltest::ReadMainLog(), std::string("**ERROR** - Unsafe file name in package: ") + c.named + "\r\n");
        EXPECT_EQ(zoltest::ReadBytes(victim), "victim");
        EXPECT_TRUE(FilesIn(StagingFolder()).empty());
    }
    DeleteFileW(victim.c_str());
}

namespace {

// The chipset sample's INF with its files on a disk whose path is \amd64,
// zolchip_src.dat in that disk's subfolder "data".
void LayOutInf(const std::wstring& dir)
{
    ASSERT_TRUE(zoltest::EditFile(dir + L"\\zolchip.inf", "1 = %DiskName%,,,", "1 = %DiskName%,,,\\amd64"));
    ASSERT_TRUE(zoltest::EditFile(dir + L"\\zolchip.inf", "zolchip_src.dat = 1", "zolchip_src.dat = 1,data"));
}

// Moves the sample's files to where the layout above puts them.
void MoveFilesAsLaidOut(const std::wstring& dir, const std::wstring& diskFolder)
{
    ASSERT_TRUE(CreateDirectoryW((dir + L"\\" + diskFolder).c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW((dir + L"\\" + diskFolder + L"\\data").c_str(), nullptr));
    for (const wchar_t* name : {L"zolchip.sys", L"zolchip.cfg"})
        ASSERT_TRUE(MoveFileW((dir + L"\\" + name).c_str(), (dir + L"\\" + diskFolder + L"\\" + name).c_str()));
    ASSERT_TRUE(MoveFileW((dir + L"\\zolchip_src.dat").c_str(),
                          (dir + L"\\" + diskFolder + L"\\data\\zolchip_src.dat").c_str()));
}

} // namespace

// A package whose INF keeps its files in source subfolders is staged as laid
// out, and the platform's real update installs it from there.
TEST_F(PnPInstall, ALaidOutPackageIsStagedAsLaidOutAndInstalls)
{
    LayOutInf(m_dir);
    const std::string driver = zoltest::ReadBytes(m_dir + L"\\zolchip.sys");
    MoveFilesAsLaidOut(m_dir, L"amd64");
    CSimulatedDevice device({kId0E83});
    ASSERT_FALSE(device.Instance().empty());

    DWORD start = GetTickCount();
    EXPECT_EQ(InstallPnP({kId0E83}), 1);
    EXPECT_LT(GetTickCount() - start, 20000u);
    EXPECT_EQ(zoltest::ReadMainLog(), "");
    ASSERT_EQ(m_after.size(), 1u);
    EXPECT_STREQ(m_after[0].szService, L"zolchip");

    // The INF and its catalogs at the top, every other file where the INF
    // says it is.
    EXPECT_EQ(FilesIn(StagingFolder()),
              (std::vector<std::wstring>{L"zolchip.inf", L"zolchip_amd64.cat", L"zolchip_x86.cat"}));
    EXPECT_EQ(FilesIn(StagingFolder() + L"\\amd64"), (std::vector<std::wstring>{L"zolchip.cfg", L"zolchip.sys"}));
    EXPECT_EQ(FilesIn(StagingFolder() + L"\\amd64\\data"), std::vector<std::wstring>{L"zolchip_src.dat"});
    EXPECT_EQ(zoltest::ReadBytes(StagingFolder() + L"\\amd64\\zolchip.sys"), driver);
}

// The same INF with its files beside it, where the INF does not say they
// are: refused before any update, each file named with its path.
TEST_F(PnPInstall, APackageLaidOutFlatAgainstItsInfIsRefusedAtOnce)
{
    LayOutInf(m_dir);
    CSimulatedDevice device({kId0E83});
    ASSERT_FALSE(device.Instance().empty());
    CFakeNewDevLibrary library;
    CNewDevOverrideScope scope(&library);

    DWORD start = GetTickCount();
    EXPECT_EQ(InstallPnP({kId0E83}, 0, L"fr"), 0);
    EXPECT_LT(GetTickCount() - start, 5000u);
    EXPECT_STREQ(m_message, GetMessageText(MSG_INSTALL_ERROR, LANG_COL_ENGLISH));
    EXPECT_TRUE(library.calls.empty());
    EXPECT_EQ(zoltest::ReadMainLog(), "**ERROR** - Package file missing: amd64\\zolchip.sys\r\n"
                                      "**ERROR** - Package file missing: amd64\\zolchip.cfg\r\n"
                                      "**ERROR** - Package file missing: amd64\\data\\zolchip_src.dat\r\n");
}

// A ".amd64" disk line is taken over the plain one on this platform. (Wine's
// own update reads only the plain sections, so the stand-in library is used.)
TEST_F(PnPInstall, TheDecoratedSourceLayoutIsChosenOverThePlainOne)
{
    LayOutInf(m_dir);
    ASSERT_TRUE(zoltest::EditFile(m_dir + L"\\zolchip.inf", "[SourceDisksFiles]",
                                  "[SourceDisksNames.amd64]\r\n1 = %DiskName%,,,\\x64\r\n[SourceDisksFiles]"));
    MoveFilesAsLaidOut(m_dir, L"x64");
    ASSERT_TRUE(CreateDirectoryW((m_dir + L"\\amd64").c_str(), nullptr));
    ASSERT_TRUE(zoltest::WriteBytes(m_dir + L"\\amd64\\zolchip.sys", "for the plain layout"));
    CSimulatedDevice device({kId0E83});
    ASSERT_FALSE(device.Instance().empty());
    CFakeNewDevLibrary library;
    CNewDevOverrideScope scope(&library);

    EXPECT_EQ(InstallPnP({kId0E83}), 1);
    EXPECT_EQ(library.calls.size(), 1u);
    EXPECT_EQ(zoltest::ReadBytes(StagingFolder() + L"\\x64\\zolchip.sys"),
              zoltest::ReadBytes(m_dir + L"\\x64\\zolchip.sys"));
    EXPECT_FALSE(zoltest::FileExists(StagingFolder() + L"\\amd64"));
}

// A subfolder of the staging folder is made as the staging folder is: a link
// planted where it belongs is never staged through (Wine cannot remove or
// move a Linux link, so there the package is refused instead).
TEST_F(PnPInstall, AStagingSubfolderIsNeverALinkToElsewhere)
{
    LayOutInf(m_dir);
    MoveFilesAsLaidOut(m_dir, L"amd64");
    const std::wstring outside = zoltest::MakeTestDir(L"outside_subfolder");
    CreateDirectoryW(L"C:\\DEVAVOROR", nullptr);
    CreateDirectoryW(StagingFolder().c_str(), nullptr);
    ASSERT_TRUE(zoltest::MakeUnixLink(outside, StagingFolder() + L"\\amd64"));
    CSimulatedDevice device({kId0E83});
    ASSERT_FALSE(device.Instance().empty());
    CFakeNewDevLibrary library;
    CNewDevOverrideScope scope(&library);

    int result = InstallPnP({kId0E83});
    EXPECT_TRUE(FilesIn(outside).empty());
    EXPECT_EQ(library.calls.size(), result == 1 ? 1u : 0u);
    if (result == 0) {
        const std::string line = "**ERROR** - Staging folder not trusted: C:\\DEVAVOROR\\pnpdrvs\\amd64\r\n";
        EXPECT_EQ(zoltest::ReadMainLog().find(line), 0u);
    }
    zoltest::RemoveUnixLink(StagingFolder() + L"\\amd64");
}
