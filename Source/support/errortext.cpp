#include "support/errortext.h"

namespace {

// Longest system message kept; a longer one counts as missing.
const DWORD kMessageChars = 1024;

} // namespace

CStr SystemErrorText(DWORD error)
{
    wchar_t buffer[kMessageChars] = {};
    DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0,
                                  buffer, kMessageChars, nullptr);
    if (length == 0 || length >= kMessageChars)
        return CStr();
    while (length > 0 && (buffer[length - 1] == L'\r' || buffer[length - 1] == L'\n'))
        --length;
    buffer[length] = L'\0';
    return CStr(buffer);
}

CStr DescribeError(DWORD error)
{
    CStr text;
    text.Format(L"0x%08X", static_cast<unsigned int>(error));
    CStr message = SystemErrorText(error);
    if (!message.IsEmpty()) {
        text += L" ";
        text += message;
    }
    return text;
}
