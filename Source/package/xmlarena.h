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
    // A null-terminated copy of the count pointers in strings, shared with
    // every equal array: attribute lists of interned strings repeat as often
    // as the strings do. Arrays are equal when their pointers are.
    wchar_t** ShareArray(wchar_t* const* strings, size_t count);
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
    struct SHARED {
        wchar_t** ppArray;
        size_t nCount;
        uint32_t nHash;
    };
    enum { INTERN_SLOTS = 512, INTERN_PROBES = 8, INTERN_MAX_LENGTH = 32, SHARED_SLOTS = 256, SHARED_MAX_COUNT = 8 };

    void* AllocateBlock(size_t bytes);

    BLOCK* m_pBlocks;
    char* m_pNext;
    char* m_pEnd;
    size_t m_nNextBlockSize;
    size_t m_nReserved;
    INTERNED* m_pInterned; // INTERN_SLOTS entries, made on first use
    SHARED* m_pShared;     // SHARED_SLOTS entries, made on first use
};
