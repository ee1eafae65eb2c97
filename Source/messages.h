// The component's localized messages in six languages: the nine of the
// installation and its checks, then those of the uninstallation.
#pragma once

enum InstallMessage {
    MSG_UNKNOWN_INF_TYPE = 0,
    MSG_OS_NOT_SUPPORTED = 1,
    MSG_NO_DISK_SPACE = 2,
    MSG_MARKED_FOR_REMOVAL = 3,
    MSG_NO_SUPPORTED_DEVICES = 4,
    MSG_INSTALL_ERROR = 5,
    MSG_NO_DEVICES_FOUND = 6,
    MSG_DEVICE_INSTALL_FAILED = 7,
    MSG_SHELLEXECUTE_FAILED = 8,
    // The uninstallation's messages, read in the host's own language column.
    MSG_NOT_INSTALLED = 9,
    MSG_UNINSTALL_ERROR = 10,
    MSG_UNINSTALL_PARTIAL = 11,
    MSG_NO_DRIVER_LEFT = 12,          // %s: the device's instance ID
    MSG_LATER_VERSION_INSTALLED = 13, // %s: the later version
    MSG_COUNT
};

enum LanguageColumn {
    LANG_COL_ENGLISH = 0,
    LANG_COL_FRENCH = 1,
    LANG_COL_ITALIAN = 2,
    LANG_COL_GERMAN = 3,
    LANG_COL_SPANISH = 4,
    LANG_COL_JAPANESE = 5,
    LANG_COL_COUNT
};

// The entry of a message in one language column (never null).
const wchar_t* GetMessageText(int message, int column);
// Copies a message with its terminator into the host's message buffer (the
// host sizes it for the longest message); nothing for a null buffer or text.
void CopyMessageText(wchar_t* buffer, const wchar_t* text);
// Formats a message that takes one text argument (%s) into the host's
// message buffer (ZOL_MESSAGE_CHARS characters).
void FormatMessageText(wchar_t* buffer, const wchar_t* format, const wchar_t* argument);
