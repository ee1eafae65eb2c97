#include "hostreport.h"

#include "hostoutput.h"
#include "hostsupport.h"

#include "zolcomp/zolcomp.h"

#include <nlohmann/json.hpp>

namespace {

// A JSON value whose objects keep their fields in the order they were set:
// the report's field order is part of its look.
typedef nlohmann::ordered_json Json;

// Compact, non-ASCII characters as they are (UTF-8); bytes that are not
// UTF-8 would be replaced rather than thrown about, but Text makes none.
std::wstring Dump(const Json& value)
{
    return CHostOutput::FromUtf8(value.dump(-1, ' ', false, Json::error_handler_t::replace));
}

// The library holds text as UTF-8. The platform's conversion makes a
// surrogate without its partner U+FFFD, the replacement character, one for
// each such unit (measured under Wine 8 too), as in the readable report.
Json Text(const std::wstring& text) { return Json(CHostOutput::ToUtf8(text)); }

// A text field that is null when empty.
Json TextOrNull(const std::wstring& text) { return text.empty() ? Json(nullptr) : Text(text); }

// One device; the uninstall fields only in an uninstall run's report.
Json DeviceJson(const CHostReport::Device& d, bool uninstallRun)
{
    Json out = Json::object();
    out["instance_id"] = Text(d.instanceId);
    out["hardware_id"] = Text(d.hardwareId);
    out["outcome"] = Text(CHostReport::OutcomeName(d.outcome));
    out["error"] = d.outcome == ZOL_DEVICE_FAILED ? Json(d.error) : Json(nullptr);
    out["reason"] =
        TextOrNull(CHostReport::ReasonText(d.outcome == ZOL_DEVICE_NOT_ATTEMPTED ? d.reason : ZOL_REASON_NONE));
    out["restart"] = d.restart;
    out["service"] = TextOrNull(d.service);
    out["inf"] = TextOrNull(d.inf);
    out["driver_version"] = TextOrNull(d.driverVersion);
    if (uninstallRun) {
        out["action"] = Text(CHostReport::ActionName(d.action));
        out["target_inf"] = TextOrNull(d.targetInf);
        out["target_version"] = TextOrNull(d.targetVersion);
    }
    return out;
}

Json DevicesJson(const std::vector<CHostReport::Device>& list, bool uninstallRun)
{
    Json out = Json::array();
    for (const CHostReport::Device& device : list)
        out.push_back(DeviceJson(device, uninstallRun));
    return out;
}

} // namespace

CHostReport::CHostReport()
    : interfaceResult(0), interfaceVersion(0), prereqStatus(0), installed(false), installResult(0),
      installInProgress(false), logKnown(false), logWritten(false), exitCode(0)
{
}

const wchar_t* CHostReport::PropertyName(int type)
{
    switch (type) {
    case ZOL_PROP_NAME: return L"Package name";
    case ZOL_PROP_DESCRIPTION: return L"Package description";
    case ZOL_PROP_INSTALLED_VERSION: return L"Installed version";
    case ZOL_PROP_PACKAGE_VERSION: return L"Package version";
    case ZOL_PROP_PREREQUISITES: return L"Prerequisite check";
    case ZOL_PROP_SILENT_CAPABLE: return L"Silent install (6)";
    case ZOL_PROP_SILENT_CAPABLE2: return L"Silent install (7)";
    case ZOL_PROP_FLAG8: return L"Flag 8";
    default: return L"";
    }
}

const wchar_t* CHostReport::StatusName(int status)
{
    switch (status) {
    case STATUS_INSTALLED_SAME: return L"STATUS_INSTALLED_SAME";
    case STATUS_INSTALLED_OLDER: return L"STATUS_INSTALLED_OLDER";
    case STATUS_INSTALLED_NEWER: return L"STATUS_INSTALLED_NEWER";
    case STATUS_INSTALLED_NO_HARDWARE: return L"STATUS_INSTALLED_NO_HARDWARE";
    case STATUS_NOT_INSTALLED: return L"STATUS_NOT_INSTALLED";
    case STATUS_NOT_APPLICABLE: return L"STATUS_NOT_APPLICABLE";
    case STATUS_CANNOT_INSTALL: return L"STATUS_CANNOT_INSTALL";
    case STATUS_UNDETERMINED: return L"STATUS_UNDETERMINED";
    default: return L"unknown status";
    }
}

