#include "hostreport.h"

#include "hostsupport.h"

#include "zolcomp/zolcomp.h"

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
    default: return L"unknown reason";
    }
}

std::wstring CHostReport::JsonString(const std::wstring& text)
{
    std::wstring out = L"\"";
    for (wchar_t c : text) {
        switch (c) {
        case L'"': out += L"\\\""; break;
        case L'\\': out += L"\\\\"; break;
        case L'\b': out += L"\\b"; break;
        case L'\f': out += L"\\f"; break;
        case L'\n': out += L"\\n"; break;
        case L'\r': out += L"\\r"; break;
        case L'\t': out += L"\\t"; break;
        default:
            if (c < 0x20 || c == 0x7F)
                out += HostFormat(L"\\u%04x", static_cast<unsigned>(c));
            else
                out += c;
        }
    }
    out += L"\"";
    return out;
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
    if (installed) {
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
    out += RenderDeviceTable();
    if (!hostApartment.empty())
        out += HostFormat(L"Host apartment:     %s\r\n", hostApartment.c_str());
    out += HostFormat(L"Exit code:          %d\r\n", exitCode);
    return out;
}

std::wstring CHostReport::RenderJson() const
{
    std::wstring out = HostFormat(L"{\"report_version\":%d,\"interface_version\":", kReportVersion);
    out += interfaceResult ? HostFormat(L"%d", interfaceVersion) : std::wstring(L"null");
    out += L",\"properties\":{";
    for (int type = 1; type <= 8; ++type) {
        const Property& p = properties[type];
        if (type > 1)
            out += L",";
        out += HostFormat(L"\"%d\":{\"result\":%d,", type, p.result);
        if (type == 5) {
            if (p.result)
                out += HostFormat(L"\"status\":%d,\"message\":%s}", prereqStatus, JsonString(prereqMessage).c_str());
            else
                out += L"\"status\":null,\"message\":null}";
        } else if (type >= 6) {
            out += p.result ? HostFormat(L"\"value\":%d}", p.value) : std::wstring(L"\"value\":null}");
        } else {
            out += p.result ? L"\"value\":" + JsonString(p.text) + L"}" : std::wstring(L"\"value\":null}");
        }
    }
    out += L"}";
    if (installed)
        out += HostFormat(L",\"install\":{\"result\":%d,\"message\":%s,\"in_progress\":false}", installResult,
                          JsonString(installMessage).c_str());
    else if (installInProgress)
        out += L",\"install\":{\"result\":null,\"message\":" + JsonString(installMessage) + L",\"in_progress\":true" +
               (inProgressReason.empty() ? L"" : L",\"in_progress_reason\":" + JsonString(inProgressReason)) + L"}";
    out += L",\"devices\":[";
    for (size_t i = 0; i < devices.size(); ++i)
        out += (i ? L"," : L"") + DeviceJson(devices[i]);
    out += L"]";
    out += LogJson();
    if (!warnings.empty()) {
        out += L",\"warnings\":[";
        for (size_t i = 0; i < warnings.size(); ++i)
            out += (i ? L"," : L"") + JsonString(warnings[i]);
        out += L"]";
    }
    if (!hostApartment.empty())
        out += L",\"host_apartment\":" + JsonString(hostApartment);
    out += L"}\r\n";
    return out;
}

std::wstring CHostReport::LogJson() const
{
    if (!logKnown)
        return std::wstring();
    if (logWritten)
        return L",\"log\":{\"written\":true,\"reason\":null}";
    return L",\"log\":{\"written\":false,\"reason\":" + JsonString(logReason) + L"}";
}

std::wstring CHostReport::DeviceJson(const Device& d)
{
    auto text = [](const std::wstring& value) { return value.empty() ? std::wstring(L"null") : JsonString(value); };
    std::wstring out = L"{\"instance_id\":" + JsonString(d.instanceId) + L",\"hardware_id\":" + JsonString(d.hardwareId);
    out += HostFormat(L",\"outcome\":\"%s\"", OutcomeName(d.outcome));
    out += d.outcome == ZOL_DEVICE_FAILED ? HostFormat(L",\"error\":%lu", d.error) : std::wstring(L",\"error\":null");
    out += L",\"reason\":" + text(ReasonText(d.outcome == ZOL_DEVICE_NOT_ATTEMPTED ? d.reason : ZOL_REASON_NONE));
    out += d.restart ? L",\"restart\":true" : L",\"restart\":false";
    out += L",\"service\":" + text(d.service) + L",\"inf\":" + text(d.inf) +
           L",\"driver_version\":" + text(d.driverVersion) + L"}";
    return out;
}

std::wstring CHostReport::RenderDeviceTable() const
{
    std::wstring out = HostFormat(L"Devices:            %u\r\n", static_cast<unsigned>(devices.size()));
    if (devices.empty())
        return out;
    const size_t columns = 7;
    std::vector<std::vector<std::wstring>> rows;
    rows.push_back({L"Instance ID", L"Hardware ID", L"Outcome", L"Restart", L"Service", L"INF", L"Driver version"});
    for (const Device& d : devices) {
        std::wstring outcome = OutcomeName(d.outcome);
        if (d.outcome == ZOL_DEVICE_FAILED)
            outcome += HostFormat(L" (error 0x%08lX)", d.error);
        else if (d.outcome == ZOL_DEVICE_NOT_ATTEMPTED)
            outcome += HostFormat(L" (%s)", ReasonText(d.reason));
        auto cell = [](const std::wstring& value) { return value.empty() ? std::wstring(L"-") : Printable(value); };
        rows.push_back({cell(d.instanceId), cell(d.hardwareId), outcome, d.restart ? L"yes" : L"no", cell(d.service),
                        cell(d.inf), cell(d.driverVersion)});
    }
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
