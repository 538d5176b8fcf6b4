// Byte streams: the abstract stream, file, memory and resource streams.
#pragma once
#include <cstdint>
#include <string>

#include "classlib/sysutils.h"

enum TSeekOrigin { soBeginning = 0, soCurrent = 1, soEnd = 2 };

// Open modes and share modes of TFileStream, combined with "|".
enum : uint16_t {
    fmOpenRead = 0x0000,
    fmOpenWrite = 0x0001,
    fmOpenReadWrite = 0x0002,
    fmShareExclusive = 0x0010,
    fmShareDenyWrite = 0x0020,
    fmShareDenyRead = 0x0030,
    fmShareDenyNone = 0x0040,
    fmCreate = 0xFF00,
};

class TStream {
public:
    virtual ~TStream() = default;
    // Reads up to count bytes; returns how many were read (0 at the end).
    virtual int32_t Read(void* buffer, int32_t count) = 0;
    // Writes up to count bytes; returns how many were written.
    virtual int32_t Write(const void* buffer, int32_t count) = 0;
    virtual int64_t Seek(int64_t offset, TSeekOrigin origin) = 0;

    int64_t Position() { return Seek(0, soCurrent); }
    void SetPosition(int64_t position) { Seek(position, soBeginning); }
    virtual int64_t Size();
    virtual void SetSize(int64_t size);

    // Read exactly count bytes or raise EReadError "Stream read error".
    void ReadBuffer(void* buffer, int32_t count);
    // Write exactly count bytes or raise EWriteError "Stream write error".
    void WriteBuffer(const void* buffer, int32_t count);
    // Copies count bytes from source (all of it from position 0 when count is 0).
    int64_t CopyFrom(TStream& source, int64_t count);
};

// A stream over a Windows file handle that it owns.
class THandleStream : public TStream {
public:
    explicit THandleStream(void* handle) : handle_(handle) {}
    ~THandleStream() override;
    int32_t Read(void* buffer, int32_t count) override;
    int32_t Write(const void* buffer, int32_t count) override;
    int64_t Seek(int64_t offset, TSeekOrigin origin) override;
    void SetSize(int64_t size) override;
    void* Handle() const { return handle_; }

protected:
    void* handle_;
};

// A file opened or created by name. fmCreate creates (or truncates) the file;
// otherwise the low bits choose the access and the share bits what others may do.
// Raises EFOpenError "Cannot open file \"<name>\". <system message>" or
// EFCreateError "Cannot create file \"<name>\". <system message>".
class TFileStream : public THandleStream {
public:
    TFileStream(const std::string& fileName, uint16_t mode);
    const std::string& FileName() const { return fileName_; }

private:
    std::string fileName_;
};

// A stream over a block of memory that it does not grow.
class TCustomMemoryStream : public TStream {
public:
    int32_t Read(void* buffer, int32_t count) override;
    int64_t Seek(int64_t offset, TSeekOrigin origin) override;
    int64_t Size() override { return size_; }
    const void* Memory() const { return memory_; }
    void SaveToStream(TStream& stream);
    void SaveToFile(const std::string& fileName);

protected:
    void SetPointer(void* memory, int64_t size) {
        memory_ = static_cast<uint8_t*>(memory);
        size_ = size;
    }
    uint8_t* memory_ = nullptr;
    int64_t size_ = 0;
    int64_t position_ = 0;
};

// A growable stream in memory.
class TMemoryStream : public TCustomMemoryStream {
public:
    TMemoryStream() = default;
    ~TMemoryStream() override;
    TMemoryStream(const TMemoryStream&) = delete;
    TMemoryStream& operator=(const TMemoryStream&) = delete;
    int32_t Write(const void* buffer, int32_t count) override;
    void SetSize(int64_t size) override;
    void Clear();
    void LoadFromStream(TStream& stream);
    void LoadFromFile(const std::string& fileName);
    void* Memory() { return memory_; }

private:
    void Reserve(int64_t capacity);
    int64_t capacity_ = 0;
};

// Read-only view of a resource of a module, found by name and type.
// Raises EResNotFound "Resource <name> not found" when it is missing.
class TResourceStream : public TCustomMemoryStream {
public:
    TResourceStream(void* instance, const std::string& name, const char* type);
    TResourceStream(void* instance, int id, const char* type);
    int32_t Write(const void* buffer, int32_t count) override;

private:
    void Initialise(void* instance, const char* name, const char* type, const std::string& shown);
};
