#include "inf/infdriverfootprint.h"

#include "inf/inf.h"
#include "inf/infcopyfiles.h"
#include "inf/infdriversection.h"
#include "inf/infutil.h"
#include "support/asciicase.h"
#include "support/handles.h"
#include "support/plainname.h"

namespace {

const size_t kNameChars = MAX_PATH - 1;

void AddOnce(CStrList* list, const CStr& text)
{
    for (const CStr& entry : *list) {
        if (EqualsAsciiNoCase(entry.GetString(), text.GetString()))
            return;
    }
    list->push_back(text);
}

void AddDestination(CInf& inf, const wchar_t* section, const CStr& name, CStrList* files)
{
    CStr directory;
    if (name.IsEmpty() || !IsPlainName(name.GetString()) || !inf.GetDestinationDir(section, &directory))
        return;
    CStr path = infutil::JoinPath(directory.GetString(), name.GetString());
    if (infutil::FitsPath(path) && StaysInsideFolder(directory.GetString(), path.GetString()))
        AddOnce(files, path);
}

} // namespace

bool ReadDriverFootprint(const wchar_t* infPath, const CStrList& hardwareIds, DRIVERFOOTPRINT* footprint)
{
    if (footprint == nullptr)
        return false;
    footprint->files.clear();
    footprint->services.clear();
    CInf inf(infPath);
    CUniqueInf hinf(SetupOpenInfFileW(infPath, nullptr, INF_STYLE_WIN4, nullptr));
    if (!inf.IsOpen() || !hinf.valid())
        return false;
    inf.ReadDestinationDirs();
    CInfDriverSection driverSection(hinf.get());
    for (const CStr& id : hardwareIds) {
        CStr install;
        if (!driverSection.InstallSection(id.GetString(), &install))
            continue;
        CStr coInstallers(install);
        coInstallers += L".CoInstallers";
        for (const CStr& section : {install, coInstallers}) {
            CStrList single, fileLists;
            infcopyfiles::ReadCopyFilesLines(hinf.get(), section.GetString(), &single, &fileLists);
            // A single file goes where the section's own files go.
            for (const CStr& name : single)
                AddDestination(inf, section.GetString(), name, &footprint->files);
            // A list's line copies to its destination name (field 1).
            for (const CStr& list : fileLists) {
                INFCONTEXT line;
                if (!SetupFindFirstLineW(hinf.get(), list.GetString(), nullptr, &line))
                    continue;
                do {
                    CStr name;
                    if (infutil::ReadStringField(&line, 1, kNameChars, &name))
                        AddDestination(inf, list.GetString(), name, &footprint->files);
                } while (SetupFindNextLine(&line, &line));
            }
        }
        CStr services(install);
        services += L".Services";
        INFCONTEXT line;
        if (!SetupFindFirstLineW(hinf.get(), services.GetString(), L"AddService", &line))
            continue;
        do {
            CStr name;
            if (infutil::ReadStringField(&line, 1, kNameChars, &name) && !name.IsEmpty() &&
                name.Find(L"\\") < 0)
                AddOnce(&footprint->services, name);
        } while (SetupFindNextMatchLineW(&line, L"AddService", &line));
    }
    return true;
}
