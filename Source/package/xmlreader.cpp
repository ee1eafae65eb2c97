#include "package/xmlreader.h"

#include <windows.h>

#include <expat.h>
#include <limits.h>
#include <locale.h>
#include <string.h>
#include <wchar.h>
#include <wctype.h>

#include <new>

#include "support/asciicase.h"
#include "support/handles.h"

static_assert(sizeof(XML_Char) == sizeof(wchar_t), "the parser must be built with UTF-16 characters");

namespace {

// The state handed to the parser for one parse.
struct XMLPARSESTATE {
    CZolXMLNode* pCurrent;   // receives new element and CDATA children
    bool bCollecting;        // character data outside CDATA is being taken
    bool bInCData;           // inside a CDATA section
    CZolXMLNode* pTextNode;  // receives continued character data
    bool bFreshElement;      // no character data taken since the last start tag
    // A text node that could not be attached because its element already had
    // a child. It still receives continued character data but is not part of
    // the document; the parse owns it and frees it.
    CZolXMLNode* pDetachedText;
    XML_Parser parser;
    bool bFailed;            // out of memory in a callback: the parse fails
    CZolXMLArena* pArena;    // the document's memory: every node is made in it
};

// Stops the parse after a failure inside a callback; XML_Parse then reports
// an error and the load fails as a parse failure.
void Abort(XMLPARSESTATE* state)
{
    state->bFailed = true;
    XML_StopParser(state->parser, XML_FALSE);
}

// Links a new element or CDATA node under the current node: the first child
// in the document stays first, every later one goes directly after it.
void LinkChild(XMLPARSESTATE* state, CZolXMLNode* node)
{
    CZolXMLNode* first = state->pCurrent->GetFirstChild();
    if (first)
        first->InsertAfter(node, true);
    else
        state->pCurrent->AttachFirstChild(node);
}

void ReplaceDetachedText(XMLPARSESTATE* state, CZolXMLNode* node)
{
    CZolXMLNode::Destroy(state->pDetachedText);
    state->pDetachedText = node;
}

void XMLCALL OnStartElement(void* userData, const XML_Char* name, const XML_Char** attributes)
{
    XMLPARSESTATE* state = static_cast<XMLPARSESTATE*>(userData);
    if (state->bFailed)
        return;
    state->bCollecting = true;
    state->bFreshElement = true;
    CZolXMLNode* node = nullptr;
    try {
        node = CZolXMLNode::CreateIn(*state->pArena, name, attributes, CZolXMLNode::TYPE_ELEMENT);
    } catch (...) {
        Abort(state);
        return;
    }
    LinkChild(state, node);
    state->pCurrent = node;
}

void XMLCALL OnEndElement(void* userData, const XML_Char*)
{
    XMLPARSESTATE* state = static_cast<XMLPARSESTATE*>(userData);
    if (state->bFailed || state->pCurrent->GetParent() == nullptr)
        return;
    state->pCurrent = state->pCurrent->GetParent();
}

void XMLCALL OnStartCData(void* userData)
{
    XMLPARSESTATE* state = static_cast<XMLPARSESTATE*>(userData);
    if (state->bFailed)
        return;
    state->bCollecting = true;
    state->bInCData = true;
    CZolXMLNode* node = nullptr;
    try {
        node = CZolXMLNode::CreateIn(*state->pArena, L"#CDATA", nullptr, CZolXMLNode::TYPE_TEXT);
    } catch (...) {
        Abort(state);
        return;
    }
    LinkChild(state, node);
    state->pCurrent = node;
}

void XMLCALL OnEndCData(void* userData)
{
    XMLPARSESTATE* state = static_cast<XMLPARSESTATE*>(userData);
    if (state->bFailed)
        return;
    state->bInCData = false;
    state->bCollecting = false;
    if (state->pCurrent->GetParent())
        state->pCurrent = state->pCurrent->GetParent();
}

// Character data as the parser delivers it: a line break, each entity or
// character reference, and each piece of a long run arrive as separate
// chunks. The rules below are what package files in the field were written
// against: text whose first chunk starts with white space is not kept at all,
// later chunks that start with white space are dropped, and CDATA is kept
// exactly.
void XMLCALL OnCharacterData(void* userData, const XML_Char* text, int length)
{
    XMLPARSESTATE* state = static_cast<XMLPARSESTATE*>(userData);
    if (state->bFailed || length <= 0)
        return;
    const size_t count = static_cast<size_t>(length);
    try {
        if (state->bInCData) {
            state->pCurrent->AppendText(text, count);
            return;
        }
        if (!state->bCollecting)
            return;
        if (state->bFreshElement) {
            if (iswspace(static_cast<wint_t>(text[0]))) {
                state->bCollecting = false;
                return;
            }
            CZolXMLNode* node = CZolXMLNode::CreateIn(*state->pArena, L"#TEXT", nullptr, CZolXMLNode::TYPE_TEXT);
            try {
                node->SetText(text, count);
            } catch (...) {
                CZolXMLNode::Destroy(node);
                throw;
            }
            if (state->pCurrent->AttachFirstChild(node))
                ReplaceDetachedText(state, nullptr);
            else
                ReplaceDetachedText(state, node);
            state->pTextNode = node;
            state->bFreshElement = false;
            return;
        }
        if (iswspace(static_cast<wint_t>(text[0])))
            return;
        if (state->pTextNode)
            state->pTextNode->AppendText(text, count);
    } catch (...) {
        Abort(state);
    }
}

// Two-byte Shift_JIS sequences are converted with code page 932 itself, so a
// Japanese package file reads the same whatever the system's code page.
int XMLCALL ConvertShiftJis(void*, const char* bytes)
{
    wchar_t out[2] = {};
    int n = MultiByteToWideChar(932, 0, bytes, 2, out, 2);
    if (n <= 0)
        return -1;
    return out[0];
}

int XMLCALL OnUnknownEncoding(void*, const XML_Char* name, XML_Encoding* info)
{
    if (name == nullptr || _wcsicmp(reinterpret_cast<const wchar_t*>(name), L"SHIFT_JIS") != 0)
        return XML_STATUS_ERROR;
    for (int b = 0; b < 256; ++b) {
        int value;
        if (b <= 0x08)
            value = -1;
        else if (b <= 0x0F)
            value = b;
        else if (b <= 0x1F)
            value = -1;
        else if (b <= 0x7F)
            value = b;
        else if (b <= 0x9F)
            value = -2;
        else if (b <= 0xDF)
            value = 0xFF60 + (b - 0xA0);
        else if (b <= 0xFE)
            value = -2;
        else
            value = -1;
        info->map[b] = value;
    }
    info->data = nullptr;
    info->convert = ConvertShiftJis;
    info->release = nullptr;
    return XML_STATUS_OK;
}

} // namespace

