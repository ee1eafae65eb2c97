// The bundled chipset package answers the host's questions from its package
// definition, in the host's language.
#include <gtest/gtest.h>

#include "testsupport.h"

using namespace zoltest;

namespace {

std::wstring CopyChipset(const wchar_t* name)
{
    std::wstring dir = MakeTestDir(name);
    EXPECT_TRUE(CopyTree(ExamplePath(L"chipset"), dir));
    return dir;
}

std::string Json(const std::wstring& dir, const std::wstring& language)
{
    ProcessResult r = RunHost(dir, L"--check --json --lang " + language);
    EXPECT_EQ(r.exitCode, 0u) << r.output;
    return r.output;
}

} // namespace

TEST(ChipsetPackage, AnswersInGerman)
{
    std::string json = Json(CopyChipset(L"chipset-de"), L"de");
    EXPECT_NE(json.find(u8"\"1\":{\"result\":1,\"value\":\"Treiber f\u00FCr Server-Chipsatzger\u00E4te\"}"),
              std::string::npos)
        << json;
    EXPECT_NE(json.find(u8"\"2\":{\"result\":1,\"value\":\"Installiert den Treiber f\u00FCr die Systemger\u00E4te"),
              std::string::npos)
        << json;
    EXPECT_NE(json.find("\"4\":{\"result\":1,\"value\":\"1.2.3.0\"}"), std::string::npos) << json;
    for (const char* flag : {"\"6\":{\"result\":1,\"value\":1}", "\"7\":{\"result\":1,\"value\":1}",
                             "\"8\":{\"result\":1,\"value\":1}"})
        EXPECT_NE(json.find(flag), std::string::npos) << flag << "\n" << json;
}

TEST(ChipsetPackage, MissingLanguageFallsBackToEnglish)
{
    std::wstring dir = CopyChipset(L"chipset-nofr");
    // Drop the French entries from the copy.
    std::string xml = ReadBytes(dir + L"\\qx012345.xml");
    std::string out;
    size_t pos = 0;
    for (size_t line = xml.find('\n'); pos < xml.size(); line = xml.find('\n', pos)) {
        size_t end = line == std::string::npos ? xml.size() : line + 1;
        std::string text = xml.substr(pos, end - pos);
        if (text.find("lang=\"fr\"") == std::string::npos)
            out += text;
        pos = end;
    }
    ASSERT_TRUE(WriteBytes(dir + L"\\qx012345.xml", out));
    std::string json = Json(dir, L"fr");
    EXPECT_NE(json.find("\"1\":{\"result\":1,\"value\":\"Server Chipset Device Driver\"}"), std::string::npos) << json;
    EXPECT_NE(json.find("\"2\":{\"result\":1,\"value\":\"Installs the driver"), std::string::npos) << json;
}

// A host written in C against the public header alone gets the answers
// zolhost gets, the prerequisite status record included.
TEST(ChipsetPackage, HostInCAnswersLikeZolhost)
{
    std::wstring dir = CopyChipset(L"chipset-c");
    std::string json = Json(dir, L"de");
    ProcessResult r = RunProcess(L"\"" + BinPath(L"host-c.exe") + L"\" zolcomp.dll de", dir);
    ASSERT_EQ(r.exitCode, 0u) << r.output;

    size_t at = json.find("\"5\":{\"result\":1,\"status\":");
    ASSERT_NE(at, std::string::npos) << json;
    std::string status = json.substr(at + 25, json.find(',', at + 25) - at - 25);
    for (std::string line : {std::string("interface version: result 1 value 100"),
                             std::string(u8"1 name: result 1 \"Treiber f\u00FCr Server-Chipsatzger\u00E4te\""),
                             std::string("4 package version: result 1 \"1.2.3.0\""),
                             "5 prerequisites: result 1 status " + status + " message \"\"",
                             std::string("6 silent capable: result 1 value 1"),
                             std::string("7 silent capable (2): result 1 value 1"),
                             std::string("8 flag 8: result 1 value 1"),
                             std::string("10 devices: result 1 count 0"), std::string("uninstall: supported"),
                             std::string("11 uninstall plan: result 1 count 0 package state 0")})
        EXPECT_NE(r.output.find(line), std::string::npos) << line << "\n" << r.output;

    // A component made before Uninstall: the example finds no export.
    ASSERT_TRUE(CopyFileW(BinPath(L"zolcomp_noremove.dll").c_str(), (dir + L"\\zolcomp_noremove.dll").c_str(), FALSE));
    r = RunProcess(L"\"" + BinPath(L"host-c.exe") + L"\" zolcomp_noremove.dll de", dir);
    ASSERT_EQ(r.exitCode, 0u) << r.output;
    EXPECT_NE(r.output.find("uninstall: not supported"), std::string::npos) << r.output;
    EXPECT_EQ(r.output.find("11 uninstall plan"), std::string::npos) << r.output;
}
