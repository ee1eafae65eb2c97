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
    // A text lately interned from the same address: the parser hands its
    // names and values over from buffers it reuses, so a name usually
    // arrives where it (or one of a few others) arrived before.
    struct RECENT {
        const wchar_t* pszSource;
        const wchar_t* pszInterned;
    };
    enum {
        INTERN_SLOTS = 512,
        INTERN_PROBES = 8,
        INTERN_MAX_LENGTH = 32,
        SHARED_SLOTS = 256,
        SHARED_MAX_COUNT = 8,
        RECENT_SETS = 32,
        RECENT_WAYS = 4
    };

    void* AllocateBlock(size_t bytes);
    // The shared copy of text from the table, made when there is room;
    // null for a text too long to share or a table without room.
    const wchar_t* InternNew(const wchar_t* text);
    // The shared copy of a list from the table, or a new copy.
    wchar_t** ShareArrayNew(wchar_t* const* strings, size_t count);

    BLOCK* m_pBlocks;
    char* m_pNext;
    char* m_pEnd;
    size_t m_nNextBlockSize;
    size_t m_nReserved;
    INTERNED* m_pInterned; // INTERN_SLOTS entries, made on first use
    SHARED* m_pShared;     // SHARED_SLOTS entries, made on first use
    RECENT m_recent[RECENT_SETS][RECENT_WAYS]; // the latest of each set first
    wchar_t** m_recentArrays[RECENT_SETS];     // lately shared lists, by their strings
};