CZolXMLReader::CZolXMLReader() : m_pRoot(nullptr), m_bLoaded(0)
{
    Reset();
}

CZolXMLReader::~CZolXMLReader()
{
    Clear();
}

void CZolXMLReader::Reset()
{
    if (m_bLoaded || m_pRoot)
        Clear();
    try {
        m_pRoot = CZolXMLNode::CreateIn(m_arena, L"#DOCROOT", nullptr, CZolXMLNode::TYPE_ELEMENT);
    } catch (...) {
        m_pRoot = nullptr; // every load then fails and every query answers none
    }
    // The user's locale governs the case-insensitive comparisons and the
    // white-space test of the character-data rules.
    _wsetlocale(LC_ALL, L"");
}

void CZolXMLReader::Clear()
{
    // Every node of the document lives in the arena and owns nothing
    // outside it (nodes link only to nodes of their own memory): releasing
    // the arena frees the whole tree without visiting it.
    m_pRoot = nullptr;
    m_arena.Release();
    m_bLoaded = 0;
}

namespace {

// One parse: the parser with the tree-building handlers and their state.
class CTreeParser
{
public:
    CTreeParser(CZolXMLNode* root, CZolXMLArena& arena) : m_parser(XML_ParserCreate(nullptr)), m_state()
    {
        if (m_parser == nullptr)
            return;
        m_state.pCurrent = root;
        m_state.bCollecting = true;
        m_state.bInCData = false;
        m_state.pTextNode = nullptr;
        m_state.bFreshElement = false;
        m_state.pDetachedText = nullptr;
        m_state.parser = m_parser;
        m_state.bFailed = false;
        m_state.pArena = &arena;
        XML_SetUserData(m_parser, &m_state);
        XML_SetElementHandler(m_parser, OnStartElement, OnEndElement);
        XML_SetCharacterDataHandler(m_parser, OnCharacterData);
        XML_SetCdataSectionHandler(m_parser, OnStartCData, OnEndCData);
        XML_SetUnknownEncodingHandler(m_parser, OnUnknownEncoding, nullptr);
    }
    ~CTreeParser()
    {
        if (m_parser)
            XML_ParserFree(m_parser);
        CZolXMLNode::Destroy(m_state.pDetachedText);
    }
    CTreeParser(const CTreeParser&) = delete;
    CTreeParser& operator=(const CTreeParser&) = delete;