const wchar_t* CHostReport::InstallResultName(int result)
{
    switch (result) {
    case ZOL_INSTALL_FAILED: return L"failure";
    case ZOL_INSTALL_SUCCESS: return L"success";
    case ZOL_INSTALL_RESTART: return L"success, restart required";
    default: return L"unknown result";
    }
}

const wchar_t* CHostReport::OutcomeName(int outcome)
{
    switch (outcome) {
    case ZOL_DEVICE_PRESENT: return L"present";
    case ZOL_DEVICE_UPDATED: return L"updated";
    case ZOL_DEVICE_FAILED: return L"failed";
    case ZOL_DEVICE_NOT_ATTEMPTED: return L"not_attempted";
    case ZOL_DEVICE_PLANNED: return L"planned";
    case ZOL_DEVICE_REMOVED: return L"removed";
    default: return L"unknown";
    }
}

const wchar_t* CHostReport::ReasonText(int reason)
{
    switch (reason) {
    case ZOL_REASON_NONE: return L"";
    case ZOL_REASON_PACKAGE_REFUSED: return L"package refused";
    case ZOL_REASON_LIBRARY_MISSING: return L"library missing";
    case ZOL_REASON_FUNCTION_MISSING: return L"update function missing";
    case ZOL_REASON_INSTALL_IN_PROGRESS: return L"another installation in progress";
    case ZOL_REASON_STAGING_UNSAFE: return L"staging folder not trusted";
    case ZOL_REASON_NO_DRIVER_LEFT: return L"no driver left";
    case ZOL_REASON_NOT_REACHED: return L"not reached";
    case ZOL_REASON_NOT_RECORDED: return L"install record not written";
    default: return L"unknown reason";
    }
}

const wchar_t* CHostReport::ActionName(int action)
{
    switch (action) {
    case ZOL_ACTION_NONE: return L"none";
    case ZOL_ACTION_RESTORE_PREVIOUS: return L"restore_previous";
    case ZOL_ACTION_NEXT_BEST: return L"next_best";
    case ZOL_ACTION_NO_DRIVER: return L"no_driver";
    case ZOL_ACTION_REMOVE_DEVICE: return L"remove_device";
    default: return L"unknown";
    }
}

const wchar_t* CHostReport::PackageStateName(int state)
{
    switch (state) {
    case ZOL_PACKAGE_NOT_INSTALLED: return L"not_installed";
    case ZOL_PACKAGE_INSTALLED: return L"installed";
    case ZOL_PACKAGE_INSTALLING: return L"installing";
    case ZOL_PACKAGE_PARTIAL: return L"partial";
    case ZOL_PACKAGE_SUPERSEDED: return L"superseded";
    default: return L"unknown";
    }
}

std::wstring CHostReport::JsonString(const std::wstring& text)
{
    return Dump(Text(text));
}

std::wstring CHostReport::Printable(const std::wstring& text)
{
    std::wstring out;
    for (wchar_t c : text) {
        if (c == L'\r')
            out += L"\\r";
        else if (c == L'\n')
            out += L"\\n";
        else if (c == L'\t')
            out += L"\\t";
        else if (c < 0x20 || c == 0x7F)
            out += HostFormat(L"\\x%02x", static_cast<unsigned>(c));
        else
            out += c;
    }
    return out;
}

