#include "package/xmlarena.h"

#include "package/xmlmemory.h"

#include <stdlib.h>
#include <string.h>
#include <wchar.h>

#include <new>

namespace {

const size_t kFirstBlockBytes = 16 * 1024;
const size_t kLargestBlockBytes = 1024 * 1024;
const size_t kBlockHeaderBytes = 16; // keeps the first allocation 16-aligned

// Whether the first count characters of a and b are equal, compared a word
// at a time.
bool SameChars(const wchar_t* a, const wchar_t* b, size_t count)
{
    const size_t perWord = sizeof(uint64_t) / sizeof(wchar_t);
    size_t i = 0;
    for (; i + perWord <= count; i += perWord) {
        uint64_t x, y;
        memcpy(&x, a + i, sizeof(x));
        memcpy(&y, b + i, sizeof(y));
        if (x != y)
            return false;
    }
    for (; i < count; ++i) {
        if (a[i] != b[i])
            return false;
    }
    return true;
}

// Whether two terminated texts are equal; four characters a round (the
// names compared here are some twenty characters long).
bool SameText(const wchar_t* a, const wchar_t* b)
{
    for (;; a += 4, b += 4) {
        if (a[0] != b[0])
            return false;
        if (a[0] == L'\0')
            return true;
        if (a[1] != b[1])
            return false;
        if (a[1] == L'\0')
            return true;
        if (a[2] != b[2])
            return false;
        if (a[2] == L'\0')
            return true;
        if (a[3] != b[3])
            return false;
        if (a[3] == L'\0')
            return true;
    }
}

// A hash of the first count characters of text, taken a word at a time
// (names are short: the multiplications, not the loads, are what costs).
uint32_t HashChars(const wchar_t* text, size_t count)
{
    const uint64_t multiplier = 0x9E3779B97F4A7C15ull;
    const size_t perWord = sizeof(uint64_t) / sizeof(wchar_t);
    uint64_t hash = count;
    size_t i = 0;
    for (; i + perWord <= count; i += perWord) {
        uint64_t word;
        memcpy(&word, text + i, sizeof(word));
        hash = (hash ^ word) * multiplier;
    }
    for (; i < count; ++i)
        hash = (hash ^ static_cast<uint64_t>(text[i])) * multiplier;
    // A product's low bits depend only on the factors' low bits: fold the
    // high half in, which every character reached.
    hash ^= hash >> 29;
    hash *= multiplier;
    return static_cast<uint32_t>(hash >> 32);
}

} // namespace

CZolXMLArena::CZolXMLArena()
    : m_pBlocks(nullptr), m_pNext(nullptr), m_pEnd(nullptr), m_nNextBlockSize(kFirstBlockBytes), m_nReserved(0),
      m_pInterned(nullptr), m_pShared(nullptr), m_recent(), m_recentArrays()
{
    static_assert(sizeof(BLOCK) <= kBlockHeaderBytes, "the block header must fit its space");
}

CZolXMLArena::~CZolXMLArena()
{
    Release();
}

void CZolXMLArena::Release()
{
    while (m_pBlocks) {
        BLOCK* next = m_pBlocks->pNext;
        xmlmemory::ReturnBlock(m_pBlocks, kBlockHeaderBytes + m_pBlocks->nSize);
        m_pBlocks = next;
    }
    delete[] m_pInterned;
    m_pInterned = nullptr;
    delete[] m_pShared;
    m_pShared = nullptr;
    for (RECENT(&set)[RECENT_WAYS] : m_recent) {
        for (RECENT& recent : set)
            recent = RECENT();
    }
    for (wchar_t**& recent : m_recentArrays)
        recent = nullptr;
    m_pNext = m_pEnd = nullptr;
    m_nNextBlockSize = kFirstBlockBytes;
    m_nReserved = 0;
}

void* CZolXMLArena::AllocateBlock(size_t bytes)
{
    // A request larger than a quarter of the next block gets a block of its
    // own, so that the space left in the current block is not given up.
    const bool own = bytes > m_nNextBlockSize / 4;
    const size_t usable = own ? bytes : m_nNextBlockSize;
    if (usable > static_cast<size_t>(-1) - kBlockHeaderBytes)
        throw std::bad_alloc();
    size_t got = 0;
    BLOCK* block = static_cast<BLOCK*>(xmlmemory::TakeBlock(kBlockHeaderBytes + usable, &got));
    if (block == nullptr)
        throw std::bad_alloc();
    // A block kept from an earlier document may be larger than asked for.
    block->nSize = got - kBlockHeaderBytes;
    m_nReserved += block->nSize;
    char* data = reinterpret_cast<char*>(block) + kBlockHeaderBytes;
    if (own) {
        // Behind the current block, which stays the one being filled.
        if (m_pBlocks) {
            block->pNext = m_pBlocks->pNext;
            m_pBlocks->pNext = block;
        } else {
            block->pNext = nullptr;
            m_pBlocks = block;
        }
        return data;
    }
    block->pNext = m_pBlocks;
    m_pBlocks = block;
    m_pNext = data + bytes;
    m_pEnd = data + block->nSize;
    if (m_nNextBlockSize < kLargestBlockBytes)
        m_nNextBlockSize *= 2;
    return data;
}