    XML_Parser Get() const { return m_parser; }
    bool Succeeded(XML_Status status) const { return status == XML_STATUS_OK && !m_state.bFailed; }

private:
    XML_Parser m_parser;
    XMLPARSESTATE m_state;
};

} // namespace

int CZolXMLReader::Load(const wchar_t* path)
{
    Reset();
    if (path == nullptr)
        return LOAD_CANNOT_OPEN;
    CUniqueFile file(CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!file)
        return LOAD_CANNOT_OPEN;

    // The parser takes the whole document in one call and counts its length
    // in an int: a file whose size cannot be read, or that is larger than
    // that, cannot be read in (and is far beyond any package file).
    LARGE_INTEGER size = {};
    if (!GetFileSizeEx(file.get(), &size) || size.QuadPart < 0 || size.QuadPart > INT_MAX)
        return LOAD_CANNOT_READ;
    const DWORD count = static_cast<DWORD>(size.QuadPart);
    if (count == 0 || m_pRoot == nullptr) {
        // Nothing to read: an empty document, which the parser refuses.
        if (!Parse("", 0))
            return LOAD_CANNOT_PARSE;
        m_bLoaded = 1;
        return LOAD_OK;
    }

    // The file is read straight into the parser's own buffer and parsed
    // there in one call, so the document is not held (and copied) twice.
    CTreeParser parser(m_pRoot, m_arena);
    if (parser.Get() == nullptr)
        return LOAD_CANNOT_PARSE;
    void* buffer = XML_GetBuffer(parser.Get(), static_cast<int>(count));
    if (buffer == nullptr)
        return LOAD_CANNOT_READ;
    DWORD read = 0;
    if (!ReadFile(file.get(), buffer, count, &read, nullptr) || read != count)
        return LOAD_CANNOT_READ;
    file.reset();
    if (!parser.Succeeded(XML_ParseBuffer(parser.Get(), static_cast<int>(count), XML_TRUE)))
        return LOAD_CANNOT_PARSE;
    m_bLoaded = 1;
    return LOAD_OK;
}

int CZolXMLReader::LoadBuffer(const char* bytes, size_t count)
{
    Reset();
    if (bytes == nullptr && count != 0)
        return LOAD_CANNOT_PARSE;
    if (!Parse(bytes ? bytes : "", count))
        return LOAD_CANNOT_PARSE;
    m_bLoaded = 1;
    return LOAD_OK;
}

bool CZolXMLReader::Parse(const char* bytes, size_t count)
{
    if (m_pRoot == nullptr || count > static_cast<size_t>(INT_MAX))
        return false;
    CTreeParser parser(m_pRoot, m_arena);
    if (parser.Get() == nullptr)
        return false;
    return parser.Succeeded(XML_Parse(parser.Get(), bytes, static_cast<int>(count), XML_TRUE));
}

CZolXMLNode* CZolXMLReader::FindChild(CZolXMLNode* parent, const wchar_t* name, const wchar_t* attrName,
                                      const wchar_t* attrValue) const
{
    if (!m_bLoaded || name == nullptr)
        return nullptr;
    if (parent == nullptr)
        parent = m_pRoot;
    if (parent == nullptr)
        return nullptr;
    const bool filter = attrName != nullptr && attrValue != nullptr;
    for (CZolXMLNode* node = parent->GetFirstChild(); node; node = node->GetNextSibling()) {
        if (node->GetName() == nullptr || wcscmp(node->GetName(), name) != 0)
            continue;
        if (!filter)
            return node;
        const wchar_t* value = node->GetAttribute(attrName);
        if (value && EqualsNoCase(value, attrValue))
            return node;
    }
    return nullptr;
}
