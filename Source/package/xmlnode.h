// CZolXMLNode: one node of the XML document tree (an element, the document
// root, or a text or CDATA node).
#pragma once

#include <stddef.h>
#include <stdint.h>

class CZolXMLArena;

class CZolXMLNode
{
public:
    enum { TYPE_ELEMENT = 0, TYPE_TEXT = 1 };

    // attributes: name, value, name, value, ..., null (may be null).
    CZolXMLNode(const wchar_t* name, const wchar_t** attributes, int type);
    // A node whose memory, strings and texts all come from arena (the
    // reader's documents). Such a node is released with Destroy, never with
    // delete; the arena frees its memory. Throws std::bad_alloc.
    static CZolXMLNode* CreateIn(CZolXMLArena& arena, const wchar_t* name, const wchar_t** attributes, int type);
    // The same for a node without attributes whose name is already one of
    // arena's shared texts (from its Intern): the name is not looked up again.
    static CZolXMLNode* CreateNamedIn(CZolXMLArena& arena, const wchar_t* sharedName, int type);
    // Releases a node made either way, with its subtree and sibling chain.
    static void Destroy(CZolXMLNode* node);
    // Frees the node, its subtree and the rest of its sibling chain. The walk
    // is iterative, so deep documents and long sibling chains cannot exhaust
    // the stack.
    virtual ~CZolXMLNode();

    CZolXMLNode(const CZolXMLNode&) = delete;
    CZolXMLNode& operator=(const CZolXMLNode&) = delete;

    const wchar_t* GetName() const { return m_pszName; }
    int GetType() const { return m_nType; }
    const wchar_t* GetText() const { return m_pszText; }
    CZolXMLNode* GetFirstChild() const { return m_pFirstChild; }
    CZolXMLNode* GetNextSibling() const { return m_pNextSibling; }
    CZolXMLNode* GetParent() const { return m_pParent; }

    // Whether two names are equal, character for character.
    static bool SameName(const wchar_t* a, const wchar_t* b)
    {
        if (a == b)
            return true;
        while (*a == *b) {
            if (*a == L'\0')
                return true;
            ++a;
            ++b;
        }
        return false;
    }

    // In a document the reader built, each element's subtree lies right
    // after the element in memory, in document order, and the children after
    // the first are linked in reverse document order: walking them, the next
    // sibling lies just below this node, its whole subtree in between. Asks
    // the processor to start loading that memory (up to 4 KB), so that a walk
    // over a long list does not wait for each node in turn. Nothing changes
    // for any other layout but the head start.
    void PrefetchNextSubtree() const;

    // Value of the first attribute named exactly name, or null.
    const wchar_t* GetAttribute(const wchar_t* name) const;
    unsigned GetAttributeCount() const;
    // First child (then its next siblings) named exactly name, or null.
    CZolXMLNode* FindChildByName(const wchar_t* name) const;
    // First node after this one in the sibling chain named exactly name.
    CZolXMLNode* FindNextSiblingByName(const wchar_t* name) const;

    // Replaces the text with the first count characters of text.
    void SetText(const wchar_t* text, size_t count);
    // Adds count characters to the end of the text (grows geometrically, so a
    // text delivered in many pieces is not copied over and over).
    void AppendText(const wchar_t* text, size_t count);
    // Both link only nodes from the same memory (the same arena, or both
    // from the heap), so that a document in an arena never holds a node the
    // arena does not free, and can be freed with its arena alone.
    bool AttachFirstChild(CZolXMLNode* child);
    bool InsertAfter(CZolXMLNode* node, bool allowInsert);

private:
    CZolXMLNode(CZolXMLArena& arena, const wchar_t* name, const wchar_t** attributes, int type);
    CZolXMLNode(CZolXMLArena& arena, const wchar_t* sharedName, int type);
    // Text memory for capacity characters (terminator included), kept behind
    // its length and capacity so that elements, which have no text, do not
    // carry them.
    wchar_t* NewText(size_t capacity);
    void FreeText(wchar_t* text);
    void FreeOwnData();

    int m_nType;
    wchar_t* m_pszName;
    wchar_t** m_ppszAttributes;
    wchar_t* m_pszText;
    CZolXMLNode* m_pNextSibling;
    CZolXMLNode* m_pFirstChild;
    CZolXMLNode* m_pParent;
    CZolXMLArena* m_pArena; // the memory of this node and its strings; null: the heap
};
