// The allocator of the test programs that free images and frames under way. Every block given back to operator delete
// (the library's frame pixel buffers among them) is filled with 0xDD and held back from the heap for a while: a read through a dangling pointer meets 0xDD bytes (a
// pointer of 0xDDDDDDDD faults at once) and a write into a freed block is counted. A fault anywhere in the program ends
// it with a message instead of a debugger.
#pragma once
#include <cstddef>

constexpr unsigned char kFreedByte = 0xDD;

// Freed blocks written to since the program started (held ones are checked now, the others
// when they went back to the heap).
size_t FreedBlocksWritten();

// Blocks from operator new not yet given back to operator delete.
size_t LiveBlocks();

// A text the fault report prints with the fault: what the program was doing (copied; empty to clear).
void NoteForFaults(const char* text);
