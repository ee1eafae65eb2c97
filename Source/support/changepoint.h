// Change points: a mark before every platform call that changes the machine
// (a file, folder, registry key or value, service, device or driver, the
// install record, a log line). Only the test build of the component defines
// ZOL_CHANGE_POINTS; there a test can end the process at the N-th point,
// before that call is made, to see what a run cut off there leaves behind.
// In every other build the mark is nothing: its arguments are not even
// evaluated.
#pragma once

#if defined(ZOL_CHANGE_POINTS)
namespace changepoint {
// Counts one point: call names the platform call ("CopyFileW"), argument
// what it changes (a path, key, service or device; may be null).
void Reach(const char* call, const wchar_t* argument);
} // namespace changepoint
#define ZOL_CHANGE_POINT(call, argument) ::changepoint::Reach((call), (argument))
#else
#define ZOL_CHANGE_POINT(call, argument) ((void)0)
#endif
