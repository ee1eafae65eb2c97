// Package definition ("qx*.xml", document element "zol_package") and
// installer description ("install.xml", document element "zol_install").
//
// Every field copied into a fixed buffer has a defined outcome for input that
// does not fit; nothing is ever written past a buffer:
// - "filename": the last four characters (the extension) are cut from the
//   whole text. A text of fewer than four characters stores an empty name; a
//   name left longer than 127 characters keeps its first 127 (the verbose log
//   named after it still carries the package's name).
// - key-file candidates: a candidate whose expanded path would not fit in
//   MAX_PATH characters is skipped (it could be neither tested nor used). The
//   joined text is not limited itself: only the expanded path is kept.
// - device codes: a code longer than 255 characters skips that device.
// - "platform": cut to 63 characters. The record is kept, so a package that
//   restricts the operating systems stays restricted (such a name matches no
//   system); dropping the record could leave the list empty, which would mean
//   "every system".
// - "required_diskspace" without "size_kb", or with a negative value: the
//   requirement is left as it was (0 by default).
// - "file" / "DefaultDir" of the post-install command: an expansion that does
//   not fit in MAX_PATH characters leaves the member unchanged (a cut command
//   line would start the wrong program).
#include "basecomp.h"

#include "package/xmlreader.h"
#include "support/asciicase.h"
#include "support/handles.h"
#include "support/plainname.h"
#include "support/wformat.h"

#include <limits.h>
#include <wchar.h>

#include <new>
#include <string>

