// The hardware-model dependency check with "dependency.xml" files written
// around the machine's model as WMI reports it.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <thread>

#include "basecomp.h"
#include "package/xmlreader.h"
#include "prereqtest.h"
#include "testsupport.h"

using prereqtest::MachineModel;

namespace {

std::wstring Upper(std::wstring text)
{
    CharUpperBuffW(&text[0], static_cast<DWORD>(text.size()));
    return text;
}

std::wstring Escape(const std::wstring& text)
{
    std::wstring out;
    for (wchar_t c : text) {
        if (c == L'&')
            out += L"&amp;";
        else if (c == L'<')
            out += L"&lt;";
        else if (c == L'"')
            out += L"&quot;";
        else
            out += c;
    }
    return out;
}

// A dependency file listing the given platform elements.
std::wstring DependencyFile(const std::wstring& platforms)
{
    return L"<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<componentdependencies>\r\n  <dependent_hardware>\r\n"
           L"    <platforms>\r\n" +
           platforms + L"    </platforms>\r\n  </dependent_hardware>\r\n</componentdependencies>\r\n";
}

std::wstring Platform(const std::wstring& model)
{
    return L"      <platform model=\"" + Escape(model) + L"\"/>\r\n";
}

struct Outcome {
    int result;
    std::wstring message;
    int checked;
    int supported;
};

// Runs the check in a directory holding the given dependency file (none when
// content is null), with the message buffer pre-filled.
Outcome CheckIn(const std::wstring& name, const std::wstring* content, int capacity = 4096)
{
    std::wstring dir = zoltest::MakeTestDir(name);
    if (content) {
        EXPECT_TRUE(zoltest::WriteUtf8(dir + L"\\dependency.xml", *content));
    }
    wchar_t previous[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, previous);
    SetCurrentDirectoryW(dir.c_str());
    CBaseComponent component;
    std::wstring buffer(4096 + 16, L'#');
    int result = component.CheckDependencies(&buffer[0], capacity, L"en");
    SetCurrentDirectoryW(previous);
    for (size_t i = static_cast<size_t>(capacity > 0 ? capacity : 0); i < buffer.size(); ++i)
        EXPECT_EQ(buffer[i], L'#') << "written past the buffer at " << i;
    size_t end = buffer.find(L'\0');
    // An untouched buffer holds no terminator.
    return {result, end == std::wstring::npos ? std::wstring(L"<untouched>") : buffer.substr(0, end),
            component.IsDependencyChecked(), component.IsModelSupported()};
}

Outcome CheckWith(const std::wstring& name, const std::wstring& content)
{
    return CheckIn(name, &content);
}

} // namespace

TEST(CheckDependencies, WithoutADependencyFileEveryModelIsSupported)
{
    Outcome outcome = CheckIn(L"dep_none", nullptr);
    EXPECT_EQ(outcome.result, 1);
    EXPECT_EQ(outcome.checked, 1);
    EXPECT_EQ(outcome.supported, 1);
    EXPECT_EQ(outcome.message, L"<untouched>");

    // Unreadable or malformed files count as no file.
    for (const char* bytes : {"", "<componentdependencies><dependent_hardware>", "not xml at all"}) {
        std::wstring dir = zoltest::MakeTestDir(L"dep_bad");
        ASSERT_TRUE(zoltest::WriteBytes(dir + L"\\dependency.xml", bytes));
        wchar_t previous[MAX_PATH];
        GetCurrentDirectoryW(MAX_PATH, previous);
        SetCurrentDirectoryW(dir.c_str());
        CBaseComponent component;
        wchar_t message[64] = L"unchanged";
        EXPECT_EQ(component.CheckDependencies(message, 64, L"en"), 1) << bytes;
        EXPECT_STREQ(message, L"unchanged");
        SetCurrentDirectoryW(previous);
    }
}

