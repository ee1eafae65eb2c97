// The XML document model: a small tree built from Expat's callbacks.
// The child order and the character-data rules are those that package files
// in the field were written against; keep them exactly.
#pragma once

#include <stddef.h>

class CZolXMLNode
{
public:
    enum { TYPE_ELEMENT = 0, TYPE_TEXT = 1 };

    CZolXMLNode(const wchar_t* name, const wchar_t** attributes, int type);
    virtual ~CZolXMLNode();

    CZolXMLNode(const CZolXMLNode&) = delete;
    CZolXMLNode& operator=(const CZolXMLNode&) = delete;

    const wchar_t* GetName() const { return m_pszName; }
    int GetType() const { return m_nType; }
    const wchar_t* GetText() const { return m_pszText; }
    CZolXMLNode* GetFirstChild() const { return m_pFirstChild; }
    CZolXMLNode* GetNextSibling() const { return m_pNextSibling; }
    CZolXMLNode* GetParent() const { return m_pParent; }

    const wchar_t* GetAttribute(const wchar_t* name) const;
    unsigned GetAttributeCount() const;
    CZolXMLNode* FindChildByName(const wchar_t* name) const;
    CZolXMLNode* FindNextSiblingByName(const wchar_t* name) const;

    void SetText(const wchar_t* text, size_t count);
    bool AttachFirstChild(CZolXMLNode* child);
    bool InsertAfter(CZolXMLNode* node, bool allowInsert);

private:
    int m_nType;
    wchar_t* m_pszName;
    wchar_t** m_ppszAttributes;
    wchar_t* m_pszText;
    CZolXMLNode* m_pNextSibling;
    CZolXMLNode* m_pFirstChild;
    CZolXMLNode* m_pParent;
};

class CZolXMLReader
{
public:
    // Load results.
    enum { LOAD_OK = 0, LOAD_CANNOT_OPEN = 3, LOAD_CANNOT_READ = 4, LOAD_CANNOT_PARSE = 5 };

    CZolXMLReader();
    virtual ~CZolXMLReader();

    CZolXMLReader(const CZolXMLReader&) = delete;
    CZolXMLReader& operator=(const CZolXMLReader&) = delete;

    void Reset();
    void Clear();
    int Load(const wchar_t* path);
    int LoadBuffer(const char* bytes, size_t count);

    CZolXMLNode* GetRoot() const { return m_pRoot; }
    bool IsLoaded() const { return m_bLoaded != 0; }

    // First child of parent (the root when null) named name, optionally with
    // attribute attrName equal to attrValue ignoring case.
    CZolXMLNode* FindChild(CZolXMLNode* parent, const wchar_t* name, const wchar_t* attrName = nullptr,
                           const wchar_t* attrValue = nullptr) const;

private:
    bool Parse(const char* bytes, size_t count);

    CZolXMLNode* m_pRoot;
    unsigned char m_bLoaded;
};
