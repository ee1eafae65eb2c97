// CWin2000PnPDriver: installs one INF as the driver of a set of present
// devices. The INF, its catalogs and every file it copies are staged into
// "\DEVAVOROR\pnpdrvs" on the system drive first; then the device
// installation library updates each device's driver from the staged INF.
#pragma once

#include <windows.h>
#include <setupapi.h>

#include "devices/deviceresults.h"
#include "support/handles.h"
#include "support/str.h"

#include <functional>
#include <string>
#include <vector>

class CInfSourceLayout;

// Results of InstallDrivers.
enum PnPInstallCode {
    PNP_INSTALL_DONE = 0,           // every driver update succeeded
    PNP_INSTALL_NO_DEVICES = 1,     // no hardware ID to install
    PNP_INSTALL_NO_LIBRARY = 2,     // the device installation library did not load
    PNP_INSTALL_NO_FUNCTION = 3,    // the library lacks the driver update function
    PNP_INSTALL_UPDATE_FAILED = 4,  // at least one driver update failed
    PNP_INSTALL_INCOMPLETE = 5,     // a file the updates would copy is not in the package
    PNP_INSTALL_UNSAFE_STAGING = 6, // the staging folder cannot be made one only administrators change
    PNP_INSTALL_NOT_RECORDED = 7,   // what the updates change could not be recorded first
};

// Called once the package is staged and found complete, before the first
// driver update, with the staged INF's path; false stops the install before
// anything changes (PNP_INSTALL_NOT_RECORDED).
typedef std::function<bool(const wchar_t* stagedInf)> BeforeUpdatesHook;

class CWin2000PnPDriver
{
public:
    // force != 0 forces the driver update (INSTALLFLAG_FORCE).
    CWin2000PnPDriver(const wchar_t* infName, int force);
    virtual ~CWin2000PnPDriver();

    CWin2000PnPDriver(const CWin2000PnPDriver&) = delete;
    CWin2000PnPDriver& operator=(const CWin2000PnPDriver&) = delete;

    // Adds a hardware ID unless the same text (case-sensitive) is listed.
    void AddHardwareId(const wchar_t* hardwareId);
    // A hardware ID whose files the completeness check requires although no
    // update goes by it (a device that is not present gets the driver
    // another way).
    void AddCheckedOnlyHardwareId(const wchar_t* hardwareId)
    {
        if (hardwareId != nullptr)
            m_vCheckedOnlyIds.push_back(CStr(hardwareId));
    }
    // Adds a file name and then its compressed name, unless the name is
    // null, empty or already listed (case-sensitive). A name that is not a
    // plain file name is never staged: it is listed among the unsafe names
    // instead. Always 1.
    int AddStageFile(const wchar_t* fileName);
    // Copies the INF, its catalogs and the files it names from the current
    // directory into folder; 1 when every copy succeeded. The INF and the
    // catalogs are staged at the top; every other file at the place the
    // INF's source layout gives it below the current directory, and at the
    // same place below folder (its subfolders made as folder is). The folder is first
    // made one only administrators can change (0 and no copy when it cannot
    // be) and emptied; each copy is a new file, held open against writes,
    // renames and deletes until ReleaseStagedFiles or destruction.
    int StageDriverFiles(const wchar_t* folder);
    void ReleaseStagedFiles() { m_vStagedHandles.clear(); }
    // The files the driver updates would copy from the staged INF at
    // stagedInf (CheckDriverPackageFiles) that this object's staging did not
    // copy from the package, under their plain or compressed name; the INF
    // itself when it was not staged. Each name once, in order.
    CStrList FindMissingPackageFiles(const wchar_t* stagedInf) const;
    // Stages the files, checks that the package holds every file the updates
    // need, and updates every device's driver (PnPInstallCode).
    int InstallDrivers();
    // The package is read from folder (its INF and its files) instead of the
    // component's directory (the INF) and the current directory (the files):
    // an earlier version's kept copy, say.
    void SetPackageFolder(const wchar_t* folder) { m_strPackageFolder = folder ? folder : L""; }
    void SetBeforeUpdates(BeforeUpdatesHook hook) { m_beforeUpdates = std::move(hook); }
    // Makes the staging folder trusted and empties it; false when it cannot
    // be made trusted (the notes say what changed).
    bool EmptyStagingFolder();
    // The staging alone: the folder made trusted and emptied, the package
    // copied and found complete. PNP_INSTALL_DONE (the staged INF's path in
    // infPath when it fits, *infPathFits says), PNP_INSTALL_UNSAFE_STAGING or
    // PNP_INSTALL_INCOMPLETE, with the failures listed. The staged files stay
    // held until ReleaseStagedFiles.
    int StagePackage(wchar_t (&infPath)[MAX_PATH], bool* infPathFits);
    int IsRebootRequired() const { return m_bReboot; }

