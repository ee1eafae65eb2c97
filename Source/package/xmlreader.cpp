#include "package/xmlreader.h"

#include <windows.h>

#include <expat.h>
#include <limits.h>
#include <locale.h>
#include <string.h>
#include <wchar.h>
#include <wctype.h>

#include <new>
#include <vector>

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

// A large file is handed to the parser in pieces of about this size, so that
// the parser's buffer stays small instead of holding the whole document.
const size_t kPieceBytes = 256 * 1024;

// Whether '>' and '<' bytes are always those characters: true for UTF-8,
// Latin-1, ASCII and Shift_JIS (whose second bytes are never below 0x40);
// false for UTF-16, recognised by its byte-order mark or a zero byte among
// the first four.
bool IsAsciiCompatible(const char* bytes, size_t count)
{
    const unsigned char* b = reinterpret_cast<const unsigned char*>(bytes);
    if (count >= 2 && ((b[0] == 0xFF && b[1] == 0xFE) || (b[0] == 0xFE && b[1] == 0xFF)))
        return false;
    for (size_t i = 0; i < count && i < 4; ++i) {
        if (b[i] == 0)
            return false;
    }
    return true;
}

// Where a piece may end: at a '<' that directly follows a '>'. No character
// data runs across that point (in content the two are the end and the start
// of markup; elsewhere the parser reports no character data, and CDATA is
// kept whole whatever its pieces), so the parser reports the same callbacks,
// with the same text in each, as for the whole document in one call.
// Only positions from 'from' on are looked at (the bytes before were looked
// at already); 0 when there is no such point.
size_t LastPieceEnd(const char* bytes, size_t from, size_t count)
{
    const size_t lowest = from > 1 ? from : 1;
    for (size_t i = count; i-- > lowest;) {
        if (bytes[i] == '<' && bytes[i - 1] == '>')
            return i;
    }
    return 0;
}

// Reads count bytes from file and parses them; a LOAD_ result.
int ReadAndParse(HANDLE file, size_t count, CTreeParser& parser)
{
    std::vector<char> buffer;
    size_t held = 0, left = count;
    bool pieces = true, first = true;
    for (;;) {
        const size_t need = held + (pieces ? (left < kPieceBytes ? left : kPieceBytes) : left);
        try {
            if (buffer.size() < need)
                buffer.resize(need);
        } catch (...) {
            return CZolXMLReader::LOAD_CANNOT_READ;
        }
        const size_t looked = held;
        const size_t room = buffer.size() - held;
        const DWORD chunk = static_cast<DWORD>(left < room ? left : room);
        DWORD read = 0;
        if (chunk && (!ReadFile(file, buffer.data() + held, chunk, &read, nullptr) || read != chunk))
            return CZolXMLReader::LOAD_CANNOT_READ;
        held += chunk;
        left -= chunk;
        if (first) {
            first = false;
            pieces = IsAsciiCompatible(buffer.data(), held);
        }
        if (left == 0)
            return parser.Succeeded(XML_Parse(parser.Get(), buffer.data(), static_cast<int>(held), XML_TRUE))
                       ? CZolXMLReader::LOAD_OK
                       : CZolXMLReader::LOAD_CANNOT_PARSE;
        if (!pieces)
            continue; // the rest of the file, then the whole in one call
        const size_t end = LastPieceEnd(buffer.data(), looked, held);
        if (end == 0)
            continue; // no place to end a piece yet: read on
        if (!parser.Succeeded(XML_Parse(parser.Get(), buffer.data(), static_cast<int>(end), XML_FALSE)))
            return CZolXMLReader::LOAD_CANNOT_PARSE;
        memmove(buffer.data(), buffer.data() + end, held - end);
        held -= end;
    }
}

} // namespace

int CZolXMLReader::Load(const wchar_t* path)
{
    Reset();
    if (path == nullptr)
        return LOAD_CANNOT_OPEN;
    CUniqueFile file(CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!file)
        return LOAD_CANNOT_OPEN;

    // The parser counts a document's length in an int (a UTF-16 document
    // goes to it in one call): a file whose size cannot be read, or that is
    // larger than that, cannot be read in (and is far beyond any package
    // file).
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

    CTreeParser parser(m_pRoot, m_arena);
    if (parser.Get() == nullptr)
        return LOAD_CANNOT_PARSE;
    const int result = ReadAndParse(file.get(), count, parser);
    if (result == LOAD_OK)
        m_bLoaded = 1;
    return result;
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
