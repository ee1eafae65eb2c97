// CHostOutput: the host's standard output and standard error, written as
// UTF-8 bytes whatever the console's code page.
#pragma once

#include <windows.h>

#include <string>

#include "hostsupport.h"

class CHostOutput
{
public:
    // Takes private copies of the standard handles, so that whatever the
    // component does to the process's standard streams later (a console of
    // its own, reopened C streams) the host still reaches its caller.
    CHostOutput();

    void Write(const std::wstring& text) { WriteTo(m_out.get(), text); }
    void WriteError(const std::wstring& text) { WriteTo(m_err.get(), text); }
    // When the standard input is a console (a person may be reading): asks
    // for Enter and waits for it, at most timeoutMs. Otherwise nothing.
    void WaitForEnter(DWORD timeoutMs);

    // UTF-16 to UTF-8 and back; a surrogate without its partner becomes
    // U+FFFD, bytes that are not UTF-8 become U+FFFD.
    static std::string ToUtf8(const std::wstring& text);
    static std::wstring FromUtf8(const std::string& bytes);

private:
    static HANDLE Duplicate(DWORD which);
    static void WriteTo(HANDLE handle, const std::wstring& text);

    CHostFile m_out;
    CHostFile m_err;
};