std::wstring CHostReport::RenderText() const
{
    std::wstring out;
    out += HostFormat(L"Component:          %s\r\n", componentPath.c_str());
    out += HostFormat(L"Language:           %s\r\n", language.c_str());
    for (const std::wstring& warning : warnings)
        out += HostFormat(L"Warning:            %s\r\n", Printable(warning).c_str());
    if (interfaceResult)
        out += HostFormat(L"Interface version:  %d\r\n", interfaceVersion);
    else
        out += HostFormat(L"Interface version:  (none; result %d)\r\n", interfaceResult);
    out += L"\r\nProperties:\r\n";
    for (int type = 1; type <= 8; ++type) {
        const Property& p = properties[type];
        out += HostFormat(L"  %d %-20s result %d", type, PropertyName(type), p.result);
        if (p.result == 0) {
            out += L"  (none)\r\n";
        } else if (type == 5) {
            out += HostFormat(L"  status %d (%s)\r\n", prereqStatus, StatusName(prereqStatus));
            out += HostFormat(L"      message: \"%s\"\r\n", Printable(prereqMessage).c_str());
        } else if (type >= 6) {
            out += HostFormat(L"  value %d\r\n", p.value);
        } else {
            out += HostFormat(L"  \"%s\"\r\n", Printable(p.text).c_str());
        }
    }
    out += L"\r\n";
    if (uninstall.requested) {
        out += RenderUninstallText();
    } else if (installed) {
        out += HostFormat(L"Install:            result %d (%s)\r\n", installResult, InstallResultName(installResult));
        out += HostFormat(L"Install message:    \"%s\"\r\n", Printable(installMessage).c_str());
    } else if (installInProgress) {
        out += L"Install:            not called (another installation is in progress)\r\n";
        out += HostFormat(L"Install message:    \"%s\"\r\n", Printable(installMessage).c_str());
    } else {
        out += L"Install:            not called (--check)\r\n";
    }
    if (logKnown && !logWritten)
        out += HostFormat(L"Log:                not written: %s\r\n", Printable(logReason).c_str());
    out += RenderDeviceTable(L"Devices:            ", devices);
    if (!hostApartment.empty())
        out += HostFormat(L"Host apartment:     %s\r\n", hostApartment.c_str());
    out += HostFormat(L"Exit code:          %d\r\n", exitCode);
    return out;
}

std::wstring CHostReport::RenderUninstallText() const
{
    std::wstring out;
    if (uninstall.planResult)
        out += HostFormat(L"Package state:      %s\r\n", PackageStateName(uninstall.packageState));
    else
        out += HostFormat(L"Package state:      (none; result %d)\r\n", uninstall.planResult);
    out += RenderDeviceTable(L"Uninstall plan:     ", uninstall.plan);
    out += HostFormat(L"Force:              %s\r\n", uninstall.forced ? L"yes" : L"no");
    if (uninstall.called) {
        out += HostFormat(L"Uninstall:          result %d (%s)\r\n", uninstall.result,
                          InstallResultName(uninstall.result));
        out += HostFormat(L"Uninstall message:  \"%s\"\r\n", Printable(uninstall.message).c_str());
    } else if (uninstall.inProgress) {
        out += L"Uninstall:          not called (another installation is in progress)\r\n";
        out += HostFormat(L"Uninstall message:  \"%s\"\r\n", Printable(uninstall.message).c_str());
    } else {
        out += L"Uninstall:          not called (--check)\r\n";
    }
    return out;
}

