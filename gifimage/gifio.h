// Byte and data sub-block input and output on a stream, as every block reader and writer of the
// library uses them.
#pragma once
#include <cstdint>

#include "classlib/streams.h"
#include "classlib/stringlist.h"
#include "gifimage/giferror.h"

// Reads count bytes or raises "Premature end of data".
void ReadExact(TStream& stream, void* buffer, int32_t count);
void PutByte(TStream& stream, uint8_t value);
// One byte; 0 at the end of the stream.
uint8_t GetByte(TStream& stream);
// One byte when the stream has one.
inline bool ReadByte(TStream& stream, uint8_t& value) { return stream.Read(&value, 1) == 1; }
// Lines as data sub-blocks of at most 255 bytes, then a zero byte; empty lines write nothing.
void WriteStringsAsBlocks(TStream& stream, const TStrings& strings);
// Replaces strings by the sub-blocks up to the terminator, one line each, cut at its first zero
// byte. A line that comes out empty is not kept: no stream can hold it, so a save would lose it.
void ReadStringsFromBlocks(TStream& stream, TStrings& strings);
