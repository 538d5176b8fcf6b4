#include "gifimage/gifio.h"

#include <algorithm>
#include <cstring>

#include "classlib/stringlist.h"
#include "gifimage/messages.h"

void ReadExact(TStream& stream, void* buffer, int32_t count) {
    if (count > 0 && stream.Read(buffer, count) != count) RaiseGIFError(sPrematureEndOfData);
}

void PutByte(TStream& stream, uint8_t value) { stream.WriteBuffer(&value, 1); }

uint8_t GetByte(TStream& stream) {
    uint8_t value = 0;
    if (stream.Read(&value, 1) != 1) return 0;
    return value;
}

void WriteStringsAsBlocks(TStream& stream, const TStrings& strings) {
    for (int i = 0; i < strings.Count(); ++i) {
        const std::string& line = strings[i];
        size_t done = 0;
        while (done < line.size()) {
            const size_t piece = std::min<size_t>(255, line.size() - done);
            PutByte(stream, static_cast<uint8_t>(piece));
            stream.WriteBuffer(line.data() + done, static_cast<int32_t>(piece));
            done += piece;
        }
    }
    PutByte(stream, 0);
}

void ReadStringsFromBlocks(TStream& stream, TStrings& strings) {
    strings.Clear();
    uint8_t length = 0;
    char block[256];
    while (ReadByte(stream, length) && length != 0) {
        ReadExact(stream, block, length);
        const size_t used = strnlen(block, length);
        if (used > 0) strings.Add(std::string(block, used));
    }
}
