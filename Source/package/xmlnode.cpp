#include "package/xmlnode.h"

#include <wchar.h>

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
      m_pFirstChild(nullptr), m_pParent(nullptr), m_nTextLength(0), m_nTextCapacity(0)
{
    m_pszName = DuplicateString(name);
    size_t count = 0;
    if (attributes)
        while (attributes[count])
            ++count;
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
    delete[] m_pszText;
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
        delete node;
    }
    FreeOwnData();
}

void CZolXMLNode::FreeOwnData()
{
    delete[] m_pszText;
    m_pszText = nullptr;
    FreeAttributes(m_ppszAttributes);
    m_ppszAttributes = nullptr;
    delete[] m_pszName;
    m_pszName = nullptr;
}

const wchar_t* CZolXMLNode::GetAttribute(const wchar_t* name) const
{
    if (name == nullptr || m_ppszAttributes == nullptr)
        return nullptr;
    for (wchar_t** p = m_ppszAttributes; p[0] && p[1]; p += 2) {
        if (wcscmp(p[0], name) == 0)
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
        if (node->m_pszName && wcscmp(node->m_pszName, name) == 0)
            return node;
    }
    return nullptr;
}

CZolXMLNode* CZolXMLNode::FindNextSiblingByName(const wchar_t* name) const
{
    if (name == nullptr)
        return nullptr;
    for (CZolXMLNode* node = m_pNextSibling; node; node = node->m_pNextSibling) {
        if (node->m_pszName && wcscmp(node->m_pszName, name) == 0)
            return node;
    }
    return nullptr;
}

void CZolXMLNode::SetText(const wchar_t* text, size_t count)
{
    wchar_t* copy = DuplicateString(text ? text : L"", text ? count : 0);
    delete[] m_pszText;
    m_pszText = copy;
    m_nTextLength = text ? count : 0;
    m_nTextCapacity = m_nTextLength + 1;
}

void CZolXMLNode::AppendText(const wchar_t* text, size_t count)
{
    if (text == nullptr)
        return;
    if (m_pszText == nullptr) {
        SetText(text, count);
        return;
    }
    size_t needed = m_nTextLength + count + 1;
    if (needed > m_nTextCapacity) {
        size_t capacity = m_nTextCapacity * 2;
        if (capacity < needed)
            capacity = needed;
        wchar_t* grown = new wchar_t[capacity];
        wmemcpy(grown, m_pszText, m_nTextLength);
        delete[] m_pszText;
        m_pszText = grown;
        m_nTextCapacity = capacity;
    }
    if (count)
        wmemcpy(m_pszText + m_nTextLength, text, count);
    m_nTextLength += count;
    m_pszText[m_nTextLength] = L'\0';
}

bool CZolXMLNode::AttachFirstChild(CZolXMLNode* child)
{
    if (child == nullptr || m_pFirstChild != nullptr)
        return false;
    m_pFirstChild = child;
    child->m_pParent = this;
    return true;
}

bool CZolXMLNode::InsertAfter(CZolXMLNode* node, bool allowInsert)
{
    if (node == nullptr)
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