void* CZolXMLArena::Allocate(size_t bytes, size_t align)
{
    if (bytes == 0)
        bytes = 1;
    if (m_pNext) {
        uintptr_t at = (reinterpret_cast<uintptr_t>(m_pNext) + (align - 1)) & ~static_cast<uintptr_t>(align - 1);
        if (at <= reinterpret_cast<uintptr_t>(m_pEnd) && bytes <= reinterpret_cast<uintptr_t>(m_pEnd) - at) {
            m_pNext = reinterpret_cast<char*>(at + bytes);
            return reinterpret_cast<void*>(at);
        }
    }
    return AllocateBlock(bytes);
}

wchar_t* CZolXMLArena::CopyString(const wchar_t* text, size_t count)
{
    if (count >= static_cast<size_t>(-1) / sizeof(wchar_t))
        throw std::bad_alloc();
    wchar_t* copy = static_cast<wchar_t*>(Allocate((count + 1) * sizeof(wchar_t), alignof(wchar_t)));
    if (count)
        wmemcpy(copy, text, count);
    copy[count] = L'\0';
    return copy;
}

const wchar_t* CZolXMLArena::Intern(const wchar_t* text)
{
    if (text == nullptr)
        text = L"";
    // The same text from the same address as lately: one comparison instead
    // of measuring, hashing and comparing. The values of one attribute arrive
    // at one address in turn; their first characters spread them over the
    // sets.
    const uintptr_t key = reinterpret_cast<uintptr_t>(text) / sizeof(wchar_t) + static_cast<uintptr_t>(text[0]) * 7;
    RECENT(&set)[RECENT_WAYS] = m_recent[key % RECENT_SETS];
    for (const RECENT& recent : set) {
        if (recent.pszSource == text && SameText(recent.pszInterned, text))
            return recent.pszInterned;
    }
    const wchar_t* interned = InternNew(text);
    if (interned) {
        for (size_t way = RECENT_WAYS - 1; way > 0; --way)
            set[way] = set[way - 1];
        set[0].pszSource = text;
        set[0].pszInterned = interned;
        return interned;
    }
    return CopyString(text, wcslen(text));
}

const wchar_t* CZolXMLArena::InternNew(const wchar_t* text)
{
    size_t length = 0;
    while (text[length]) {
        if (++length > INTERN_MAX_LENGTH)
            return nullptr; // long texts are rarely repeated
    }
    const uint32_t hash = HashChars(text, length);
    if (m_pInterned == nullptr)
        m_pInterned = new INTERNED[INTERN_SLOTS]();
    for (unsigned probe = 0; probe < INTERN_PROBES; ++probe) {
        INTERNED& slot = m_pInterned[(hash + probe) % INTERN_SLOTS];
        if (slot.pszText == nullptr) {
            slot.pszText = CopyString(text, length);
            slot.nLength = length;
            slot.nHash = hash;
            return slot.pszText;
        }
        if (slot.nHash == hash && slot.nLength == length && SameChars(slot.pszText, text, length))
            return slot.pszText;
    }
    // A document with more distinct names than the table holds: the rest are
    // copied each time.
    return nullptr;
}

wchar_t** CZolXMLArena::ShareArray(wchar_t* const* strings, size_t count)
{
    // The list lately shared that starts and ends with the same strings:
    // compared directly, without hashing.
    wchar_t**& recent =
        m_recentArrays[count ? (reinterpret_cast<uintptr_t>(strings[0]) / sizeof(wchar_t) +
                                reinterpret_cast<uintptr_t>(strings[count - 1]) / sizeof(wchar_t)) %
                                   RECENT_SETS
                             : 0];
    if (recent) {
        size_t same = 0;
        while (same < count && recent[same] == strings[same])
            ++same;
        if (same == count && recent[count] == nullptr)
            return recent;
    }
    recent = ShareArrayNew(strings, count);
    return recent;
}

wchar_t** CZolXMLArena::ShareArrayNew(wchar_t* const* strings, size_t count)
{
    uint32_t hash = 2166136261u;
    if (count <= SHARED_MAX_COUNT) {
        for (size_t i = 0; i < count; ++i) {
            // The strings are at least 2-aligned: the lowest bit says nothing.
            const uint64_t value = reinterpret_cast<uintptr_t>(strings[i]);
            hash = (hash ^ static_cast<uint32_t>(value >> 1) ^ static_cast<uint32_t>(value >> 33)) * 16777619u;
        }
        if (m_pShared == nullptr)
            m_pShared = new SHARED[SHARED_SLOTS]();
        for (unsigned probe = 0; probe < INTERN_PROBES; ++probe) {
            const SHARED& slot = m_pShared[(hash + probe) % SHARED_SLOTS];
            if (slot.ppArray == nullptr)
                break;
            if (slot.nHash == hash && slot.nCount == count &&
                memcmp(slot.ppArray, strings, count * sizeof(wchar_t*)) == 0)
                return slot.ppArray;
        }
    }
    wchar_t** copy = static_cast<wchar_t**>(Allocate((count + 1) * sizeof(wchar_t*), alignof(wchar_t*)));
    if (count)
        memcpy(copy, strings, count * sizeof(wchar_t*));
    copy[count] = nullptr;
    if (count <= SHARED_MAX_COUNT) {
        for (unsigned probe = 0; probe < INTERN_PROBES; ++probe) {
            SHARED& slot = m_pShared[(hash + probe) % SHARED_SLOTS];
            if (slot.ppArray == nullptr) {
                slot.ppArray = copy;
                slot.nCount = count;
                slot.nHash = hash;
                break;
            }
        }
    }
    return copy;
}