    const CStrList& GetHardwareIds() const { return m_vHardwareIds; }
    // Paths relative to the package and the staging folder, in pairs: a
    // file, then its compressed name.
    const CStrList& GetStageFiles() const { return m_vStageFiles; }
    // The relative paths the last staging copied from the package.
    const CStrList& GetStagedFiles() const { return m_vStagedFiles; }
    // What failed, one English line each without line end: staged copies,
    // missing package files, the library, each failed driver update.
    const CStrList& GetFailures() const { return m_vFailures; }
    // One entry per hardware ID the update loop reached, in order.
    const std::vector<UPDATEOUTCOME>& GetUpdateOutcomes() const { return m_vOutcomes; }
    // What the staging changed to make its folders safe (a folder moved
    // aside, an access list replaced), one line each without line end.
    const CStrList& GetNotes() const { return m_vNotes; }
    // The names from the package's files that are not plain file names,
    // each once, in the order found; any of them refuses the package.
    const CStrList& GetUnsafeNames() const { return m_vUnsafeNames; }

    // driver.sys -> driver.sy_, a.h -> a.h_, readme -> readme._
    static CStr GetCompressedName(const wchar_t* fileName);
    // The drive of the system directory followed by "\DEVAVOROR\pnpdrvs";
    // empty when the system directory cannot be read.
    static CStr GetStagingFolder();

private:
    // Makes the staging folder trusted and empties it; false when it
    // cannot be made trusted.
    bool PrepareStagingFolder(const wchar_t* folder);
    // Empties the trusted staging folder; one that holds what it will not
    // remove is moved aside whole and made anew. False when that fails.
    bool EmptyStagingFolder(const wchar_t* folder);
    // Stages with the folder prepared.
    int CopyStageFiles(const wchar_t* folder);
    // Copies one package file (relativePath, read from source) into a new
    // file below folder; ERROR_SUCCESS or the error.
    DWORD StageFile(const wchar_t* relativePath, const wchar_t* source, const wchar_t* folder, const wchar_t* target);
    // Makes each folder of relativePath below folder a trusted one; false
    // (with a failure naming the folder) when one cannot be.
    bool MakeStagingSubfolders(const wchar_t* folder, const wchar_t* relativePath);
    // AddStageFile for a file in a subfolder of the package.
    void AddStageFileAt(const CStr& subfolder, const wchar_t* fileName);
    // Adds a file the INF copies at the place its source layout gives it; a
    // layout that is not a plain relative folder lists the file among the
    // unsafe names.
    void AddLaidOutFile(const CInfSourceLayout& layout, const wchar_t* fileName);
    void CollectCatalogFiles(HINF inf);
    void CollectCopyFiles(HINF inf, const wchar_t* infPath);
    // Lists name among the unsafe names unless it is a plain file name;
    // true for a plain name.
    bool CheckPackageName(const wchar_t* name);
    bool WasStaged(const wchar_t* fileName) const;
    void AddFailure(const std::wstring& text) { m_vFailures.push_back(CStr(text.c_str())); }

    CStrList m_vHardwareIds;
    CStrList m_vStageFiles;
    CStr m_strInfName;
    int m_bReboot;
    int m_bForce;
    CStrList m_vStagedFiles;
    CStrList m_vFailures;
    std::vector<UPDATEOUTCOME> m_vOutcomes;
    CStrList m_vNotes;
    std::vector<CUniqueFile> m_vStagedHandles;
    CStrList m_vUnsafeNames;
    // The subfolders this staging made trusted, and those it could not.
    CStrList m_vStagingSubfolders;
    CStrList m_vUntrustedSubfolders;
    CStr m_strPackageFolder;
    CStrList m_vCheckedOnlyIds;
    BeforeUpdatesHook m_beforeUpdates;
};
