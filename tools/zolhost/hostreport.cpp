#include "hostreport.h"

#include "hostsupport.h"

CHostReport::CHostReport()
    : interfaceResult(0), interfaceVersion(0), prereqStatus(0), installed(false), installResult(0), exitCode(0)
{
}

const wchar_t* CHostReport::PropertyName(int type)
{
    switch (type) {
    case 1: return L"Package name";
    case 2: return L"Package description";
    case 3: return L"Installed version";
    case 4: return L"Package version";
    case 5: return L"Prerequisite check";
    case 6: return L"Silent install (6)";
    case 7: return L"Silent install (7)";
    case 8: return L"Flag 8";
    default: return L"";
    }
}

const wchar_t* CHostReport::StatusName(int status)
{
    switch (status) {
    case 1: return L"STATUS_INSTALLED_SAME";
    case 2: return L"STATUS_INSTALLED_OLDER";
    case 3: return L"STATUS_INSTALLED_NEWER";
    case 4: return L"STATUS_INSTALLED_NO_HARDWARE";
    case 5: return L"STATUS_NOT_INSTALLED";
    case 6: return L"STATUS_NOT_APPLICABLE";
    case 7: return L"STATUS_CANNOT_INSTALL";
    case 8: return L"STATUS_UNDETERMINED";
    default: return L"unknown status";
    }
}

const wchar_t* CHostReport::InstallResultName(int result)
{
    switch (result) {
    case 0: return L"failure";
    case 1: return L"success";
    case 2: return L"success, restart required";
    default: return L"unknown result";
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
    } else {
        out += L"Install:            not called (--check)\r\n";
    }
    if (!hostApartment.empty())
        out += HostFormat(L"Host apartment:     %s\r\n", hostApartment.c_str());
    out += HostFormat(L"Exit code:          %d\r\n", exitCode);
    return out;
}

std::wstring CHostReport::RenderJson() const
{
    std::wstring out = L"{\"interface_version\":";
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
        out += HostFormat(L",\"install\":{\"result\":%d,\"message\":%s}", installResult,
                          JsonString(installMessage).c_str());
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
