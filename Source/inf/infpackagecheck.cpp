#include "inf/infpackagecheck.h"

#include "inf/infcopyfiles.h"
#include "inf/infdriversection.h"
#include "inf/infsourcelayout.h"
#include "support/asciicase.h"
#include "support/plainname.h"

namespace {

void AddOnce(CStrList* list, const CStr& text)
{
    for (const CStr& entry : *list) {
        if (EqualsAsciiNoCase(entry.GetString(), text.GetString()))
            return;
    }
    list->push_back(text);
}

} // namespace

bool CheckDriverPackageFiles(HINF inf, const CStrList& hardwareIds, const PackageFileTest& present,
                             PACKAGECHECK* result)
{
    if (result == nullptr)
        return false;
    result->missing.clear();
    result->unsafe.clear();
    CInfDriverSection driverSection(inf);
    CInfSourceLayout layout(inf);
    for (const CStr& id : hardwareIds) {
        CStrList files;
        driverSection.SourceFiles(id.GetString(), &files);
        for (const CStr& file : files) {
            CStr subfolder;
            bool laidOut = layout.Subfolder(file.GetString(), &subfolder);
            CStr path = CInfSourceLayout::RelativePath(subfolder, file.GetString());
            if (!laidOut || !IsPlainName(file.GetString())) {
                AddOnce(&result->unsafe, path);
                continue;
            }
            CStr compressed =
                CInfSourceLayout::RelativePath(subfolder, infcopyfiles::CompressedName(file.GetString()).GetString());
            if (present(path.GetString()) || present(compressed.GetString()))
                continue;
            AddOnce(&result->missing, path);
        }
    }
    return result->missing.empty() && result->unsafe.empty();
}
