// Helpers shared by the test programs. Every test program runs under Wine in
// its own fresh prefix, so tests may change the machine (registry, services,
// devices, files on C:) freely.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace zoltest {

// Directory of the built binaries (zolcomp.dll, zolhost.exe, devsim.exe).
std::wstring BinDir();
std::wstring BinPath(const wchar_t* name);
// The source tree as a Windows path (Wine's Z: drive).
std::wstring SourceDir();
// A sample package as the build lays it out, ready to deploy: the package
// files, its driver image and zolcomp.dll (<build>\packages\<name>).
std::wstring ExamplePath(const wchar_t* example);

// A fresh, empty directory C:\zoltest\<name> (removed first when it exists).
std::wstring MakeTestDir(const std::wstring& name);
bool RemoveTree(const std::wstring& path);
// Copies every file and folder below src into dst (created when missing).
bool CopyTree(const std::wstring& src, const std::wstring& dst);

bool WriteBytes(const std::wstring& path, const std::string& bytes);
// Writes text as UTF-8 without a byte-order mark.
bool WriteUtf8(const std::wstring& path, const std::wstring& text);
std::string ReadBytes(const std::wstring& path);
// Replaces the first occurrence of `from` in a file; true when it was found
// and the file written.
bool EditFile(const std::wstring& path, const std::string& from, const std::string& to);
bool FileExists(const std::wstring& path);
std::string ToUtf8(const std::wstring& text);
std::wstring FromUtf8(const std::string& text);
// Bytes in the system's ANSI code page, as the log writes them.
std::string ToAnsi(const std::wstring& text);

struct ProcessResult {
    DWORD exitCode = 0xFFFFFFFF;
    std::string output; // stdout and stderr, as the bytes the process wrote
};
// Runs a command line (named RunProcess so it cannot clash with a test fixture's Run) in a working directory and collects its output.
ProcessResult RunProcess(const std::wstring& commandLine, const std::wstring& workDir = std::wstring(),
                  DWORD timeoutMs = 120000);
// Runs zolhost.exe in dir with the component copied beside the package:
// "zolhost <args> <dir>\zolcomp.dll"; stopped (exit code 0xDEAD) when it
// runs longer than timeoutMs.
ProcessResult RunHost(const std::wstring& dir, const std::wstring& args, DWORD timeoutMs = 120000);
// Copies zolcomp.dll into dir.
bool InstallComponentInto(const std::wstring& dir);

// The main log and the verbose logs in C:\devavoror\log.
std::wstring LogDir();
std::wstring MainLogPath();
std::string ReadMainLog();
// Every file in the log directory other than zolsetup.log, newest last.
std::vector<std::wstring> VerboseLogPaths();
std::string ReadVerboseLogs();
// Removes the log directory's files.
void ClearLogs();

// Simulated devices through devsim.exe.
std::wstring AddDevice(const std::vector<std::wstring>& hardwareIds);
std::string ListDevices();
// "devsim <args>", e.g. "start": the drivers of the bound devices started.
ProcessResult RunDevsim(const std::wstring& args);

// Another process holding the machine-wide install lock: "devsim
// hold-install-lock SECONDS", started in the background and waited for until
// it says it holds the lock. The destructor waits for it to end.
class CInstallLockHolder
{
public:
    explicit CInstallLockHolder(unsigned seconds);
    ~CInstallLockHolder();
    CInstallLockHolder(const CInstallLockHolder&) = delete;
    CInstallLockHolder& operator=(const CInstallLockHolder&) = delete;

    // True once the holder printed that it holds the mutex.
    bool Holding() const { return m_holding; }
    DWORD ProcessId() const { return m_processId; }
    // Waits for the holder to release the mutex and end; its exit code.
    DWORD Wait();

private:
    HANDLE m_process;
    DWORD m_processId;
    bool m_holding;
    std::wstring m_output;
};

// A Wine load-order override for one library (HKCU\Software\Wine\DllOverrides),
// removed again when the scope ends. An empty value disables the library.
class CDllOverride
{
public:
    CDllOverride(const wchar_t* dll, const wchar_t* value);
    ~CDllOverride();
    CDllOverride(const CDllOverride&) = delete;
    CDllOverride& operator=(const CDllOverride&) = delete;

private:
    std::wstring m_dll;
};

// The Linux side of the prefix: what a local user can do to C: that Wine
// cannot do itself. A Unix symbolic link to a folder is what Wine reports as
// a reparse point (a directory link or junction on Windows); mode 777 is a
// folder whose access list lets everyone write and delete.
std::string UnixPath(const std::wstring& path);
// Starts a Linux program (full Unix path and arguments); Wine gives no
// handle to wait on, so the helpers below wait (boundedly) for the effect.
bool StartUnix(const std::string& commandLine);
bool MakeUnixLink(const std::wstring& target, const std::wstring& link);
// Removes a link as the link; true when no link is left at the path.
bool RemoveUnixLink(const std::wstring& link);
// Changes a path's mode; true once its access list reads back with readsBack.
bool UnixChmod(const std::wstring& path, const char* mode, const std::string& readsBack);
// A file's or folder's owner and access list as the platform reads them
// back ("O:...D:..."); empty when they cannot be read.
std::string ReadSecurity(const std::wstring& path);

// For the scope's life, the owner checks of the component's folder and file
// routines see another account (a plain user, S-1-5-21-1-2-3-1001) as the
// owner of the file or folder at path, found by its file ID: Wine reports
// every owner as its own account. Everything else, a file made anew under
// the same name included, keeps the account the process runs as.
class CForeignOwnerScope
{
public:
    explicit CForeignOwnerScope(const std::wstring& path);
    ~CForeignOwnerScope();
    CForeignOwnerScope(const CForeignOwnerScope&) = delete;
    CForeignOwnerScope& operator=(const CForeignOwnerScope&) = delete;
    bool Valid() const { return m_valid; }

private:
    void* m_previous;
    bool m_valid;
};

// Text helpers for assertions.
std::vector<std::string> Lines(const std::string& text); // split on CR LF / LF
// The bytes of a verbose log line with its time prefix replaced by [T].
std::string MaskTimes(const std::string& text);

} // namespace zoltest
