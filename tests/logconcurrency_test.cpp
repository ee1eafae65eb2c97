// Several processes appending to the shared main log at once: every line of
// every process must arrive whole.
#include <gtest/gtest.h>

#include "log/cmplog.h"
#include "testsupport.h"

#include <map>
#include <set>
#include <stdlib.h>

using namespace zoltest;

namespace {

const int kProcesses = 4;
const int kLinesPerProcess = 3000;

} // namespace

// Child: writes its lines through its own log object, as a component does.
TEST(LogWriterChild, DISABLED_WriteLines)
{
    const char* id = getenv("ZOL_WRITER_ID");
    ASSERT_NE(id, nullptr);
    int writer = atoi(id);
    CCmpLog log;
    ASSERT_EQ(log.Open(), 0);
    for (int i = 0; i < kLinesPerProcess; ++i)
        log.WriteLine(LOG_MAIN, SEV_WARNING, nullptr, 0, L"writer %d line %d of the concurrent append test\r\n",
                      writer, i);
    log.Close();
}

TEST(LogConcurrency, ParallelWritersLoseNoLine)
{
    ClearLogs();
    std::vector<PROCESS_INFORMATION> children;
    for (int w = 0; w < kProcesses; ++w) {
        std::wstring cmd = L"\"" + BinPath(L"logconcurrency_test.exe") +
                           L"\" --gtest_also_run_disabled_tests --gtest_filter=LogWriterChild.DISABLED_WriteLines";
        SetEnvironmentVariableW(L"ZOL_WRITER_ID", std::to_wstring(w).c_str());
        STARTUPINFOW si = {sizeof(si)};
        PROCESS_INFORMATION pi = {};
        std::vector<wchar_t> line(cmd.begin(), cmd.end());
        line.push_back(0);
        ASSERT_TRUE(CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));
        children.push_back(pi);
    }
    for (auto& pi : children) {
        WaitForSingleObject(pi.hProcess, 120000);
        DWORD code = 1;
        GetExitCodeProcess(pi.hProcess, &code);
        EXPECT_EQ(code, 0u);
        CloseHandle(pi.hProcess);
        CloseHandle(pi.hThread);
    }
    std::map<int, std::set<int>> seen;
    int malformed = 0;
    for (const std::string& line : Lines(ReadMainLog())) {
        int w = -1, i = -1;
        char tail[64] = {};
        if (sscanf(line.c_str(), "**WARNING** - writer %d line %d of the concurrent append %63[a-z]", &w, &i, tail) ==
                3 &&
            std::string(tail) == "test")
            seen[w].insert(i);
        else
            ++malformed;
    }
    EXPECT_EQ(malformed, 0);
    for (int w = 0; w < kProcesses; ++w)
        EXPECT_EQ(seen[w].size(), static_cast<size_t>(kLinesPerProcess)) << "writer " << w;
}
