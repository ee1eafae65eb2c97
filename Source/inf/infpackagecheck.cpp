#include "inf/infpackagecheck.h"

#include "inf/infcopyfiles.h"
#include "inf/infdriversection.h"
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
    for (const CStr& id : hardwareIds) {
        CStrList files;
        driverSection.SourceFiles(id.GetString(), &files);
        for (const CStr& file : files) {
            if (!IsPlainName(file.GetString())) {
                AddOnce(&result->unsafe, file);
                continue;
            }
            if (present(file.GetString()) || present(infcopyfiles::CompressedName(file.GetString()).GetString()))
                continue;
            AddOnce(&result->missing, file);
        }
    }
    return result->missing.empty() && result->unsafe.empty();
}
