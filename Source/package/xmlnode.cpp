#include "package/xmlnode.h"

#include "package/xmlarena.h"

#include <wchar.h>
#include <xmmintrin.h>

#include <new>

namespace {

wchar_t* DuplicateString(const wchar_t* text, size_t count)
{
    wchar_t* copy = new wchar_t[count + 1];
    if (count)
        wmemcpy(copy, text, count);
    copy[count] = L'\0';
    return copy;
}

wchar_t* DuplicateString(const wchar_t* text)
{
    return DuplicateString(text ? text : L"", text ? wcslen(text) : 0);
}

// Entries before the null that ends a parser's string array (0 for none).
size_t CountStrings(const wchar_t** strings)
{
    size_t count = 0;
    if (strings)
        while (strings[count])
            ++count;
    return count;
}

// What a text keeps in front of its characters. 32 bits each: a text is never
// longer than the document it comes from, whose length the parser counts in
// an int.
struct TEXTHEADER {
    uint32_t nLength;
    uint32_t nCapacity; // characters, terminator included
};

TEXTHEADER* HeaderOf(wchar_t* text)
{
    return reinterpret_cast<TEXTHEADER*>(text) - 1;
}

void FreeAttributes(wchar_t** attributes)
{
    if (attributes == nullptr)
        return;
    for (wchar_t** p = attributes; *p; ++p)
        delete[] *p;
    delete[] attributes;
}

} // namespace

CZolXMLNode::CZolXMLNode(const wchar_t* name, const wchar_t** attributes, int type)
    : m_nType(type), m_pszName(nullptr), m_ppszAttributes(nullptr), m_pszText(nullptr), m_pNextSibling(nullptr),
      m_pFirstChild(nullptr), m_pParent(nullptr), m_pArena(nullptr)
{
    m_pszName = DuplicateString(name);
    const size_t count = CountStrings(attributes);
    if (count == 0)
        return;
    try {
        // Zero-filled, so that a failed copy half way leaves a null-terminated
        // array that FreeAttributes can release.
        m_ppszAttributes = new wchar_t*[count + 1]();
        for (size_t i = 0; i < count; ++i)
            m_ppszAttributes[i] = DuplicateString(attributes[i]);
    } catch (...) {
        FreeAttributes(m_ppszAttributes);
        delete[] m_pszName;
        throw;
    }
}

CZolXMLNode::CZolXMLNode(CZolXMLArena& arena, const wchar_t* name, const wchar_t** attributes, int type)
    : m_nType(type), m_pszName(nullptr), m_ppszAttributes(nullptr), m_pszText(nullptr), m_pNextSibling(nullptr),
      m_pFirstChild(nullptr), m_pParent(nullptr), m_pArena(&arena)
{
    // Names and short attribute values repeat throughout a document: one
    // copy of each serves every node (nothing ever writes to them).
    m_pszName = const_cast<wchar_t*>(arena.Intern(name));
    const size_t count = CountStrings(attributes);
    if (count == 0)
        return;
    wchar_t* local[8];
    if (count <= sizeof(local) / sizeof(local[0])) {
        // The usual element: a few attributes, whose list is shared too.
        for (size_t i = 0; i < count; ++i)
            local[i] = const_cast<wchar_t*>(arena.Intern(attributes[i]));
        m_ppszAttributes = arena.ShareArray(local, count);
        return;
    }
    wchar_t** copy = static_cast<wchar_t**>(arena.Allocate((count + 1) * sizeof(wchar_t*), alignof(wchar_t*)));
    for (size_t i = 0; i < count; ++i)
        copy[i] = const_cast<wchar_t*>(arena.Intern(attributes[i]));
    copy[count] = nullptr;
    m_ppszAttributes = copy;
}

