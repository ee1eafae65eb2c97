// The XML document model: a small tree built from Expat's callbacks.
// The child order and the character-data rules are those that package files
// in the field were written against; keep them exactly.
#pragma once

#include <stddef.h>

#include "package/xmlarena.h"
#include "package/xmlnode.h"

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
    // The same, handing the parser at most pieceBytes at a time (a file goes
    // to it in pieces of a fixed size); the tree does not depend on it.
    int LoadBuffer(const char* bytes, size_t count, size_t pieceBytes);

    CZolXMLNode* GetRoot() const { return m_pRoot; }
    bool IsLoaded() const { return m_bLoaded != 0; }

    // First child of parent (the root when null) named name, optionally with
    // attribute attrName equal to attrValue ignoring case.
    CZolXMLNode* FindChild(CZolXMLNode* parent, const wchar_t* name, const wchar_t* attrName = nullptr,
                           const wchar_t* attrValue = nullptr) const;

private:
    CZolXMLNode* m_pRoot;
    unsigned char m_bLoaded;
    CZolXMLArena m_arena; // the memory of the document under m_pRoot
};
