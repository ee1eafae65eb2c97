// Emptying a folder the component owns (the PnP staging folder) without
// ever acting on anything outside it. Whatever an earlier run left there,
// or an account that once could write there, is taken apart through
// handles: each entry is opened without following links and checked by
// its handle before it is deleted by that handle, and a subfolder is only
// entered through the handle it was checked with.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

// Deletes everything inside folder (which must be trusted already). An
// entry that is not plainly ours is left as it is and named in kept (one
// line each, without line end, saying why): a link the platform would not
// open as the link, an entry that changed after the listing, a file with a
// second name, anything another account owns or may change, or anything
// that could not be deleted. True when the folder is empty afterwards.
bool EmptyTrustedFolder(const std::wstring& folder, std::vector<std::wstring>* kept);

// Test seam: called with each entry's full path after its folder was
// listed and before the entry is opened, where a test swaps the entry for
// a link. Null removes it; returns the previous hook.
typedef void (*PFN_EMPTY_FOLDER_HOOK)(const std::wstring& entryPath);
PFN_EMPTY_FOLDER_HOOK SetEmptyFolderHookForTest(PFN_EMPTY_FOLDER_HOOK hook);
