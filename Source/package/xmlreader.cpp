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

#include "package/xmlmemory.h"
#include "support/asciicase.h"
#include "support/handles.h"

static_assert(sizeof(XML_Char) == sizeof(wchar_t), "the parser must be built with UTF-16 characters");

namespace {

// The state handed to the parser for one parse.
struct XMLPARSESTATE {
    CZolXMLNode* pCurrent;   // receives new element and CDATA children
    bool bCollecting;        // character data outside CDATA is being taken
    bool bInCData;           // inside a CDATA section
    CZolXMLNode* pTextNode;  // receives continued character data (null: none, or text outside the document)
    bool bFreshElement;      // no character data taken since the last start tag
    XML_Parser parser;
    bool bFailed;            // out of memory in a callback: the parse fails
    CZolXMLArena* pArena;    // the document's memory: every node is made in it
    const wchar_t* pszTextName; // the arena's copy of "#TEXT", once made

    // The text run since the last markup event: the characters kept so far
    // (all of them inside CDATA), stored when the run ends.
    std::vector<wchar_t> run; // its first nRun characters
    size_t nRun;
    bool bRunMakesNode;      // the run's first chunk was kept while the element was fresh
    bool bChunkKept;         // whether the chunk being continued is kept
    // Where the last character data that came straight from the document's
    // text (not from a reference or a line break) ended, as a byte position
    // in the document; -1 after anything else.
    XML_Index nDataEnd;
    int nUnitBytes;          // 1, or 2 for UTF-16
    bool bBigEndian;         // UTF-16 with the high byte first
};

// Stops the parse after a failure inside a callback; the parse then reports
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

// Adds count characters to the text run. Throws std::bad_alloc.
void AddToRun(XMLPARSESTATE* state, const wchar_t* text, size_t count)
{
    std::vector<wchar_t>& run = state->run;
    if (count > run.size() - state->nRun)
        run.resize(state->nRun + (count > run.size() ? count : run.size()));
    wmemcpy(run.data() + state->nRun, text, count);
    state->nRun += count;
}

// Stores the text run that a markup event ends (see OnCharacterData).
// Throws std::bad_alloc.
void EndTextRun(XMLPARSESTATE* state)
{
    const bool makesNode = state->bRunMakesNode;
    state->bRunMakesNode = false;
    state->nDataEnd = -1;
    if (state->nRun == 0)
        return;
    const wchar_t* text = state->run.data();
    const size_t count = state->nRun;
    if (state->bInCData) {
        state->pCurrent->SetText(text, count);
    } else if (makesNode) {
        // A text that follows a child element of its parent cannot become the
        // first child: it is not part of the document, and neither is what
        // is added to it later.
        state->pTextNode = nullptr;
        if (state->pCurrent->GetFirstChild() == nullptr) {
            if (state->pszTextName == nullptr)
                state->pszTextName = state->pArena->Intern(L"#TEXT");
            CZolXMLNode* node = CZolXMLNode::CreateNamedIn(*state->pArena, state->pszTextName, CZolXMLNode::TYPE_TEXT);
            node->SetText(text, count);
            state->pCurrent->AttachFirstChild(node);
            state->pTextNode = node;
        }
    } else if (state->pTextNode) {
        state->pTextNode->AppendText(text, count);
    }
    state->nRun = 0;
}

// Runs the end of a text run before a markup event; false when that failed
// and the parse is stopped.
bool AtMarkup(XMLPARSESTATE* state)
{
    if (state->bFailed)
        return false;
    if (state->nRun == 0) {
        // Nothing to store: a run that makes a node has characters.
        state->bRunMakesNode = false;
        state->nDataEnd = -1;
        return true;
    }
    try {
        EndTextRun(state);
    } catch (...) {
        Abort(state);
        return false;
    }
    return true;
}

void XMLCALL OnStartElement(void* userData, const XML_Char* name, const XML_Char** attributes)
{
    XMLPARSESTATE* state = static_cast<XMLPARSESTATE*>(userData);
    if (!AtMarkup(state))
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
    if (!AtMarkup(state) || state->pCurrent->GetParent() == nullptr)
        return;
    state->pCurrent = state->pCurrent->GetParent();
}

void XMLCALL OnStartCData(void* userData)
{
    XMLPARSESTATE* state = static_cast<XMLPARSESTATE*>(userData);
    if (!AtMarkup(state))
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
    if (!AtMarkup(state))
        return;
    state->bInCData = false;
    state->bCollecting = false;
    if (state->pCurrent->GetParent())
        state->pCurrent = state->pCurrent->GetParent();
}

// Whether the character data being reported comes straight from the
// document's text, judged by the document's own first character of it: a
// reference starts with '&' and a line break with CR or LF, and the parser
// reports each of those as its own piece.
bool IsPlainText(const XMLPARSESTATE* state)
{
    int offset = 0, size = 0;
    const char* context = XML_GetInputContext(state->parser, &offset, &size);
    if (context == nullptr || offset < 0 || offset + state->nUnitBytes > size)
        return false;
    const unsigned char* at = reinterpret_cast<const unsigned char*>(context + offset);
    unsigned unit = at[0];
    if (state->nUnitBytes == 2)
        unit = state->bBigEndian ? (at[0] << 8 | at[1]) : (at[1] << 8 | at[0]);
    return unit != '&' && unit != '\r' && unit != '\n';
}

// Whether c is white space for the character-data rules: the C runtime's
// test under the process locale. Printable ASCII characters are white in no
// locale, and the ASCII blanks in every one: only other characters are asked.
bool IsWhite(wchar_t c)
{
    if (c > 0x20 && c < 0x7F)
        return false;
    if (c == 0x20 || (c >= 0x09 && c <= 0x0D))
        return true;
    return iswspace(static_cast<wint_t>(c)) != 0;
}

// Character data. The parser reports a line break, each entity or character
// reference and each run of other text as separate chunks. The rules below
// are what package files in the field were written against: text whose first
// chunk starts with white space is not kept at all, later chunks that start
// with white space are dropped, and CDATA is kept exactly. The parser may
// also cut a chunk into pieces (where its input ran out, or where its
// conversion buffer filled): such a piece continues its chunk and shares its
// fate, so the tree does not depend on how the document was fed. The kept
// characters of a run are stored at the next markup event.
void XMLCALL OnCharacterData(void* userData, const XML_Char* text, int length)
{
    XMLPARSESTATE* state = static_cast<XMLPARSESTATE*>(userData);
    if (state->bFailed || length <= 0)
        return;
    const size_t count = static_cast<size_t>(length);
    try {
        if (state->bInCData) {
            AddToRun(state, text, count);
            return;
        }
        if (!state->bCollecting)
            return;
        const XML_Index start = XML_GetCurrentByteIndex(state->parser);
        const bool continues = start == state->nDataEnd && start >= 0;
        state->nDataEnd = IsPlainText(state) ? start + XML_GetCurrentByteCount(state->parser) : -1;
        if (continues && state->nDataEnd >= 0) {
            if (state->bChunkKept)
                AddToRun(state, text, count);
            return;
        }
        const bool white = IsWhite(text[0]);
        if (state->bFreshElement) {
            if (white) {
                state->bCollecting = false;
                return;
            }
            state->bFreshElement = false;
            state->bRunMakesNode = true;
            state->bChunkKept = true;
        } else {
            state->bChunkKept = !white && (state->bRunMakesNode || state->pTextNode != nullptr);
        }
        if (state->bChunkKept)
            AddToRun(state, text, count);
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

// The parser's own memory. Its input buffer is as large as the document
// (rounded up to a power of two), so for a large document it is as much fresh
// memory as the tree: it comes from the kept blocks like the tree's, and the
// next document of that size reuses it instead of touching new pages. Each
// allocation carries its usable size in front of it.
const size_t kParserHeaderBytes = 16; // keeps allocations 16-aligned

void* ParserMalloc(size_t bytes)
{
    if (bytes > static_cast<size_t>(-1) - kParserHeaderBytes)
        return nullptr;
    size_t usable = 0;
    char* block = static_cast<char*>(xmlmemory::TakeBlock(kParserHeaderBytes + bytes, &usable));
    if (block == nullptr)
        return nullptr;
    *reinterpret_cast<size_t*>(block) = usable;
    return block + kParserHeaderBytes;
}

void ParserFree(void* memory)
{
    if (memory == nullptr)
        return;
    char* block = static_cast<char*>(memory) - kParserHeaderBytes;
    xmlmemory::ReturnBlock(block, *reinterpret_cast<size_t*>(block));
}

void* ParserRealloc(void* memory, size_t bytes)
{
    if (memory == nullptr)
        return ParserMalloc(bytes);
    const size_t held = *reinterpret_cast<size_t*>(static_cast<char*>(memory) - kParserHeaderBytes) -
                        kParserHeaderBytes;
    if (bytes <= held)
        return memory;
    void* grown = ParserMalloc(bytes);
    if (grown == nullptr)
        return nullptr; // the old block stays the caller's, as realloc leaves it
    memcpy(grown, memory, held);
    ParserFree(memory);
    return grown;
}

const XML_Memory_Handling_Suite kParserMemory = {ParserMalloc, ParserRealloc, ParserFree};

// A document goes to the parser whole, read straight into the parser's own
// buffer and parsed in one final call: the parser then keeps no line and
// column count over the document (it does over every piece that is not the
// last), and the bytes are copied once.
size_t WholeDocument(size_t count)
{
    return count != 0 ? count : 1;
}

// One parse: the parser with the tree-building handlers and their state.
class CTreeParser
{
public:
    CTreeParser(CZolXMLNode* root, CZolXMLArena& arena) : m_parser(XML_ParserCreate_MM(nullptr, &kParserMemory, nullptr)), m_state()
    {
        if (m_parser == nullptr)
            return;
        m_state.pCurrent = root;
        m_state.bCollecting = true;
        m_state.bInCData = false;
        m_state.pTextNode = nullptr;
        m_state.bFreshElement = false;
        m_state.parser = m_parser;
        m_state.bFailed = false;
        m_state.pArena = &arena;
        m_state.pszTextName = nullptr;
        m_state.bRunMakesNode = false;
        m_state.bChunkKept = false;
        m_state.nRun = 0;
        m_state.nDataEnd = -1;
        m_state.nUnitBytes = 1;
        m_state.bBigEndian = false;
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
    }
    CTreeParser(const CTreeParser&) = delete;
    CTreeParser& operator=(const CTreeParser&) = delete;

    XML_Parser Get() const { return m_parser; }

    // Feeds count bytes of a document through the parser's buffer, at most
    // pieceBytes at a time; read(destination, bytes) supplies the next bytes
    // of the document and returns false when it cannot. A LOAD_ result.
    template <class Read> int Feed(size_t count, size_t pieceBytes, Read read)
    {
        if (count > static_cast<size_t>(INT_MAX) || pieceBytes == 0)
            return CZolXMLReader::LOAD_CANNOT_PARSE;
        size_t left = count;
        unsigned char head[2];
        size_t headBytes = 0;
        do {
            const size_t piece = left < pieceBytes ? left : pieceBytes;
            void* buffer = XML_GetBuffer(m_parser, static_cast<int>(piece));
            if (buffer == nullptr && piece != 0)
                return CZolXMLReader::LOAD_CANNOT_READ;
            if (piece != 0 && !read(static_cast<char*>(buffer), piece))
                return CZolXMLReader::LOAD_CANNOT_READ;
            for (size_t i = 0; i < piece && headBytes < sizeof(head); ++i) {
                head[headBytes++] = static_cast<const unsigned char*>(buffer)[i];
                if (headBytes == sizeof(head))
                    NoteEncoding(head);
            }
            left -= piece;
            if (XML_ParseBuffer(m_parser, static_cast<int>(piece), left == 0) != XML_STATUS_OK || m_state.bFailed)
                return CZolXMLReader::LOAD_CANNOT_PARSE;
        } while (left != 0);
        return AtMarkup(&m_state) ? CZolXMLReader::LOAD_OK : CZolXMLReader::LOAD_CANNOT_PARSE;
    }

private:
    // The width and byte order of the document's characters, as the parser
    // finds them: UTF-16 by its byte-order mark or a '<' whose other byte is
    // zero at the start; any other document has one-byte units for '&', CR
    // and LF (a declaration of UTF-16 in such a document fails the parse).
    void NoteEncoding(const unsigned char b[2])
    {
        if ((b[0] == 0xFF && b[1] == 0xFE) || (b[0] == '<' && b[1] == 0)) {
            m_state.nUnitBytes = 2;
        } else if ((b[0] == 0xFE && b[1] == 0xFF) || (b[0] == 0 && b[1] == '<')) {
            m_state.nUnitBytes = 2;
            m_state.bBigEndian = true;
        }
    }

    XML_Parser m_parser;
    XMLPARSESTATE m_state;
};

// Writes each page of memory that a file is about to be read into. Memory
// never touched before costs two page faults per page when the read is what
// touches it under Wine (its check of the buffer reads the page, then writes
// it), and one when it is written first.
void TouchPages(char* memory, size_t bytes)
{
    const size_t kPageBytes = 4096;
    for (size_t at = 0; at < bytes; at += kPageBytes)
        memory[at] = 0;
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

    // The parser counts byte positions in a 32-bit signed number: a file
    // whose size cannot be read, or that is larger than that, cannot be read
    // in (and is far beyond any package file).
    LARGE_INTEGER size = {};
    if (!GetFileSizeEx(file.get(), &size) || size.QuadPart < 0 || size.QuadPart > INT_MAX)
        return LOAD_CANNOT_READ;
    if (m_pRoot == nullptr)
        return LOAD_CANNOT_PARSE;
    CTreeParser parser(m_pRoot, m_arena);
    if (parser.Get() == nullptr)
        return LOAD_CANNOT_PARSE;
    HANDLE handle = file.get();
    const size_t count = static_cast<size_t>(size.QuadPart);
    const int result = parser.Feed(count, WholeDocument(count), [handle](char* destination, size_t bytes) {
        DWORD read = 0;
        TouchPages(destination, bytes);
        return ReadFile(handle, destination, static_cast<DWORD>(bytes), &read, nullptr) && read == bytes;
    });
    if (result == LOAD_OK)
        m_bLoaded = 1;
    return result;
}

int CZolXMLReader::LoadBuffer(const char* bytes, size_t count)
{
    return LoadBuffer(bytes, count, WholeDocument(count));
}

int CZolXMLReader::LoadBuffer(const char* bytes, size_t count, size_t pieceBytes)
{
    Reset();
    if ((bytes == nullptr && count != 0) || m_pRoot == nullptr)
        return LOAD_CANNOT_PARSE;
    CTreeParser parser(m_pRoot, m_arena);
    if (parser.Get() == nullptr)
        return LOAD_CANNOT_PARSE;
    const char* next = bytes;
    if (parser.Feed(count, pieceBytes, [&next](char* destination, size_t n) {
            memcpy(destination, next, n);
            next += n;
            return true;
        }) != LOAD_OK)
        return LOAD_CANNOT_PARSE;
    m_bLoaded = 1;
    return LOAD_OK;
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
    // Siblings of one name share one copy of it: each distinct copy is
    // compared once.
    const wchar_t* same = nullptr;
    const wchar_t* other = nullptr;
    for (CZolXMLNode* node = parent->GetFirstChild(); node; node = node->GetNextSibling()) {
        const wchar_t* nodeName = node->GetName();
        if (nodeName == nullptr || nodeName == other)
            continue;
        if (nodeName != same) {
            if (!CZolXMLNode::SameName(nodeName, name)) {
                other = nodeName;
                continue;
            }
            same = nodeName;
        }
        if (!filter)
            return node;
        const wchar_t* value = node->GetAttribute(attrName);
        if (value && EqualsNoCase(value, attrValue))
            return node;
    }
    return nullptr;
}
