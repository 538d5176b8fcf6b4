// The extension blocks of an image as the tests compare them: each block as a line of text that
// names its kind and everything it holds, the blocks of all frames in stream order (an empty
// frame is saved as its extensions alone, which then lead the next frame).
#pragma once
#include <cstdio>
#include <string>
#include <vector>

#include "classlib/stringlist.h"
#include "gifimage/extensions.h"
#include "gifimage/gifimage.h"
#include "gifimage/gifstream.h"
#include "gifimage/subimage.h"

namespace extensionblocks {

inline std::string Hex(const void* data, size_t size) {
    std::string text;
    char byte[4];
    for (size_t i = 0; i < size; ++i) {
        std::snprintf(byte, sizeof byte, "%02X", static_cast<const uint8_t*>(data)[i]);
        text += byte;
    }
    return text;
}

inline std::string Lines(const TStringList& lines) {
    std::string text;
    for (int i = 0; i < lines.Count(); ++i) text += " [" + Hex(lines[i].data(), lines[i].size()) + "]";
    return text;
}

}  // namespace extensionblocks

// "loop <identifier> count <n> buffer <n>", "application <identifier> [block] ...",
// "control <record>", "text <record> [line] ...", "comment [line] ...".
inline std::string DescribeExtension(TGIFExtension& extension) {
    using extensionblocks::Hex;
    using extensionblocks::Lines;
    if (auto* loop = dynamic_cast<TGIFAppExtNSLoop*>(&extension))
        return "loop " + Hex(loop->Identifier().data(), 11) + " count " + std::to_string(loop->LoopCount()) + " buffer " +
               std::to_string(loop->BufferSize());
    if (auto* unknown = dynamic_cast<TGIFUnknownAppExtension*>(&extension)) {
        std::string text = "application " + Hex(unknown->Identifier().data(), 11);
        for (const auto& block : unknown->Blocks()) text += " [" + Hex(block->Data.get(), block->Size) + "]";
        return text;
    }
    if (auto* control = dynamic_cast<TGIFGraphicControlExtension*>(&extension))
        return "control " + Hex(&control->Record(), sizeof control->Record());
    if (auto* text = dynamic_cast<TGIFTextExtension*>(&extension))
        return "text " + Hex(&text->Record(), sizeof text->Record()) + Lines(text->Text());
    if (auto* comment = dynamic_cast<TGIFCommentExtension*>(&extension)) return "comment" + Lines(comment->Comment());
    return std::string("other ") + extension.ClassType()->ClassName;
}

inline std::vector<std::string> ExtensionsOf(TGIFImage& image) {
    std::vector<std::string> blocks;
    for (int i = 0; i < image.Frames()->ItemCount(); ++i) {
        TGIFSubImage* frame = image.Frames()->FrameAt(i);
        for (int k = 0; k < frame->Extensions()->ItemCount(); ++k)
            blocks.push_back(DescribeExtension(*frame->Extensions()->ExtensionAt(k)));
    }
    return blocks;
}
