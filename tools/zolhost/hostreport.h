// CHostReport: everything the component answered, and its two renderings: a
// readable report and one JSON object.
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

    // One device of property 10.
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
    };

    // The JSON layout's version ("report_version").
    static const int kReportVersion = 1;

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
    // "present", "updated", "failed", "not_attempted".
    static const wchar_t* OutcomeName(int outcome);
    // Why a device was not attempted, in words; empty for ZOL_REASON_NONE.
    static const wchar_t* ReasonText(int reason);
    // A JSON string literal, quotes included.
    static std::wstring JsonString(const std::wstring& text);
    // Text made printable on one report line: control characters shown as
    // escapes (\r, \n, \t, \xNN).
    static std::wstring Printable(const std::wstring& text);

private:
    std::wstring RenderDeviceTable() const;
    // ,"log":{"written":...,"reason":...} when the run looked at the log.
    std::wstring LogJson() const;
    static std::wstring DeviceJson(const Device& device);
};
