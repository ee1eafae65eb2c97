// Hardware-model dependency check: the package may name the computer models
// it supports in "dependency.xml"; without a readable file every model is
// supported.
#include "basecomp.h"
#include "package/wmiquery.h"
#include "package/xmlreader.h"
#include "support/wformat.h"

namespace {

const wchar_t kModelNotSupported[] = L"System model not supported.";

} // namespace

int CBaseComponent::CheckDependencies(wchar_t* message, int capacity, const wchar_t* language)
{
    // COM is set up before the file is read, and torn down last.
    CWmiQuery query;
    int supported = 1;
    {
        CZolXMLReader reader;
        if (LoadDependencyFile(&reader) != 5)
            supported = FindSupportedModel(&reader, &query);
    }
    m_bDependencyChecked = 1;
    if (supported) {
        m_bModelSupported = 1;
        return 1;
    }
    // A buffer too small for the message gets as much as fits, terminated.
    if (message != nullptr && capacity > 0)
        CopyTruncate(message, static_cast<size_t>(capacity), kModelNotSupported);
    m_bModelSupported = 0;
    return 0;
}

int CBaseComponent::LoadDependencyFile(CZolXMLReader* reader)
{
    if (reader == nullptr)
        return 5;
    if (reader->Load(L"dependency.xml") == 0 && reader->IsLoaded())
        return 0;
    return 5;
}

int CBaseComponent::FindSupportedModel(CZolXMLReader* reader, CWmiQuery* query)
{
    if (reader == nullptr || query == nullptr)
        return 0;
    CZolXMLNode* dependencies = reader->FindChild(nullptr, L"componentdependencies");
    if (dependencies == nullptr)
        return 0;
    CZolXMLNode* hardware = reader->FindChild(dependencies, L"dependent_hardware");
    if (hardware == nullptr)
        return 0;
    CZolXMLNode* platforms = reader->FindChild(hardware, L"platforms");
    if (platforms == nullptr)
        return 0;
    // Every node from the first "platform" along the sibling chain is a
    // candidate, whatever its name; one without a "model" never matches.
    for (CZolXMLNode* node = reader->FindChild(platforms, L"platform"); node != nullptr;
         node = node->GetNextSibling()) {
        const wchar_t* model = node->GetAttribute(L"model");
        if (model != nullptr && query->IsComputerModel(model))
            return 1;
    }
    return 0;
}
