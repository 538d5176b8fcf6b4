#include "classlib/zstream.h"

#include <zlib.h>

struct TDecompressionStream::State {
    z_stream z{};
};

TDecompressionStream::TDecompressionStream(TStream& source) : source_(source), state_(new State), input_(0x10000) {
    if (inflateInit(&state_->z) != Z_OK) {
        delete state_;
        throw EZDecompressionError("zlib initialisation failed");
    }
}

TDecompressionStream::~TDecompressionStream() {
    inflateEnd(&state_->z);
    delete state_;
}

int32_t TDecompressionStream::Read(void* buffer, int32_t count) {
    if (count <= 0 || finished_) return 0;
    z_stream& z = state_->z;
    z.next_out = static_cast<Bytef*>(buffer);
    z.avail_out = static_cast<uInt>(count);
    while (z.avail_out > 0) {
        if (z.avail_in == 0) {
            if (sourceDone_) break;
            int32_t n = source_.Read(input_.data(), static_cast<int32_t>(input_.size()));
            if (n <= 0) {
                sourceDone_ = true;
                break;
            }
            z.next_in = input_.data();
            z.avail_in = static_cast<uInt>(n);
        }
        int rc = inflate(&z, Z_NO_FLUSH);
        if (rc == Z_STREAM_END) {
            finished_ = true;
            break;
        }
        if (rc == Z_BUF_ERROR && z.avail_in == 0) continue;  // needs more input
        if (rc != Z_OK) throw EZDecompressionError(z.msg ? z.msg : "data error");
    }
    int32_t done = count - static_cast<int32_t>(z.avail_out);
    produced_ += done;
    return done;
}

int32_t TDecompressionStream::Write(const void*, int32_t) { throw EZDecompressionError("Invalid ZStream operation!"); }

int64_t TDecompressionStream::Seek(int64_t offset, TSeekOrigin origin) {
    if (offset == 0 && origin == soCurrent) return produced_;
    throw EZDecompressionError("Invalid ZStream operation!");
}

int64_t TDecompressionStream::Size() { throw EZDecompressionError("Invalid ZStream operation!"); }