TEST(CheckDependencies, MatchesTheMachineModel)
{
    const std::wstring model = MachineModel();
    ASSERT_GT(model.size(), 1u);
    EXPECT_EQ(CheckWith(L"dep_exact", DependencyFile(Platform(model))).result, 1);
    // Case and trailing white space do not count.
    EXPECT_EQ(CheckWith(L"dep_case", DependencyFile(Platform(Upper(model) + L"  "))).result, 1);
    // Several platforms: any of them may match, wherever it is listed.
    Outcome several = CheckWith(
        L"dep_several", DependencyFile(Platform(L"Other Model 1") + Platform(L"Other Model 2") + Platform(model) +
                                       Platform(L"Other Model 3")));
    EXPECT_EQ(several.result, 1);
    EXPECT_EQ(several.supported, 1);
    // Every node from the first platform on is a candidate, whatever its name.
    EXPECT_EQ(CheckWith(L"dep_othername",
                        DependencyFile(Platform(L"Other Model") + L"      <server model=\"" + Escape(model) + L"\"/>\r\n"))
                  .result,
              1);
}

TEST(CheckDependencies, UnlistedModelIsNotSupported)
{
    const std::wstring model = MachineModel();
    const std::wstring notSupported = L"System model not supported.";
    struct Case {
        const wchar_t* name;
        std::wstring content;
    };
    const Case cases[] = {
        {L"dep_other", DependencyFile(Platform(L"Other Model"))},
        {L"dep_leading", DependencyFile(Platform(L" " + model))},
        {L"dep_prefix", DependencyFile(Platform(model.substr(0, model.size() - 1)))},
        {L"dep_longer", DependencyFile(Platform(model + L" 2"))},
        {L"dep_nomodel", DependencyFile(L"      <platform name=\"" + Escape(model) + L"\"/>\r\n")},
        {L"dep_empty", DependencyFile(L"")},
        {L"dep_root", L"<dependencies><dependent_hardware><platforms>" + Platform(model) +
                          L"</platforms></dependent_hardware></dependencies>"},
        {L"dep_noplatforms", L"<componentdependencies><dependent_hardware/></componentdependencies>"},
        // A candidate listed before the first "platform" is never reached.
        {L"dep_before", DependencyFile(L"      <server model=\"" + Escape(model) + L"\"/>\r\n" + Platform(L"X"))},
    };
    for (const Case& c : cases) {
        Outcome outcome = CheckWith(c.name, c.content);
        EXPECT_EQ(outcome.result, 0) << zoltest::ToUtf8(c.name);
        EXPECT_EQ(outcome.message, notSupported);
        EXPECT_EQ(outcome.checked, 1);
        EXPECT_EQ(outcome.supported, 0);
    }
}

TEST(CheckDependencies, MessageIsCutToTheCallersBuffer)
{
    const std::wstring content = DependencyFile(Platform(L"Other Model"));
    Outcome small = CheckIn(L"dep_small", &content, 10);
    EXPECT_EQ(small.result, 0);
    EXPECT_EQ(small.message, L"System mo");
    Outcome none = CheckIn(L"dep_zero", &content, 0);
    EXPECT_EQ(none.result, 0);
}

TEST(CheckDependencies, ASingleThreadedCallerGetsTheSameAnswers)
{
    const std::wstring model = MachineModel();
    std::thread worker([&] {
        ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
        Outcome listed = CheckWith(L"dep_sta", DependencyFile(Platform(L"Other Model") + Platform(model)));
        EXPECT_EQ(listed.result, 1);
        EXPECT_EQ(listed.message, L"<untouched>");
        EXPECT_EQ(listed.supported, 1);
        Outcome unlisted = CheckWith(L"dep_sta_other", DependencyFile(Platform(L"Other Model")));
        EXPECT_EQ(unlisted.result, 0);
        EXPECT_EQ(unlisted.message, L"System model not supported.");
        EXPECT_EQ(CheckIn(L"dep_sta_none", nullptr).result, 1);
        // The caller's COM set-up is left as it was: initialized once,
        // single-threaded.
        EXPECT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_FALSE);
        CoUninitialize();
        CoUninitialize();
        EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
        CoUninitialize();
    });
    worker.join();
}
