#include "inf/infcopyfiles.h"

#include "inf/infutil.h"

#include <cwchar>

namespace infcopyfiles {

namespace {

// Longest "CopyFiles" value and file-list name read.
const size_t kCopyFilesValueChars = 4095;
const size_t kFileListNameChars = MAX_PATH - 1;

} // namespace

void ReadCopyFilesLines(HINF inf, const wchar_t* section, CStrList* files, CStrList* fileLists)
{
    ReadDirectiveLines(inf, section, L"CopyFiles", files, fileLists);
}

void ReadDirectiveLines(HINF inf, const wchar_t* section, const wchar_t* key, CStrList* files,
                        CStrList* fileLists)
{
    INFCONTEXT context;
    if (section == nullptr || files == nullptr || fileLists == nullptr ||
        !SetupFindFirstLineW(inf, section, key, &context))
        return;
    do {
        DWORD count = SetupGetFieldCount(&context);
        for (DWORD index = 1; index <= count; ++index) {
            CStr value;
            if (!infutil::ReadStringField(&context, index, kCopyFilesValueChars, &value))
                continue;
            if (value.GetString()[0] == L'@')
                files->push_back(CStr(value.GetString() + 1));
            else if (SetupGetLineCountW(inf, value.GetString()) > 0)
                fileLists->push_back(value);
        }
    } while (SetupFindNextMatchLineW(&context, key, &context));
}

void ReadFileListNames(HINF inf, const wchar_t* fileList, CStrList* names)
{
    INFCONTEXT context;
    if (fileList == nullptr || names == nullptr || !SetupFindFirstLineW(inf, fileList, nullptr, &context))
        return;
    do {
        DWORD count = SetupGetFieldCount(&context);
        for (DWORD index = 1; index <= count && index <= 2; ++index) {
            CStr name;
            if (infutil::ReadStringField(&context, index, kFileListNameChars, &name) && !name.IsEmpty())
                names->push_back(name);
        }
    } while (SetupFindNextLine(&context, &context));
}

void ReadFileListSources(HINF inf, const wchar_t* fileList, CStrList* files)
{
    INFCONTEXT context;
    if (fileList == nullptr || files == nullptr || !SetupFindFirstLineW(inf, fileList, nullptr, &context))
        return;
    do {
        DWORD count = SetupGetFieldCount(&context);
        CStr name;
        if (count >= 2) {
            if (!infutil::ReadStringField(&context, 2, kFileListNameChars, &name))
                continue;
            if (!name.IsEmpty()) {
                files->push_back(name);
                continue;
            }
        }
        if (count >= 1 && infutil::ReadStringField(&context, 1, kFileListNameChars, &name) && !name.IsEmpty())
            files->push_back(name);
    } while (SetupFindNextLine(&context, &context));
}

CStr CompressedName(const wchar_t* fileName)
{
    if (fileName == nullptr)
        return CStr();
    CStr name(fileName);
    const wchar_t* dot = wcsrchr(fileName, L'.');
    if (dot == nullptr) {
        name += L"._";
    } else if (wcslen(dot) >= 4) {
        wchar_t* buffer = name.GetBuffer(0);
        buffer[name.GetLength() - 1] = L'_';
        name.ReleaseBuffer(0);
    } else {
        name += L"_";
    }
    return name;
}

} // namespace infcopyfiles