namespace {

const size_t kMaxDeviceCode = 255;

// The text of an element: its first child is a text or CDATA node with text.
const wchar_t* ElementText(const CZolXMLNode* element)
{
    if (element == nullptr)
        return nullptr;
    const CZolXMLNode* child = element->GetFirstChild();
    if (child == nullptr || child->GetType() != CZolXMLNode::TYPE_TEXT)
        return nullptr;
    return child->GetText();
}

// Decimal conversion as the C runtime does it: leading white space and a sign
// are accepted, conversion stops at the first non-digit, no digits give 0.
// Values beyond the range of int are clamped.
int ToInt(const wchar_t* text)
{
    long value = wcstol(text, nullptr, 10);
    if (value > INT_MAX)
        return INT_MAX;
    if (value < INT_MIN)
        return INT_MIN;
    return static_cast<int>(value);
}

bool IsYes(const wchar_t* value)
{
    return value != nullptr && EqualsNoCase(value, L"yes");
}

// Expands environment variables into a buffer of MAX_PATH characters; false
// when the expansion fails or does not fit.
bool ExpandPath(const wchar_t* source, wchar_t (&expanded)[MAX_PATH])
{
    expanded[0] = L'\0';
    DWORD needed = ExpandEnvironmentStringsW(source, expanded, MAX_PATH);
    if (needed == 0 || needed > MAX_PATH) {
        expanded[0] = L'\0';
        return false;
    }
    expanded[MAX_PATH - 1] = L'\0';
    return true;
}

bool IsExistingFile(const wchar_t* path)
{
    DWORD attributes = GetFileAttributesW(path);
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// The element that answers a language: the first with "lang" equal to the
// language, else the first "en" one; without a language the first of all.
CZolXMLNode* FindTranslation(const CZolXMLReader* reader, CZolXMLNode* parent, const wchar_t* element,
                             const wchar_t* language)
{
    if (language == nullptr)
        return reader->FindChild(parent, element);
    CZolXMLNode* node = reader->FindChild(parent, element, L"lang", language);
    if (node == nullptr)
        node = reader->FindChild(parent, element, L"lang", L"en");
    return node;
}

// The parts of a PCI device's code, in the order they are joined.
const wchar_t* const kPciPartNames[] = {L"ven", L"dev", L"subven", L"subdev"};
const size_t kPciParts = sizeof(kPciPartNames) / sizeof(kPciPartNames[0]);

// The document's own copies of the part names seen so far (names repeat from
// device to device, and a document keeps one copy of each): a copy seen once
// is known by its address after that.
struct PCIPARTNAMES {
    const wchar_t* pszSeen[kPciParts];
};

// Which part a "name" value stands for (kPciParts for none).
size_t FindPciPart(const wchar_t* value, PCIPARTNAMES& known)
{
    for (size_t i = 0; i < kPciParts; ++i) {
        if (value == known.pszSeen[i])
            return i;
    }
    for (size_t i = 0; i < kPciParts; ++i) {
        if (EqualsNoCase(value, kPciPartNames[i])) {
            known.pszSeen[i] = value;
            return i;
        }
    }
    return kPciParts;
}

// The text of each part of a PCI device's code: that of the first
// "supported_device_data" child whose "name" is the part's name ignoring case
// (null when there is none, or it has no text). One pass over the children
// finds all of them.
void FindPciCodeParts(const CZolXMLNode* device, PCIPARTNAMES& known, const wchar_t* (&texts)[kPciParts])
{
    bool found[kPciParts] = {};
    for (size_t i = 0; i < kPciParts; ++i)
        texts[i] = nullptr;
    size_t left = kPciParts;
    // Siblings of one name share one copy of it: each distinct copy is
    // compared once.
    const wchar_t* same = nullptr;
    const wchar_t* other = nullptr;
    for (const CZolXMLNode* node = device->GetFirstChild(); node && left; node = node->GetNextSibling()) {
        const wchar_t* name = node->GetName();
        if (name == nullptr || name == other)
            continue;
        if (name != same) {
            if (!CZolXMLNode::SameName(name, L"supported_device_data")) {
                other = name;
                continue;
            }
            same = name;
        }
        const wchar_t* value = node->GetAttribute(L"name");
        if (value == nullptr)
            continue;
        const size_t part = FindPciPart(value, known);
        if (part < kPciParts && !found[part]) {
            found[part] = true;
            texts[part] = ElementText(node);
            --left;
        }
    }
}

} // namespace

int CBaseComponent::FindPackageDefinitionFile(wchar_t* buffer, int capacity)
{
    if (buffer == nullptr || capacity <= 0)
        return 0;
    CZolXMLReader reader;
    WIN32_FIND_DATAW found = {};
    CUniqueFind find(FindFirstFileW(L"qx*.xml", &found));
    if (!find)
        return 0;
    do {
        // A name that does not fit the caller's buffer could only be handed
        // back cut, naming another file: such an entry is passed over.
        if (wcslen(found.cFileName) >= static_cast<size_t>(capacity))
            continue;
        if (reader.Load(found.cFileName) != CZolXMLReader::LOAD_OK || !reader.IsLoaded())
            continue;
        if (reader.FindChild(nullptr, L"zol_package") == nullptr)
            continue;
        CopyTruncate(buffer, static_cast<size_t>(capacity), found.cFileName);
        return 1;
    } while (FindNextFileW(find.get(), &found));
    return 0;
}

int CBaseComponent::ReadPackageDefinition(const wchar_t* path)
{
    if (path == nullptr || *path == L'\0')
        return 4;
    if (m_pPackageReader != nullptr)
        return 1;
    m_pPackageReader = new (std::nothrow) CZolXMLReader();
    if (m_pPackageReader == nullptr)
        return 4;
    CZolXMLReader* reader = m_pPackageReader;
    int loaded = reader->Load(path);
    if (loaded != CZolXMLReader::LOAD_OK)
        return loaded;
    if (!reader->IsLoaded())
        return 3;

    CZolXMLNode* package = reader->FindChild(nullptr, L"zol_package");
    if (package == nullptr)
        return 0;

    // Package file name without its extension.
    if (CZolXMLNode* fileName = reader->FindChild(package, L"filename")) {
        CZolXMLNode* child = fileName->GetFirstChild();
        const wchar_t* text = child ? child->GetText() : nullptr;
        if (text) {
            size_t length = wcslen(text);
            size_t stem = length >= 4 ? length - 4 : 0;
            const size_t capacity = sizeof(m_szPackageFileName) / sizeof(m_szPackageFileName[0]);
            if (stem >= capacity)
                stem = capacity - 1;
            // The stem names the verbose log file in the log folder: a text
            // that is not a plain file name, or whose stem is not one, is
            // refused and the name stays as it was.
            std::wstring stemText(text, stem);
            if (IsPlainName(text) && (stem == 0 || IsPlainName(stemText.c_str()))) {
                wmemcpy(m_szPackageFileName, text, stem);
                m_szPackageFileName[stem] = L'\0';
            } else {
                m_vRefusedNames.push_back(CStr(text));
            }
        }
    }

    // Key file: the first candidate that exists wins; the first candidate
    // seen stands in when none exists.
    if (CZolXMLNode* keys = reader->FindChild(package, L"sw_keys")) {
        CStr keyName;
        for (CZolXMLNode* node = reader->FindChild(keys, L"sw_keys_and"); node; node = node->GetNextSibling()) {
            CZolXMLNode* key = reader->FindChild(node, L"sw_key");
            if (key == nullptr)
                continue;
            if (const wchar_t* name = key->GetAttribute(L"name"))
                keyName = name;
            const wchar_t* directory = ElementText(reader->FindChild(key, L"sw_key_expectedpath"));
            if (directory == nullptr)
                continue;
            size_t length = wcslen(directory);
            std::wstring joined = (length > 0 && directory[length - 1] == L'\\')
                                      ? FormatWide(L"%s%s", directory, keyName.GetString())
                                      : FormatWide(L"%s\\%s", directory, keyName.GetString());
            wchar_t expanded[MAX_PATH];
            if (!ExpandPath(joined.c_str(), expanded))
                continue;
            if (m_strInstalledFilePath.IsEmpty())
                SetInstalledFilePath(expanded);
            if (IsExistingFile(expanded)) {
                SetInstalledFilePath(expanded);
                break;
            }
        }
    }

    // Installation capabilities.
    if (CZolXMLNode* installation = reader->FindChild(package, L"installation")) {
        if (CZolXMLNode* install = reader->FindChild(installation, L"install")) {
            if (CZolXMLNode* caps = reader->FindChild(install, L"install_caps")) {
                if (const wchar_t* silent = caps->GetAttribute(L"silent"))
                    SetSilentCapable(IsYes(silent) ? 1 : 0);
            }
            if (CZolXMLNode* reboot = reader->FindChild(install, L"reboot_required")) {
                if (const wchar_t* value = reboot->GetAttribute(L"value"))
                    SetRebootRequired(IsYes(value) ? 1 : 0);
            }
        }
    }

    // Disk space.
    if (CZolXMLNode* prerequisites = reader->FindChild(package, L"prerequisites")) {
        if (CZolXMLNode* disk = reader->FindChild(prerequisites, L"required_diskspace")) {
            if (const wchar_t* size = disk->GetAttribute(L"size_kb")) {
                int kilobytes = ToInt(size);
                if (kilobytes >= 0)
                    SetRequiredDiskSpace(kilobytes);
            }
        }
    }

    // Supported devices: one device per "supported_devices_and".
    if (CZolXMLNode* prerequisites = reader->FindChild(package, L"prerequisites")) {
        if (CZolXMLNode* devices = reader->FindChild(prerequisites, L"supported_devices")) {
            PCIPARTNAMES partNames = {};
            const wchar_t* andName = nullptr; // the document's copy of the name, once seen
            for (CZolXMLNode* node = reader->FindChild(devices, L"supported_devices_and"); node;
                 node = node->GetNextSibling()) {
                // A package may list tens of thousands of devices.
                node->PrefetchNextSubtree();
                if (node->GetName() != andName) {
                    if (wcscmp(node->GetName(), L"supported_devices_and") != 0)
                        continue;
                    andName = node->GetName();
                }
                CZolXMLNode* device = reader->FindChild(node, L"supported_device");
                if (device == nullptr)
                    continue;
                const wchar_t* type = device->GetAttribute(L"type");
                if (type == nullptr)
                    continue;
                if (EqualsNoCase(type, L"pci")) {
                    wchar_t code[kMaxDeviceCode + 1];
                    size_t length = 0;
                    bool tooLong = false;
                    const wchar_t* texts[kPciParts];
                    FindPciCodeParts(device, partNames, texts);
                    for (const wchar_t* text : texts) {
                        if (text == nullptr || tooLong)
                            continue;
                        const size_t n = wcslen(text);
                        if (n > kMaxDeviceCode - length) {
                            tooLong = true;
                            continue;
                        }
                        wmemcpy(code + length, text, n);
                        length += n;
                    }
                    if (tooLong)
                        continue;
                    code[length] = L'\0';
                    wchar_t id[kHardwareIdCapacity];
                    BuildHardwareId(code, id);
                    AddSupportedHardwareId(id);
                    continue;
                }
                const bool eisa = EqualsNoCase(type, L"eisa");
                const bool scsi = EqualsNoCase(type, L"scsi");
                const bool pnp = EqualsNoCase(type, L"pnp");
                if (!eisa && !scsi && !pnp)
                    continue;
                CZolXMLNode* data = reader->FindChild(device, L"supported_device_data");
                if (data == nullptr)
                    continue;
                const wchar_t* name = data->GetAttribute(L"name");
                const wchar_t* text = ElementText(data);
                if (name == nullptr || !EqualsNoCase(name, L"id") || text == nullptr)
                    continue;
                if (wcslen(text) > kMaxDeviceCode)
                    continue;
                if (eisa)
                    AddSupportedHardwareId(MakeHardwareId(text).GetString());
                else if (scsi)
                    m_vScsiIds.push_back(CStr(text));
                else
                    AddSupportedHardwareId(text);
            }
        }
    }

    // Supported operating systems.
    if (CZolXMLNode* prerequisites = reader->FindChild(package, L"prerequisites")) {
        if (CZolXMLNode* systems = reader->FindChild(prerequisites, L"supported_operating_systems")) {
            for (CZolXMLNode* node = reader->FindChild(systems, L"supported_operating_system"); node;
                 node = node->GetNextSibling()) {
                if (wcscmp(node->GetName(), L"supported_operating_system") != 0)
                    continue;
                SUPPORTEDOS os = {};
                os.nMajor = -1;
                os.nMinor = -1;
                os.nServicePack = -1;
                os.wEdition = 0xFFFF;
                if (const wchar_t* platform = node->GetAttribute(L"platform"))
                    CopyTruncate(os.szPlatform, sizeof(os.szPlatform) / sizeof(os.szPlatform[0]), platform);
                if (const wchar_t* major = node->GetAttribute(L"major"))
                    os.nMajor = ToInt(major);
                if (const wchar_t* minor = node->GetAttribute(L"minor"))
                    os.nMinor = ToInt(minor);
                if (const wchar_t* sr = node->GetAttribute(L"sr"))
                    os.nServicePack = ToInt(sr);
                if (const wchar_t* edition = node->GetAttribute(L"edition"))
                    os.wEdition = GetEditionCode(edition);
                AddSupportedOperatingSystem(os);
            }
        }
    }
    return 0;
}

int CBaseComponent::ReadInstallerXml(const wchar_t* path)
{
    if (path == nullptr || *path == L'\0')
        return 4;

    OSVERSIONINFOW version = {};
    version.dwOSVersionInfoSize = sizeof(version);
    if (!GetVersionExW(&version))
        version.dwMajorVersion = 0;
    const wchar_t* infElement = version.dwMajorVersion == 4   ? L"inf_file_nt4"
                                : version.dwMajorVersion == 5 ? L"inf_file_nt5"
                                                              : L"inf_file";

    CZolXMLReader reader;
    int loaded = reader.Load(path);
    if (loaded != CZolXMLReader::LOAD_OK)
        return loaded;
    if (!reader.IsLoaded())
        return 3;
    CZolXMLNode* install = reader.FindChild(nullptr, L"zol_install");
    if (install == nullptr)
        return 0;

    if (CZolXMLNode* information = reader.FindChild(install, L"inf_information")) {
        CZolXMLNode* inf = reader.FindChild(information, infElement);
        if (inf == nullptr)
            inf = reader.FindChild(information, L"inf_file");
        if (inf) {
            if (const wchar_t* fileName = inf->GetAttribute(L"filename"))
                m_strInfFile = fileName;
            if (const wchar_t* type = inf->GetAttribute(L"type")) {
                if (EqualsNoCase(type, L"LEGACY"))
                    m_nInfType = INF_TYPE_LEGACY;
                if (EqualsNoCase(type, L"PNP"))
                    m_nInfType = INF_TYPE_PNP;
                if (EqualsNoCase(type, L"VIRTUAL"))
                    m_nInfType = INF_TYPE_VIRTUAL;
            }
            if (const wchar_t* section = inf->GetAttribute(L"section"))
                m_strInfSection = section;
            if (const wchar_t* service = inf->GetAttribute(L"service_name"))
                m_strServiceName = service;
        }
    }

    if (CZolXMLNode* shell = reader.FindChild(install, L"ShellExecute")) {
        if (CZolXMLNode* info = reader.FindChild(shell, L"ShellExecute_Info")) {
            wchar_t expanded[MAX_PATH];
            if (const wchar_t* file = info->GetAttribute(L"file")) {
                if (ExpandPath(file, expanded))
                    wmemcpy(m_szShellExecuteFile, expanded, MAX_PATH);
            }
            if (const wchar_t* directory = info->GetAttribute(L"DefaultDir")) {
                if (ExpandPath(directory, expanded))
                    wmemcpy(m_szShellExecuteDir, expanded, MAX_PATH);
            }
        }
    }
    return 0;
}

int CBaseComponent::GetPackageName(wchar_t* buffer, int capacity, const wchar_t* language)
{
    if (m_pPackageReader == nullptr || buffer == nullptr || capacity <= 0)
        return 0;
    CZolXMLReader* reader = m_pPackageReader;
    CZolXMLNode* package = reader->FindChild(nullptr, L"zol_package");
    CZolXMLNode* names = package ? reader->FindChild(package, L"name") : nullptr;
    CZolXMLNode* entry = names ? FindTranslation(reader, names, L"name_xlate", language) : nullptr;
    const wchar_t* text = ElementText(entry);
    if (text == nullptr)
        return 0;
    return CopyIfFits(buffer, static_cast<size_t>(capacity), text) ? 1 : 0;
}

int CBaseComponent::GetPackageDescription(wchar_t* buffer, int capacity, const wchar_t* language)
{
    if (m_pPackageReader == nullptr || buffer == nullptr || capacity <= 0)
        return 0;
    CZolXMLReader* reader = m_pPackageReader;
    CZolXMLNode* package = reader->FindChild(nullptr, L"zol_package");
    CZolXMLNode* descriptions = package ? reader->FindChild(package, L"description") : nullptr;
    CZolXMLNode* entry =
        descriptions ? FindTranslation(reader, descriptions, L"description_xlate", language) : nullptr;
    // The description must be a CDATA section; plain text is not taken.
    CZolXMLNode* cdata = entry ? entry->FindChildByName(L"#CDATA") : nullptr;
    const wchar_t* text = cdata ? cdata->GetText() : nullptr;
    if (text == nullptr)
        return 0;
    return CopyIfFits(buffer, static_cast<size_t>(capacity), text) ? 1 : 0;
}

int CBaseComponent::GetPackageVersion(wchar_t* buffer, int capacity)
{
    if (m_pPackageReader == nullptr || buffer == nullptr || capacity <= 0)
        return 0;
    CZolXMLReader* reader = m_pPackageReader;
    CZolXMLNode* package = reader->FindChild(nullptr, L"zol_package");
    CZolXMLNode* version = package ? reader->FindChild(package, L"version") : nullptr;
    const wchar_t* value = version ? version->GetAttribute(L"value") : nullptr;
    if (value == nullptr || *value == L'\0')
        return 0;
    return CopyIfFits(buffer, static_cast<size_t>(capacity), value) ? 1 : 0;
}