CZolXMLNode* CZolXMLNode::CreateIn(CZolXMLArena& arena, const wchar_t* name, const wchar_t** attributes, int type)
{
    void* memory = arena.Allocate(sizeof(CZolXMLNode), alignof(CZolXMLNode));
    return new (memory) CZolXMLNode(arena, name, attributes, type);
}

CZolXMLNode::CZolXMLNode(CZolXMLArena& arena, const wchar_t* sharedName, int type)
    : m_nType(type), m_pszName(const_cast<wchar_t*>(sharedName)), m_ppszAttributes(nullptr), m_pszText(nullptr),
      m_pNextSibling(nullptr), m_pFirstChild(nullptr), m_pParent(nullptr), m_pArena(&arena)
{
}

CZolXMLNode* CZolXMLNode::CreateNamedIn(CZolXMLArena& arena, const wchar_t* sharedName, int type)
{
    void* memory = arena.Allocate(sizeof(CZolXMLNode), alignof(CZolXMLNode));
    return new (memory) CZolXMLNode(arena, sharedName, type);
}

void CZolXMLNode::Destroy(CZolXMLNode* node)
{
    if (node == nullptr)
        return;
    if (node->m_pArena)
        node->~CZolXMLNode(); // the arena keeps the memory until it is released
    else
        delete node;
}

CZolXMLNode::~CZolXMLNode()
{
    // The nodes still to be freed form a stack linked through their parent
    // pointers, which nothing needs any more; every node is detached from its
    // child and sibling before it is deleted, so no destructor goes deeper
    // than one level.
    CZolXMLNode* pending = nullptr;
    auto push = [&pending](CZolXMLNode* node) {
        if (node) {
            node->m_pParent = pending;
            pending = node;
        }
    };
    // Ownership order: text, first child (subtree), next sibling (chain),
    // attributes, name. The order of freeing is not observable otherwise.
    FreeText(m_pszText);
    m_pszText = nullptr;
    push(m_pNextSibling);
    push(m_pFirstChild);
    m_pFirstChild = nullptr;
    m_pNextSibling = nullptr;
    while (pending) {
        CZolXMLNode* node = pending;
        pending = node->m_pParent;
        push(node->m_pNextSibling);
        push(node->m_pFirstChild);
        node->m_pFirstChild = nullptr;
        node->m_pNextSibling = nullptr;
        Destroy(node);
    }
    FreeOwnData();
}

wchar_t* CZolXMLNode::NewText(size_t capacity)
{
    if (capacity > UINT32_MAX || capacity > (static_cast<size_t>(-1) - sizeof(TEXTHEADER)) / sizeof(wchar_t))
        throw std::bad_alloc();
    const size_t bytes = sizeof(TEXTHEADER) + capacity * sizeof(wchar_t);
    void* memory = m_pArena ? m_pArena->Allocate(bytes, alignof(TEXTHEADER)) : ::operator new(bytes);
    TEXTHEADER* header = static_cast<TEXTHEADER*>(memory);
    header->nLength = 0;
    header->nCapacity = static_cast<uint32_t>(capacity);
    return reinterpret_cast<wchar_t*>(header + 1);
}

void CZolXMLNode::FreeText(wchar_t* text)
{
    if (text != nullptr && m_pArena == nullptr)
        ::operator delete(HeaderOf(text));
}

void CZolXMLNode::FreeOwnData()
{
    FreeText(m_pszText);
    m_pszText = nullptr;
    if (m_pArena == nullptr) {
        FreeAttributes(m_ppszAttributes);
        delete[] m_pszName;
    }
    m_ppszAttributes = nullptr;
    m_pszName = nullptr;
}

void CZolXMLNode::PrefetchNextSubtree() const
{
    const size_t kLineBytes = 64;
    const size_t kMostBytes = 4096;
    const uintptr_t from = reinterpret_cast<uintptr_t>(m_pNextSibling);
    const uintptr_t to = reinterpret_cast<uintptr_t>(this);
    if (m_pNextSibling == nullptr || from >= to || to - from > kMostBytes)
        return;
    for (uintptr_t at = from; at < to; at += kLineBytes)
        _mm_prefetch(reinterpret_cast<const char*>(at), _MM_HINT_T0);
}

