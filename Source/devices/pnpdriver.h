// CWin2000PnPDriver: installs one INF as the driver of a set of present
// devices. The INF, its catalogs and every file it copies are staged into
// "\DEVAVOROR\pnpdrvs" on the system drive first; then the device
// installation library updates each device's driver from the staged INF.
#pragma once

#include <windows.h>
#include <setupapi.h>

#include "support/str.h"

// Results of InstallDrivers.
enum PnPInstallCode {
    PNP_INSTALL_DONE = 0,           // every driver update succeeded
    PNP_INSTALL_NO_DEVICES = 1,     // no hardware ID to install
    PNP_INSTALL_NO_LIBRARY = 2,     // the device installation library did not load
    PNP_INSTALL_NO_FUNCTION = 3,    // the library lacks the driver update function
    PNP_INSTALL_UPDATE_FAILED = 4,  // at least one driver update failed
};

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
    // Adds a file name and then its compressed name, unless the name is
    // null, empty or already listed (case-sensitive). Always 1.
    int AddStageFile(const wchar_t* fileName);
    // Copies the INF, its catalogs and the files it names from the current
    // directory into folder; 1 when every copy succeeded.
    int StageDriverFiles(const wchar_t* folder);
    // Stages the files and updates every device's driver (PnPInstallCode).
    int InstallDrivers();
    int IsRebootRequired() const { return m_bReboot; }

    const CStrList& GetHardwareIds() const { return m_vHardwareIds; }
    const CStrList& GetStageFiles() const { return m_vStageFiles; }

    // driver.sys -> driver.sy_, a.h -> a.h_, readme -> readme._
    static CStr GetCompressedName(const wchar_t* fileName);
    // The drive of the system directory followed by "\DEVAVOROR\pnpdrvs";
    // empty when the system directory cannot be read.
    static CStr GetStagingFolder();

private:
    void CollectCatalogFiles(HINF inf);
    void CollectCopyFiles(HINF inf, const wchar_t* infPath);
    void CollectFileListSection(HINF inf, const wchar_t* section);

    CStrList m_vHardwareIds;
    CStrList m_vStageFiles;
    CStr m_strInfName;
    int m_bReboot;
    int m_bForce;
};
