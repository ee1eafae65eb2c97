#include "hostoutput.h"

CHostOutput::CHostOutput() : m_out(Duplicate(STD_OUTPUT_HANDLE)), m_err(Duplicate(STD_ERROR_HANDLE)) {}

HANDLE CHostOutput::Duplicate(DWORD which)
{
    HANDLE original = GetStdHandle(which);
    if (original == nullptr || original == INVALID_HANDLE_VALUE)
        return INVALID_HANDLE_VALUE;
    HANDLE copy = INVALID_HANDLE_VALUE;
    HANDLE process = GetCurrentProcess();
    if (!DuplicateHandle(process, original, process, &copy, 0, FALSE, DUPLICATE_SAME_ACCESS))
        return INVALID_HANDLE_VALUE;
    return copy;
}

std::string CHostOutput::ToUtf8(const std::wstring& text)
{
    if (text.empty())
        return std::string();
    int bytes = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr,
                                    nullptr);
    if (bytes <= 0)
        return std::string();
    std::string out(static_cast<size_t>(bytes), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0], bytes, nullptr, nullptr);
    return out;
}

std::wstring CHostOutput::FromUtf8(const std::string& bytes)
{
    if (bytes.empty())
        return std::wstring();
    int chars = MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
    if (chars <= 0)
        return std::wstring();
    std::wstring out(static_cast<size_t>(chars), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), &out[0], chars);
    return out;
}

void CHostOutput::WriteTo(HANDLE handle, const std::wstring& text)
{
    if (handle == INVALID_HANDLE_VALUE || handle == nullptr)
        return;
    std::string bytes = ToUtf8(text);
    size_t done = 0;
    while (done < bytes.size()) {
        DWORD written = 0;
        DWORD chunk = static_cast<DWORD>(bytes.size() - done > 65536 ? 65536 : bytes.size() - done);
        if (!WriteFile(handle, bytes.data() + done, chunk, &written, nullptr) || written == 0)
            return;
        done += written;
    }
}

void CHostOutput::WaitForEnter(DWORD timeoutMs)
{
    HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    DWORD mode = 0;
    if (input == nullptr || input == INVALID_HANDLE_VALUE || !GetConsoleMode(input, &mode))
        return;
    Write(L"Press Enter to close this window.\r\n");
    FlushConsoleInputBuffer(input);
    const ULONGLONG end = GetTickCount64() + timeoutMs;
    for (ULONGLONG now = GetTickCount64(); now < end; now = GetTickCount64()) {
        INPUT_RECORD record;
        DWORD read = 0;
        if (WaitForSingleObject(input, static_cast<DWORD>(end - now)) != WAIT_OBJECT_0 ||
            !ReadConsoleInputW(input, &record, 1, &read))
            return;
        if (read == 1 && record.EventType == KEY_EVENT && record.Event.KeyEvent.bKeyDown &&
            record.Event.KeyEvent.wVirtualKeyCode == VK_RETURN)
            return;
    }
}
