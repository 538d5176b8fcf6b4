// A stream that inflates zlib data (RFC 1950) read from another stream.
#pragma once
#include <cstdint>
#include <vector>

#include "classlib/streams.h"

class EZLibError : public EStreamError {
    using EStreamError::EStreamError;
};
class EZDecompressionError : public EZLibError {
    using EZLibError::EZLibError;
};

// Reading yields the inflated bytes. It ends at the end of the zlib stream or when the
// source runs out, whichever comes first; bytes after the zlib stream are not read on.
// Invalid data raises EZDecompressionError. Read-only and forward-only.
class TDecompressionStream : public TStream {
public:
    explicit TDecompressionStream(TStream& source);
    ~TDecompressionStream() override;
    TDecompressionStream(const TDecompressionStream&) = delete;
    TDecompressionStream& operator=(const TDecompressionStream&) = delete;

    int32_t Read(void* buffer, int32_t count) override;
    int32_t Write(const void* buffer, int32_t count) override;
    // Only the position query (offset 0 from soCurrent) is answered.
    int64_t Seek(int64_t offset, TSeekOrigin origin) override;
    int64_t Size() override;
    // True once the zlib stream's end (with a valid check value) was reached.
    bool Finished() const { return finished_; }

private:
    struct State;
    TStream& source_;
    State* state_;
    std::vector<uint8_t> input_;
    int64_t produced_ = 0;
    bool finished_ = false;
    bool sourceDone_ = false;
};
