// zolfuzz: a bounded, seeded mutation run against the component's readers
// (XML model, package definition, installer description, INF). It reports
// the inputs tried, the crashes and the hangs; every crashing or hanging
// input is saved so that it can become a regression input.
//
//   zolfuzz [--seed N] [--iterations N] [--out DIR]
//   zolfuzz --replay DIR      run every saved input NAME.TARGET.bin in DIR once
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "mutator.h"
#include "targets.h"

using namespace zolfuzz;

namespace {

std::wstring g_outDir = L"C:\\zolfuzz";
std::atomic<unsigned long long> g_progress{0};
const std::string* g_current = nullptr;
const char* g_currentTarget = "";
unsigned long long g_iteration = 0;
const DWORD kHangSeconds = 60;

void SaveCurrent(const char* kind)
{
    if (g_current == nullptr)
        return;
    CreateDirectoryW(g_outDir.c_str(), nullptr);
    wchar_t name[MAX_PATH];
    wsprintfW(name, L"%s\\%S-%I64u.%S.bin", g_outDir.c_str(), kind, g_iteration, g_currentTarget);
    HANDLE h = CreateFileW(name, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h != INVALID_HANDLE_VALUE) {
        DWORD written = 0;
        WriteFile(h, g_current->data(), static_cast<DWORD>(g_current->size()), &written, nullptr);
        CloseHandle(h);
    }
    printf("zolfuzz: %s in target %s at input %llu, saved to %ls\n", kind, g_currentTarget, g_iteration, name);
    fflush(stdout);
}

LONG WINAPI OnCrash(EXCEPTION_POINTERS* info)
{
    printf("zolfuzz: exception 0x%08lX\n", info ? info->ExceptionRecord->ExceptionCode : 0ul);
    SaveCurrent("crash");
    printf("crashes: 1, hangs: 0\n");
    fflush(stdout);
    TerminateProcess(GetCurrentProcess(), 3);
    return EXCEPTION_EXECUTE_HANDLER;
}

void Watchdog()
{
    unsigned long long last = g_progress.load();
    DWORD still = 0;
    for (;;) {
        Sleep(1000);
        unsigned long long now = g_progress.load();
        if (now == ~0ull)
            return;
        still = (now == last) ? still + 1 : 0;
        last = now;
        if (still >= kHangSeconds) {
            SaveCurrent("hang");
            printf("crashes: 0, hangs: 1\n");
            fflush(stdout);
            TerminateProcess(GetCurrentProcess(), 4);
        }
    }
}

std::string ReadAll(const std::wstring& path)
{
    std::string data;
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return data;
    char buffer[65536];
    DWORD read = 0;
    while (ReadFile(h, buffer, sizeof(buffer), &read, nullptr) && read)
        data.append(buffer, read);
    CloseHandle(h);
    return data;
}

const CTarget* FindTarget(const std::string& name)
{
    for (const CTarget& t : Targets())
        if (name == t.name)
            return &t;
    return nullptr;
}

void RunOne(const CTarget& target, const std::string& input)
{
    g_current = &input;
    g_currentTarget = target.name;
    target.run(input);
    g_current = nullptr;
    ++g_progress;
}

int Replay(const std::wstring& dir)
{
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileW((dir + L"\\*.bin").c_str(), &fd);
    int count = 0;
    if (h != INVALID_HANDLE_VALUE) {
        do {
            std::wstring file = fd.cFileName;
            size_t dot2 = file.rfind(L'.');
            size_t dot1 = file.rfind(L'.', dot2 - 1);
            if (dot1 == std::wstring::npos)
                continue;
            std::string target(file.begin() + static_cast<long>(dot1) + 1, file.begin() + static_cast<long>(dot2));
            const CTarget* t = FindTarget(target);
            if (!t)
                continue;
            std::string input = ReadAll(dir + L"\\" + file);
            RunOne(*t, input);
            ++count;
        } while (FindNextFileW(h, &fd));
        FindClose(h);
    }
    printf("zolfuzz: replayed %d saved inputs without a crash or hang\n", count);
    printf("%d passed, 0 failed\n", count);
    return 0;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    unsigned long long seed = 1, iterations = 2000;
    std::wstring replayDir;
    for (int i = 1; i < argc; ++i) {
        std::wstring a = argv[i];
        if (a == L"--seed" && i + 1 < argc)
            seed = _wcstoui64(argv[++i], nullptr, 10);
        else if (a == L"--iterations" && i + 1 < argc)
            iterations = _wcstoui64(argv[++i], nullptr, 10);
        else if (a == L"--out" && i + 1 < argc)
            g_outDir = argv[++i];
        else if (a == L"--replay" && i + 1 < argc)
            replayDir = argv[++i];
        else {
            printf("usage: zolfuzz [--seed N] [--iterations N] [--out DIR] | --replay DIR\n");
            return 87;
        }
    }

    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
    SetUnhandledExceptionFilter(&OnCrash);
    std::wstring work = L"C:\\zolfuzz-work";
    CreateDirectoryW(work.c_str(), nullptr);
    SetCurrentDirectoryW(work.c_str());
    SetWorkDirectory(work);
    std::thread watchdog(&Watchdog);

    int rc = 0;
    if (!replayDir.empty()) {
        rc = Replay(replayDir);
    } else {
        const std::vector<CTarget>& targets = Targets();
        std::vector<std::vector<std::string>> pools;
        std::vector<unsigned long long> counts(targets.size(), 0);
        for (const CTarget& t : targets)
            pools.push_back(t.seeds());
        CRandom random(seed);
        DWORD start = GetTickCount();
        for (g_iteration = 0; g_iteration < iterations; ++g_iteration) {
            size_t which = static_cast<size_t>(g_iteration % targets.size());
            std::vector<std::string>& pool = pools[which];
            const std::string& parent = pool[random.Below(pool.size())];
            std::string input = Mutate(parent, pool, random);
            RunOne(targets[which], input);
            ++counts[which];
            // Keep a few mutated inputs around so that mutations can stack.
            if (pool.size() < 64)
                pool.push_back(input);
            else if (random.Chance(10))
                pool[1 + random.Below(pool.size() - 1)] = input;
        }
        DWORD ms = GetTickCount() - start;
        printf("zolfuzz: seed %llu, inputs tried: %llu (", seed, g_iteration);
        for (size_t i = 0; i < targets.size(); ++i)
            printf("%s%s %llu", i ? ", " : "", targets[i].name, counts[i]);
        printf(") in %lu.%03lu s\n", ms / 1000, ms % 1000);
        printf("crashes: 0, hangs: 0\n");
        printf("%llu passed, 0 failed\n", g_iteration);
    }
    fflush(stdout);
    g_progress = ~0ull;
    watchdog.join();
    return rc;
}
