#include "classlib/streams.h"

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <vector>

int64_t TStream::Size() {
    int64_t position = Seek(0, soCurrent);
    int64_t size = Seek(0, soEnd);
    Seek(position, soBeginning);
    return size;
}

void TStream::SetSize(int64_t) { throw EStreamError("Stream size cannot be changed"); }

void TStream::ReadBuffer(void* buffer, int32_t count) {
    if (count != 0 && Read(buffer, count) != count) throw EReadError("Stream read error");
}

void TStream::WriteBuffer(const void* buffer, int32_t count) {
    if (count != 0 && Write(buffer, count) != count) throw EWriteError("Stream write error");
}

int64_t TStream::CopyFrom(TStream& source, int64_t count) {
    if (count == 0) {
        source.SetPosition(0);
        count = source.Size();
    }
    const int64_t total = count;
    std::vector<uint8_t> buffer(static_cast<size_t>(std::min<int64_t>(count, 0xF000) + 1));
    while (count > 0) {
        int32_t n = static_cast<int32_t>(std::min<int64_t>(count, 0xF000));
        source.ReadBuffer(buffer.data(), n);
        WriteBuffer(buffer.data(), n);
        count -= n;
    }
    return total;
}

// --- THandleStream ---------------------------------------------------------

THandleStream::~THandleStream() {
    if (handle_ && handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
}

int32_t THandleStream::Read(void* buffer, int32_t count) {
    DWORD done = 0;
    if (count <= 0 || !ReadFile(handle_, buffer, static_cast<DWORD>(count), &done, nullptr)) return 0;
    return static_cast<int32_t>(done);
}

int32_t THandleStream::Write(const void* buffer, int32_t count) {
    DWORD done = 0;
    if (count <= 0 || !WriteFile(handle_, buffer, static_cast<DWORD>(count), &done, nullptr)) return 0;
    return static_cast<int32_t>(done);
}

int64_t THandleStream::Seek(int64_t offset, TSeekOrigin origin) {
    LARGE_INTEGER distance, result;
    distance.QuadPart = offset;
    if (!SetFilePointerEx(handle_, distance, &result, static_cast<DWORD>(origin))) return -1;
    return result.QuadPart;
}

void THandleStream::SetSize(int64_t size) {
    Seek(size, soBeginning);
    if (!SetEndOfFile(handle_)) RaiseLastOSError();
}

// --- TFileStream -----------------------------------------------------------

namespace {
void* OpenFileHandle(const std::string& name, uint16_t mode) {
    if (mode == fmCreate)
        return CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                           nullptr);
    static const DWORD access[] = {GENERIC_READ, GENERIC_WRITE, GENERIC_READ | GENERIC_WRITE};
    static const DWORD share[] = {FILE_SHARE_READ | FILE_SHARE_WRITE, 0, FILE_SHARE_READ, FILE_SHARE_WRITE,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE};
    unsigned accessIndex = std::min(mode & 3u, 2u);
    unsigned shareIndex = std::min((mode & 0xF0u) >> 4, 4u);
    return CreateFileA(name.c_str(), access[accessIndex], share[shareIndex], nullptr, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}
}  // namespace

TFileStream::TFileStream(const std::string& fileName, uint16_t mode)
    : THandleStream(OpenFileHandle(fileName, mode))
    , fileName_(fileName) {
    if (handle_ == INVALID_HANDLE_VALUE) {
        std::string reason = SysErrorMessage(GetLastError());
        handle_ = nullptr;
        if (mode == fmCreate) throw EFCreateError("Cannot create file \"" + fileName + "\". " + reason);
        throw EFOpenError("Cannot open file \"" + fileName + "\". " + reason);
    }
}

// --- memory streams --------------------------------------------------------

int32_t TCustomMemoryStream::Read(void* buffer, int32_t count) {
    if (count <= 0 || position_ >= size_) return 0;
    int64_t n = std::min<int64_t>(count, size_ - position_);
    // Single bytes (block introducers and lengths) are most reads of a GIF: no call for them.
    if (n == 1)
        *static_cast<uint8_t*>(buffer) = memory_[position_];
    else
        std::memcpy(buffer, memory_ + position_, static_cast<size_t>(n));
    position_ += n;
    return static_cast<int32_t>(n);
}

int64_t TCustomMemoryStream::Seek(int64_t offset, TSeekOrigin origin) {
    int64_t base = origin == soBeginning ? 0 : origin == soCurrent ? position_ : size_;
    int64_t target = base + offset;
    if (target < 0) target = 0;
    position_ = target;
    return position_;
}

void TCustomMemoryStream::SaveToStream(TStream& stream) {
    if (size_ > 0) stream.WriteBuffer(memory_, static_cast<int32_t>(size_));
}

void TCustomMemoryStream::SaveToFile(const std::string& fileName) {
    TFileStream file(fileName, fmCreate);
    SaveToStream(file);
}

TMemoryStream::~TMemoryStream() { std::free(memory_); }

void TMemoryStream::Reserve(int64_t capacity) {
    if (capacity <= capacity_) return;
    int64_t grown = std::max<int64_t>(capacity, capacity_ + capacity_ / 2);
    grown = (grown + 0x1FFF) & ~int64_t(0x1FFF);
    void* memory = std::realloc(memory_, static_cast<size_t>(grown));
    if (!memory) throw EOutOfResources("Out of memory while expanding memory stream");
    memory_ = static_cast<uint8_t*>(memory);
    capacity_ = grown;
}

int32_t TMemoryStream::Write(const void* buffer, int32_t count) {
    if (count <= 0) return 0;
    int64_t end = position_ + count;
    if (end > capacity_) Reserve(end);
    if (position_ > size_) std::memset(memory_ + size_, 0, static_cast<size_t>(position_ - size_));
    std::memcpy(memory_ + position_, buffer, static_cast<size_t>(count));
    position_ = end;
    if (end > size_) size_ = end;
    return count;
}

void TMemoryStream::SetSize(int64_t size) {
    Reserve(size);
    if (size > size_) std::memset(memory_ + size_, 0, static_cast<size_t>(size - size_));
    size_ = size;
    if (position_ > size_) position_ = size_;
}

void TMemoryStream::Clear() {
    std::free(memory_);
    memory_ = nullptr;
    size_ = capacity_ = position_ = 0;
}

void TMemoryStream::LoadFromStream(TStream& stream) {
    stream.SetPosition(0);
    int64_t count = stream.Size();
    SetSize(count);
    if (count > 0) stream.ReadBuffer(memory_, static_cast<int32_t>(count));
    position_ = 0;
}

void TMemoryStream::LoadFromFile(const std::string& fileName) {
    TFileStream file(fileName, fmOpenRead | fmShareDenyWrite);
    LoadFromStream(file);
}

// --- TResourceStream -------------------------------------------------------

TResourceStream::TResourceStream(void* instance, const std::string& name, const char* type) {
    Initialise(instance, name.c_str(), type, name);
}

TResourceStream::TResourceStream(void* instance, int id, const char* type) {
    Initialise(instance, MAKEINTRESOURCEA(id), type, IntToStr(id));
}

void TResourceStream::Initialise(void* instance, const char* name, const char* type, const std::string& shown) {
    HMODULE module = static_cast<HMODULE>(instance);
    HRSRC info = FindResourceA(module, name, type);
    if (!info) throw EResNotFound("Resource " + shown + " not found");
    HGLOBAL data = LoadResource(module, info);
    if (!data) throw EResNotFound("Resource " + shown + " not found");
    SetPointer(LockResource(data), SizeofResource(module, info));
}

int32_t TResourceStream::Write(const void*, int32_t) {
    throw EStreamError("Can't write to a read-only resource stream");
}
