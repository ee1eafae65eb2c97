// Texts for platform error codes, as failure lines in the log show them.
#pragma once

#include <windows.h>

#include "support/str.h"

// The system's message for an error code without its trailing line end;
// empty when the system has none.
CStr SystemErrorText(DWORD error);

// "0x%08X" followed by a blank and the system's message, or the code alone
// when there is no message.
CStr DescribeError(DWORD error);
