// The blocks of memory documents' trees are built in. Memory a process has
// never touched costs a page fault on every page the first time it is
// written, which for a large document costs a good part of what the parse
// itself costs. Blocks a document has finished with are therefore kept (up to
// a limit) for the next document the process reads: the package file search
// and the package reader read the same file one after the other, and each
// further document of a size seen before takes no fresh memory.
#pragma once

#include <stddef.h>

namespace xmlmemory {

// Blocks smaller than this come from the heap and go back to it.
const size_t kSmallestKeptBlock = 16 * 1024;
// The most memory kept for later documents.
const size_t kMostKeptBytes = 64 * 1024 * 1024;

// A block of at least bytes, aligned to 16; *usable receives its size (more
// than bytes when a larger kept block was handed out). Null when there is no
// memory.
void* TakeBlock(size_t bytes, size_t* usable);
// Hands back a block TakeBlock gave, with the size it reported: kept for a
// later document while there is room, otherwise freed.
void ReturnBlock(void* block, size_t usable);
// Frees every kept block. When the module unloads this runs, and blocks
// handed back after it are freed at once.
void FreeKeptBlocks();
// The bytes kept now, for the tests.
size_t GetKeptBytes();

} // namespace xmlmemory