std::wstring CHostReport::RenderJson() const
{
    const bool uninstallRun = uninstall.requested;
    Json report = Json::object();
    const int version = kReportVersion;
    report["report_version"] = version;
    report["interface_version"] = interfaceResult ? Json(interfaceVersion) : Json(nullptr);
    Json answers = Json::object();
    for (int type = 1; type <= 8; ++type) {
        const Property& p = properties[type];
        Json answer = Json::object();
        answer["result"] = p.result;
        if (type == 5) {
            answer["status"] = p.result ? Json(prereqStatus) : Json(nullptr);
            answer["message"] = p.result ? Text(prereqMessage) : Json(nullptr);
        } else if (type >= 6) {
            answer["value"] = p.result ? Json(p.value) : Json(nullptr);
        } else {
            answer["value"] = p.result ? Text(p.text) : Json(nullptr);
        }
        answers[std::to_string(type)] = answer;
    }
    report["properties"] = answers;
    if (uninstallRun) {
        Json run = Json::object();
        run["result"] = uninstall.called ? Json(uninstall.result) : Json(nullptr);
        run["message"] = Text(uninstall.message);
        run["in_progress"] = uninstall.inProgress;
        if (uninstall.inProgress && !inProgressReason.empty())
            run["in_progress_reason"] = Text(inProgressReason);
        run["package_state"] = uninstall.planResult ? Text(PackageStateName(uninstall.packageState)) : Json(nullptr);
        run["forced"] = uninstall.forced;
        run["check"] = uninstall.check;
        run["plan"] = DevicesJson(uninstall.plan, true);
        report["uninstall"] = run;
    } else if (installed || installInProgress) {
        Json install = Json::object();
        install["result"] = installed ? Json(installResult) : Json(nullptr);
        install["message"] = Text(installMessage);
        install["in_progress"] = !installed && installInProgress;
        if (!installed && installInProgress && !inProgressReason.empty())
            install["in_progress_reason"] = Text(inProgressReason);
        report["install"] = install;
    }
    report["devices"] = DevicesJson(devices, uninstallRun);
    // Whether the run's log was written, when the run looked at it.
    if (logKnown) {
        Json log = Json::object();
        log["written"] = logWritten;
        log["reason"] = logWritten ? Json(nullptr) : Text(logReason);
        report["log"] = log;
    }
    if (!warnings.empty()) {
        Json list = Json::array();
        for (const std::wstring& warning : warnings)
            list.push_back(Text(warning));
        report["warnings"] = list;
    }
    if (!hostApartment.empty())
        report["host_apartment"] = Text(hostApartment);
    return Dump(report) + L"\r\n";
}

std::wstring CHostReport::RenderDeviceTable(const wchar_t* label, const std::vector<Device>& list) const
{
    std::wstring out = HostFormat(L"%s%u\r\n", label, static_cast<unsigned>(list.size()));
    if (list.empty())
        return out;
    const bool uninstallRun = uninstall.requested;
    std::vector<std::vector<std::wstring>> rows;
    rows.push_back({L"Instance ID", L"Hardware ID", L"Outcome", L"Restart", L"Service", L"INF", L"Driver version"});
    if (uninstallRun)
        rows.back().insert(rows.back().end(), {L"Action", L"Target INF", L"Target version"});
    for (const Device& d : list) {
        std::wstring outcome = OutcomeName(d.outcome);
        if (d.outcome == ZOL_DEVICE_FAILED)
            outcome += HostFormat(L" (error 0x%08lX)", d.error);
        else if (d.outcome == ZOL_DEVICE_NOT_ATTEMPTED)
            outcome += HostFormat(L" (%s)", ReasonText(d.reason));
        auto cell = [](const std::wstring& value) { return value.empty() ? std::wstring(L"-") : Printable(value); };
        rows.push_back({cell(d.instanceId), cell(d.hardwareId), outcome, d.restart ? L"yes" : L"no", cell(d.service),
                        cell(d.inf), cell(d.driverVersion)});
        if (uninstallRun)
            rows.back().insert(rows.back().end(), {ActionName(d.action), cell(d.targetInf), cell(d.targetVersion)});
    }
    const size_t columns = rows[0].size();
    std::vector<size_t> widths(columns, 0);
    for (const auto& row : rows) {
        for (size_t c = 0; c < columns; ++c)
            widths[c] = row[c].size() > widths[c] ? row[c].size() : widths[c];
    }
    for (const auto& row : rows) {
        std::wstring line = L" ";
        for (size_t c = 0; c < columns; ++c) {
            line += L" " + row[c];
            if (c + 1 < columns)
                line += std::wstring(widths[c] - row[c].size() + 1, L' ');
        }
        out += line + L"\r\n";
    }
    return out;
}
