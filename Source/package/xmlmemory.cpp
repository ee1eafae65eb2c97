#include "package/xmlmemory.h"

#include <windows.h>

#include <stdlib.h>
#include <string.h>

namespace xmlmemory {

namespace {

struct KEPTBLOCK {
    void* pBlock;
    size_t nBytes;
};

const size_t kMostKeptBlocks = 128;

// Initialized before any code of the module runs and never destroyed, so
// that a document freed by another object's destructor at unload still
// finds them.
SRWLOCK g_lock = SRWLOCK_INIT;
KEPTBLOCK g_kept[kMostKeptBlocks];
size_t g_nKept = 0;
size_t g_nKeptBytes = 0;
bool g_bClosed = false;

// Frees the kept blocks when the module unloads; a block handed back after
// that is freed at once.
struct CKeptBlocksOwner {
    ~CKeptBlocksOwner()
    {
        AcquireSRWLockExclusive(&g_lock);
        g_bClosed = true;
        ReleaseSRWLockExclusive(&g_lock);
        FreeKeptBlocks();
    }
} g_owner;

} // namespace

void* TakeBlock(size_t bytes, size_t* usable)
{
    if (bytes >= kSmallestKeptBlock) {
        // The smallest kept block that holds bytes, if it is not more than
        // twice as large (a much larger block is left for a larger need).
        AcquireSRWLockExclusive(&g_lock);
        size_t best = kMostKeptBlocks;
        for (size_t i = 0; i < g_nKept; ++i) {
            const size_t size = g_kept[i].nBytes;
            if (size >= bytes && size / 2 <= bytes && (best == kMostKeptBlocks || size < g_kept[best].nBytes))
                best = i;
        }
        if (best != kMostKeptBlocks) {
            const KEPTBLOCK taken = g_kept[best];
            g_kept[best] = g_kept[--g_nKept];
            g_nKeptBytes -= taken.nBytes;
            ReleaseSRWLockExclusive(&g_lock);
            *usable = taken.nBytes;
            return taken.pBlock;
        }
        ReleaseSRWLockExclusive(&g_lock);
    }
    void* block = malloc(bytes);
    *usable = block ? bytes : 0;
    return block;
}

void ReturnBlock(void* block, size_t usable)
{
    if (block == nullptr)
        return;
    if (usable >= kSmallestKeptBlock) {
        AcquireSRWLockExclusive(&g_lock);
        const bool keep = !g_bClosed && g_nKept < kMostKeptBlocks && usable <= kMostKeptBytes - g_nKeptBytes;
        if (keep) {
            g_kept[g_nKept].pBlock = block;
            g_kept[g_nKept].nBytes = usable;
            ++g_nKept;
            g_nKeptBytes += usable;
        }
        ReleaseSRWLockExclusive(&g_lock);
        if (keep)
            return;
    }
    free(block);
}

void FreeKeptBlocks()
{
    AcquireSRWLockExclusive(&g_lock);
    const size_t count = g_nKept;
    KEPTBLOCK blocks[kMostKeptBlocks];
    memcpy(blocks, g_kept, count * sizeof(KEPTBLOCK));
    g_nKept = 0;
    g_nKeptBytes = 0;
    ReleaseSRWLockExclusive(&g_lock);
    for (size_t i = 0; i < count; ++i)
        free(blocks[i].pBlock);
}

size_t GetKeptBytes()
{
    AcquireSRWLockShared(&g_lock);
    const size_t bytes = g_nKeptBytes;
    ReleaseSRWLockShared(&g_lock);
    return bytes;
}

} // namespace xmlmemory
