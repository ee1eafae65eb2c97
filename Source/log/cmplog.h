// CCmpLog: the component log (main log "zolsetup.log" and the verbose log).
// The host creates an object of this same class and may hand it to the
// component, so the member order and the order of the virtual operations are
// part of the interface and must not change.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

enum ZolLogTarget {
    LOG_MAIN = 0,
    LOG_VERBOSE = 1,
    LOG_VERBOSE_CONT = 2,
    LOG_BOTH = 3,
    LOG_BOTH_CONT = 4,
};

enum ZolLogSeverity {
    SEV_INFO = 0,
    SEV_WARNING = 1,
    SEV_ERROR = 2,
    SEV_CRITICAL = 3,
};

// Log error codes.
const int LOG_ERR_CLOSE = 102;
const int LOG_ERR_OPEN = 103;
const int LOG_ERR_PATH_TOO_LONG = 104;

struct LOGFILE {
    wchar_t szDirectory[MAX_PATH];
    wchar_t szFileName[256];
    int bOpen;
    HANDLE hFile;
};

class CCmpLog
{
public:
    CCmpLog(const wchar_t* fileName = nullptr, const wchar_t* directory = nullptr);

    virtual ~CCmpLog();
    virtual int Open();
    virtual int Close();
    virtual void WriteHeader();
    virtual int WriteLine(int target, int severity, const wchar_t* source, int line, const wchar_t* format, ...);
    virtual void WriteFooter(int returnCode);
    virtual int SetVerbose(int verbose);

    int IsVerbose() const { return m_bVerbose; }
    const wchar_t* GetVerboseLogDir() const;
    const wchar_t* GetVerboseLogName() const;
    void MoveVerboseLog(const wchar_t* newName, const wchar_t* newDirectory);

    // The text after "Stub Version:" in the verbose header (not owned).
    void SetStubVersion(const wchar_t* version) { m_pszStubVersion = version ? version : L""; }
    int GetError() const { return m_nError; }
    size_t GetRecordCount() const { return m_vFiles.size(); }
    const LOGFILE* GetRecord(size_t index) const { return index < m_vFiles.size() ? &m_vFiles[index] : nullptr; }

    // Why the last Open in this process left a log file unopened (the folder
    // that could not be made trusted, or the file and the platform's error);
    // empty when it opened every file it uses. The host reports it.
    static std::wstring GetOpenFailure();

    static void OpenConsole();
    static void MakeTempLogName(wchar_t* buffer, size_t cch);
    static void FormatLocalTime(wchar_t* buffer, size_t cch);
    static void FormatLocalDateTime(wchar_t* buffer, size_t cch);
    static void CreateDirectoryPath(const wchar_t* directory);

private:
    void AppendFormatted(HANDLE hFile, const wchar_t* format, ...);
    static void AppendText(HANDLE hFile, const std::wstring& text);
    static void AppendText(HANDLE hFile, const wchar_t* text, size_t count);
    static void AppendBytes(HANDLE hFile, const char* data, DWORD size);
    // Appends CR LF when the file is not empty and does not end with one.
    static void EndUnfinishedLine(HANDLE hFile);
    // Opens a log file for appending; one that is a link, has a second name
    // or an owner other than SYSTEM, Administrators or the account the
    // process runs as is moved aside (each move adds a line to changes) and
    // a new one started.
    static HANDLE OpenLogFile(const wchar_t* path, std::vector<std::wstring>* changes);
    // Opens a record's file; the shared log folder is made one only the
    // administrators can change first (false when it cannot be).
    static bool OpenRecord(LOGFILE& record, std::vector<std::wstring>* changes);
    // Names each moved or protected folder or file in the main log.
    void WriteChanges(const std::vector<std::wstring>& changes);

    const wchar_t* m_pszStubVersion;
    int m_nError;
    std::vector<LOGFILE> m_vFiles;
    int m_bVerbose;
};

// Removes trailing blanks, tabs, line feeds and carriage returns in place.
wchar_t* TrimRight(wchar_t* text);
