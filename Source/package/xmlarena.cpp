#include "package/xmlarena.h"

#include <stdlib.h>
#include <string.h>
#include <wchar.h>

#include <new>

namespace {

const size_t kFirstBlockBytes = 16 * 1024;
const size_t kLargestBlockBytes = 1024 * 1024;
const size_t kBlockHeaderBytes = 16; // keeps the first allocation 16-aligned

} // namespace

CZolXMLArena::CZolXMLArena()
    : m_pBlocks(nullptr), m_pNext(nullptr), m_pEnd(nullptr), m_nNextBlockSize(kFirstBlockBytes), m_nReserved(0),
      m_pInterned(nullptr), m_pShared(nullptr)
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
        free(m_pBlocks);
        m_pBlocks = next;
    }
    delete[] m_pInterned;
    m_pInterned = nullptr;
    delete[] m_pShared;
    m_pShared = nullptr;
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
    BLOCK* block = static_cast<BLOCK*>(malloc(kBlockHeaderBytes + usable));
    if (block == nullptr)
        throw std::bad_alloc();
    block->nSize = usable;
    m_nReserved += usable;
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
    m_pEnd = data + usable;
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
    // FNV-1a over the characters, measuring the length on the way.
    uint32_t hash = 2166136261u;
    size_t length = 0;
    for (; text[length]; ++length) {
        if (length == INTERN_MAX_LENGTH)
            return CopyString(text, wcslen(text)); // long texts are rarely repeated
        hash = (hash ^ static_cast<uint32_t>(text[length])) * 16777619u;
    }
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
        if (slot.nHash == hash && slot.nLength == length && wmemcmp(slot.pszText, text, length) == 0)
            return slot.pszText;
    }
    // A document with more distinct names than the table holds: the rest are
    // copied each time.
    return CopyString(text, length);
}

wchar_t** CZolXMLArena::ShareArray(wchar_t* const* strings, size_t count)
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
