// Hardware-model dependency check (pending): without a dependency file every
// model is supported.
#include "basecomp.h"

int CBaseComponent::CheckDependencies(wchar_t* message, int capacity, const wchar_t* language)
{
    m_bDependencyChecked = 1;
    m_bModelSupported = 1;
    return 1;
}
int CBaseComponent::LoadDependencyFile(CZolXMLReader* reader) { return 5; }
int CBaseComponent::FindSupportedModel(CZolXMLReader* reader, CWmiQuery* query) { return 0; }
