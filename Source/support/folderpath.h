// Creating a folder together with the folders above it that are missing.
// (Folders below the drive root that must stay administrators' only are made
// by support/trustedfolder.h instead.)
#pragma once

// Creates directory and every missing folder above it, with default
// security: the walk goes up until a folder exists or can be made, then
// creates the missing ones downwards. "\" and "/" both separate; one
// trailing separator is allowed. True when the whole path exists afterwards.
// False for a null or empty path, for one longer than MAX_PATH - 1
// characters (refused before anything is created), and when a level cannot
// be made for another reason than a missing parent.
bool CreateFolderPath(const wchar_t* directory);