const wchar_t* CZolXMLNode::GetAttribute(const wchar_t* name) const
{
    if (name == nullptr || m_ppszAttributes == nullptr)
        return nullptr;
    for (wchar_t** p = m_ppszAttributes; p[0] && p[1]; p += 2) {
        if (SameName(p[0], name))
            return p[1];
    }
    return nullptr;
}

unsigned CZolXMLNode::GetAttributeCount() const
{
    if (m_ppszAttributes == nullptr)
        return 0;
    unsigned count = 0;
    while (m_ppszAttributes[count])
        ++count;
    return count / 2;
}

CZolXMLNode* CZolXMLNode::FindChildByName(const wchar_t* name) const
{
    if (name == nullptr)
        return nullptr;
    for (CZolXMLNode* node = m_pFirstChild; node; node = node->m_pNextSibling) {
        if (node->m_pszName && SameName(node->m_pszName, name))
            return node;
    }
    return nullptr;
}

CZolXMLNode* CZolXMLNode::FindNextSiblingByName(const wchar_t* name) const
{
    if (name == nullptr)
        return nullptr;
    for (CZolXMLNode* node = m_pNextSibling; node; node = node->m_pNextSibling) {
        if (node->m_pszName && SameName(node->m_pszName, name))
            return node;
    }
    return nullptr;
}

void CZolXMLNode::SetText(const wchar_t* text, size_t count)
{
    if (text == nullptr)
        count = 0;
    if (count >= UINT32_MAX)
        throw std::bad_alloc();
    wchar_t* copy = NewText(count + 1);
    if (count)
        wmemcpy(copy, text, count);
    copy[count] = L'\0';
    HeaderOf(copy)->nLength = static_cast<uint32_t>(count);
    FreeText(m_pszText);
    m_pszText = copy;
}

void CZolXMLNode::AppendText(const wchar_t* text, size_t count)
{
    if (text == nullptr)
        return;
    if (m_pszText == nullptr) {
        SetText(text, count);
        return;
    }
    const TEXTHEADER current = *HeaderOf(m_pszText);
    if (count >= UINT32_MAX - current.nLength)
        throw std::bad_alloc();
    const size_t needed = static_cast<size_t>(current.nLength) + count + 1;
    if (needed > current.nCapacity) {
        size_t capacity = static_cast<size_t>(current.nCapacity) * 2;
        if (capacity < needed)
            capacity = needed;
        if (capacity > UINT32_MAX)
            capacity = UINT32_MAX;
        wchar_t* grown = NewText(capacity);
        wmemcpy(grown, m_pszText, current.nLength);
        FreeText(m_pszText);
        m_pszText = grown;
    }
    if (count)
        wmemcpy(m_pszText + current.nLength, text, count);
    const uint32_t length = current.nLength + static_cast<uint32_t>(count);
    m_pszText[length] = L'\0';
    HeaderOf(m_pszText)->nLength = length;
}

bool CZolXMLNode::AttachFirstChild(CZolXMLNode* child)
{
    if (child == nullptr || m_pFirstChild != nullptr || child->m_pArena != m_pArena)
        return false;
    m_pFirstChild = child;
    child->m_pParent = this;
    return true;
}

bool CZolXMLNode::InsertAfter(CZolXMLNode* node, bool allowInsert)
{
    if (node == nullptr || node->m_pArena != m_pArena)
        return false;
    if (m_pNextSibling == nullptr) {
        m_pNextSibling = node;
    } else if (allowInsert) {
        node->m_pNextSibling = m_pNextSibling;
        m_pNextSibling = node;
    } else {
        return false;
    }
    node->m_pParent = m_pParent;
    return true;
}
