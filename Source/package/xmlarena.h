// CZolXMLArena: the memory of one parsed document. Its nodes, names,
// attributes and texts are carved out of a few large blocks, so that reading a
// document costs a handful of heap allocations instead of several per node,
// and releasing it frees those blocks only.
#pragma once

#include <stddef.h>
#include <stdint.h>

class CZolXMLArena
{
public:
    CZolXMLArena();
    ~CZolXMLArena();

    CZolXMLArena(const CZolXMLArena&) = delete;
    CZolXMLArena& operator=(const CZolXMLArena&) = delete;

    // bytes of memory aligned to align (a power of two, at most 16). Throws
    // std::bad_alloc when the memory cannot be had.
    void* Allocate(size_t bytes, size_t align);
    // A terminated copy of the first count characters of text.
    wchar_t* CopyString(const wchar_t* text, size_t count);
    // A terminated copy of text that may be shared with other users of the
    // same text (element and attribute names repeat throughout a document).
    const wchar_t* Intern(const wchar_t* text);
    // Frees every block; everything handed out before is gone.
    void Release();

    // Bytes held in blocks, for the measurements.
    size_t GetReservedBytes() const { return m_nReserved; }

private:
    struct BLOCK {
        BLOCK* pNext;
        size_t nSize; // usable bytes after the header
    };
    struct INTERNED {
        const wchar_t* pszText;
        size_t nLength;
        uint32_t nHash;
    };
    enum { INTERN_SLOTS = 512, INTERN_PROBES = 8, INTERN_MAX_LENGTH = 32 };

    void* AllocateBlock(size_t bytes);

    BLOCK* m_pBlocks;
    char* m_pNext;
    char* m_pEnd;
    size_t m_nNextBlockSize;
    size_t m_nReserved;
    INTERNED* m_pInterned; // INTERN_SLOTS entries, made on first use
};
