#include "inf/infsourcelayout.h"

#include "inf/infutil.h"
#include "support/plainname.h"

namespace {

const wchar_t kPlatformDecoration[] = L".amd64";
// Longest disk id, disk path and file subfolder read.
const size_t kLayoutFieldChars = MAX_PATH - 1;

// A piece of the layout without the one separator it may have at each end;
// false when it is not a plain relative folder (after the trimming, an empty
// piece is the top and fine).
bool TrimPiece(const CStr& piece, CStr* trimmed)
{
    size_t begin = 0, end = piece.GetLength();
    if (begin < end && piece.GetString()[begin] == L'\\')
        ++begin;
    if (end > begin && piece.GetString()[end - 1] == L'\\')
        --end;
    *trimmed = piece.Mid(begin, end - begin);
    return trimmed->IsEmpty() || IsRelativeSubfolder(piece.GetString());
}

// An optional field: absent or empty reads as empty; false only when it is
// present but cannot be read (too long).
bool ReadOptionalField(INFCONTEXT* context, DWORD index, CStr* out)
{
    out->Empty();
    if (SetupGetFieldCount(context) < index)
        return true;
    return infutil::ReadStringField(context, index, kLayoutFieldChars, out);
}

} // namespace

bool CInfSourceLayout::FindLine(const wchar_t* section, const wchar_t* key, INFCONTEXT* context) const
{
    CStr decorated(section);
    decorated += kPlatformDecoration;
    return SetupFindFirstLineW(m_hInf, decorated.GetString(), key, context) ||
           SetupFindFirstLineW(m_hInf, section, key, context);
}

CStr CInfSourceLayout::RelativePath(const CStr& subfolder, const wchar_t* name)
{
    CStr path(subfolder);
    if (!path.IsEmpty())
        path += L"\\";
    path += name;
    return path;
}

bool CInfSourceLayout::Subfolder(const wchar_t* name, CStr* subfolder) const
{
    if (subfolder == nullptr)
        return false;
    subfolder->Empty();
    INFCONTEXT file, disk;
    CStr diskId;
    if (name == nullptr || !FindLine(L"SourceDisksFiles", name, &file) ||
        !infutil::ReadStringField(&file, 1, kLayoutFieldChars, &diskId) || diskId.IsEmpty() ||
        !FindLine(L"SourceDisksNames", diskId.GetString(), &disk))
        return true;

    CStr diskPath, fileFolder, diskPiece, filePiece;
    if (!ReadOptionalField(&disk, 4, &diskPath) || !ReadOptionalField(&file, 2, &fileFolder))
        return false;
    if (!TrimPiece(diskPath, &diskPiece) || !TrimPiece(fileFolder, &filePiece)) {
        // For naming, the pieces as the INF gives them.
        *subfolder = diskPath;
        if (!fileFolder.IsEmpty())
            *subfolder = RelativePath(*subfolder, fileFolder.GetString());
        return false;
    }
    *subfolder = diskPiece;
    if (!filePiece.IsEmpty())
        *subfolder = RelativePath(*subfolder, filePiece.GetString());
    return true;
}
