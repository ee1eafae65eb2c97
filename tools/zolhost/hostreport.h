// CHostReport: everything the component answered, and its two renderings: a
// readable report and one JSON object (built with nlohmann-json, which does
// the escaping and number forms).
#pragma once

#include <string>
#include <vector>

class CHostReport
{
public:
    // Text properties 1 to 4 and flag properties 6 to 8 (index = type).
    struct Property {
        int result = 0;
        std::wstring text; // types 1 to 4
        int value = 0;     // types 6 to 8
    };

    // One device record of property 10 or 11.
    struct Device {
        std::wstring instanceId;
        std::wstring hardwareId;
        int outcome = 0; // ZOL_DEVICE_*
        int reason = 0;  // ZOL_REASON_*
        unsigned long error = 0;
        bool restart = false;
        std::wstring service;
        std::wstring inf;
        std::wstring driverVersion;
        int action = 0; // ZOL_ACTION_*; uninstall runs only
        std::wstring targetInf;
        std::wstring targetVersion;
    };

    // An uninstall run (--uninstall): the what-if (property 11), then
    // Uninstall unless --check.
    struct UninstallRun {
        bool requested = false; // --uninstall: the report shows this instead of Install
        bool check = false;     // --check: only the what-if was asked
        bool forced = false;    // --force: Uninstall was given ZOL_UNINSTALL_FORCE
        int planResult = 0;     // property 11's result
        int packageState = 0;   // ZOL_PACKAGE_*, when planResult is 1
        std::vector<Device> plan;
        bool called = false; // Uninstall was called
        int result = 0;
        std::wstring message;
        // Uninstall was not called: another installation held the install
        // mutex (message says so).
        bool inProgress = false;
    };

    // The JSON layout's version ("report_version"). Version 2 adds the
    // uninstall parts; every version-1 field keeps its name and values.
    static const int kReportVersion = 2;

    CHostReport();

    std::wstring componentPath;
    std::wstring language;
    int interfaceResult;
    int interfaceVersion;
    Property properties[9]; // [1..8] used; 5 uses prereqStatus/prereqMessage
    int prereqStatus;
    std::wstring prereqMessage;
    bool installed; // Install was called
    int installResult;
    std::wstring installMessage;
    // Install was not called: the install lock could not be taken
    // (installMessage says so), and why: "installation" (another one holds
    // it), "not_administrator" (a process that is not an administrator's
    // holds it) or "lock_unavailable"; empty when not known.
    bool installInProgress;
    UninstallRun uninstall;
    std::wstring inProgressReason;
    // Whether the host's log was written (set by a run; a report without it
    // says nothing about the log), and why not.
    bool logKnown;
    bool logWritten;
    std::wstring logReason;
    std::vector<Device> devices;
    int exitCode;
    // Plain sentences about the way the component was run.
    std::vector<std::wstring> warnings;
    // The COM apartment of the host's thread after the last call into the
    // component; empty when the host did not set up COM (no --sta).
    std::wstring hostApartment;

    std::wstring RenderText() const;
    std::wstring RenderJson() const;

    static const wchar_t* PropertyName(int type);
    static const wchar_t* StatusName(int status);
    static const wchar_t* InstallResultName(int result);
    // "present", "updated", "failed", "not_attempted", "planned", "removed".
    static const wchar_t* OutcomeName(int outcome);
    // Why a device was not attempted, in words; empty for ZOL_REASON_NONE.
    static const wchar_t* ReasonText(int reason);
    // "none", "restore_previous", "next_best", "no_driver", "remove_device".
    static const wchar_t* ActionName(int action);
    // "not_installed", "installed", "installing", "partial", "superseded".
    static const wchar_t* PackageStateName(int state);
    // A JSON string literal, quotes included, as the JSON report writes it.
    static std::wstring JsonString(const std::wstring& text);
    // Text made printable on one report line: control characters shown as
    // escapes (\r, \n, \t, \xNN).
    static std::wstring Printable(const std::wstring& text);

private:
    std::wstring RenderUninstallText() const;
    // "<label> N" and a table of the devices, with the uninstall columns in
    // an uninstall run.
    std::wstring RenderDeviceTable(const wchar_t* label, const std::vector<Device>& list) const;
};
