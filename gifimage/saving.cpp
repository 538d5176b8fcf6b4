// Writing a GIF image: header, frames with their extensions and pixel data, the trailer.
#include <cstring>

#include "gifimage/colormap.h"
#include "gifimage/encoders.h"
#include "gifimage/extensions.h"
#include "gifimage/gifimage.h"
#include "gifimage/gifstream.h"
#include "gifimage/messages.h"
#include "gifimage/subimage.h"

// The item is written to memory first, so that a save that fails leaves an existing file
// as it was.
void TGIFItem::WriteToFile(const std::string& fileName) {
    TMemoryStream memory;
    SaveToStream(memory);
    TFileStream stream(fileName, fmCreate);
    stream.WriteBuffer(memory.Memory(), static_cast<int32_t>(memory.Size()));
}

// --- Header ------------------------------------------------------------------

// Signature, logical screen descriptor and global table; an image without frames has no
// version and writes nothing.
void TGIFHeader::SaveToStream(TStream& stream) {
    const GIFVersion version = OwnerImage ? OwnerImage->RequiredVersion() : VersionNone;
    if (version == VersionNone) RaiseGIFError(sUnsupportedVersion);
    PackFlags();
    uint8_t bytes[6 + sizeof Descriptor];
    std::memcpy(bytes, "GIF", 3);
    std::memcpy(bytes + 3, GIFVersionText[version], 3);
    std::memcpy(bytes + 6, &Descriptor, sizeof Descriptor);
    stream.WriteBuffer(bytes, sizeof bytes);
    if (Descriptor.PackedFields & 0x80) ColorMap->WriteTable(stream);
}

// --- Frame -------------------------------------------------------------------

// Extensions, then (unless the frame is empty) descriptor, local table and pixel data.
void TGIFSubImage::SaveToStream(TStream& stream) {
    Extensions->SaveItems(stream);
    if (IsEmpty()) return;
    PrepareForSave();
    // A frame read after a stray byte keeps that byte as its separator; the stream needs ",".
    TImageDescriptor descriptor = Descriptor;
    descriptor.Separator = ',';
    stream.WriteBuffer(&descriptor, sizeof descriptor);
    LocalColorMap->WriteTable(stream);
    WritePixelData(stream);
}

// Pixels index the local table when it has entries (and must lie below its count), else
// any colour of the image's deepest table.
void TGIFSubImage::WritePixelData(TStream& stream) {
    int bitsPerPixel;
    int32_t maxColor;
    if (LocalColorMap->Count() > 0) {
        bitsPerPixel = LocalColorMap->BitDepth();
        maxColor = LocalColorMap->Count();
    } else {
        bitsPerPixel = OwnerImage ? OwnerImage->BitDepth() : 0;
        maxColor = 1 << bitsPerPixel;
    }
    TGIFImage* image = OwnerImage;
    const int compression = image ? image->Compression : DefaultCompression;
    WriteGIFPixelData(
        stream, compression, static_cast<uint8_t>(bitsPerPixel), Width(), Height(), IsInterlaced(), Pixels, maxColor,
        [image](TObject* sender, int severity, const std::string& message) {
            if (image) image->ReportWarning(sender, static_cast<uint8_t>(severity), message);
        },
        [](const std::string& message) { RaiseGIFError(message); });
}

// --- Extensions --------------------------------------------------------------

void TGIFExtension::SaveToStream(TStream& stream) {
    const uint8_t introducer[2] = {'!', LabelByte()};
    stream.WriteBuffer(introducer, 2);
}

void TGIFGraphicControlExtension::SaveToStream(TStream& stream) {
    TGIFExtension::SaveToStream(stream);
    stream.WriteBuffer(&Record, sizeof Record);
}

void TGIFTextExtension::SaveToStream(TStream& stream) {
    TGIFExtension::SaveToStream(stream);
    stream.WriteBuffer(&Record, sizeof Record);
    WriteStringsAsBlocks(stream, *Text);
}

void TGIFCommentExtension::SaveToStream(TStream& stream) {
    TGIFExtension::SaveToStream(stream);
    WriteStringsAsBlocks(stream, *Comment);
}

// Always an identifier block of 11 bytes; one read with 10 comes back zero-padded.
void TGIFApplicationExtension::SaveToStream(TStream& stream) {
    TGIFExtension::SaveToStream(stream);
    PutByte(stream, 11);
    stream.WriteBuffer(Identifier.data(), static_cast<int32_t>(Identifier.size()));
    WriteAppData(stream);
}

void TGIFBlock::WriteBlock(TStream& stream) const {
    PutByte(stream, Size);
    stream.WriteBuffer(Data.get(), Size);
}

// An empty block would end the data early, so it is left out.
void TGIFUnknownAppExtension::WriteAppData(TStream& stream) {
    for (const auto& block : Blocks)
        if (block->Size > 0) block->WriteBlock(stream);
    PutByte(stream, 0);
}

// Sub-block 1 (loop count) always, sub-block 2 (buffer size) only when set.
void TGIFAppExtNSLoop::WriteAppData(TStream& stream) {
    const uint8_t loop[4] = {3, 1, static_cast<uint8_t>(LoopCount), static_cast<uint8_t>(LoopCount >> 8)};
    stream.WriteBuffer(loop, sizeof loop);
    if (BufferSize != 0) {
        uint8_t buffer[6] = {5, 2};
        for (int i = 0; i < 4; ++i) buffer[2 + i] = static_cast<uint8_t>(BufferSize >> (8 * i));
        stream.WriteBuffer(buffer, sizeof buffer);
    }
    PutByte(stream, 0);
}

// --- Trailer -----------------------------------------------------------------

void TGIFTrailer::SaveToStream(TStream& stream) { PutByte(stream, ';'); }
