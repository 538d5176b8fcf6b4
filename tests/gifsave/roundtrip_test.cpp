// Every file of a corpus made by other encoders is loaded, saved with either encoder and loaded
// again: the frames, colour tables and extensions come back, the saved stream keeps to the
// grammar, saving is stable, and Windows' own decoder reads our file as it reads the original.
// The saved files are left in written/ for the decoders of the host.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <sstream>

#include "gifimage/colormap.h"
#include "gifimage/extensions.h"
#include "gifimage/gifstream.h"
#include "gifimage/subimage.h"
#include "tests/gifsave/savefixtures.h"
#include "tests/support/wic.h"

namespace {

const char kWrittenFolder[] = "written";

std::string TableDifference(const TGIFColorMap& a, const TGIFColorMap& b) {
    if (a.Count() != b.Count()) return std::to_string(a.Count()) + " entries against " + std::to_string(b.Count());
    if (a.Count() > 0 && std::memcmp(a.Entries(), b.Entries(), 3u * a.Count()) != 0) return "other entries";
    return "";
}

// "" when the two images hold the same screen, tables, frames and extensions.
std::string ModelDifference(TGIFImage& a, TGIFImage& b) {
    std::ostringstream out;
    const TLogicalScreenDescriptor& sa = a.Header()->Descriptor();
    const TLogicalScreenDescriptor& sb = b.Header()->Descriptor();
    if (sa.LogicalWidth != sb.LogicalWidth || sa.LogicalHeight != sb.LogicalHeight) out << "screen size; ";
    if (sa.BackgroundIndex != sb.BackgroundIndex || sa.AspectRatio != sb.AspectRatio) out << "screen fields; ";
    if (std::string d = TableDifference(*a.GlobalColors(), *b.GlobalColors()); !d.empty())
        out << "global table: " << d << "; ";
    if (a.Frames()->ItemCount() != b.Frames()->ItemCount()) {
        out << a.Frames()->ItemCount() << " frames against " << b.Frames()->ItemCount();
        return out.str();
    }
    for (int i = 0; i < a.Frames()->ItemCount(); ++i) {
        TGIFSubImage* fa = a.Frames()->FrameAt(i);
        TGIFSubImage* fb = b.Frames()->FrameAt(i);
        const std::string at = "frame " + std::to_string(i) + ": ";
        if (std::memcmp(&fa->Descriptor().Left, &fb->Descriptor().Left, 9) != 0) out << at << "descriptor; ";
        if (fa->PixelsSize() != fb->PixelsSize() ||
            (fa->PixelsSize() > 0 && std::memcmp(fa->Pixels(), fb->Pixels(), fa->PixelsSize()) != 0))
            out << at << "pixels; ";
        if (std::string d = TableDifference(*fa->LocalColorMap(), *fb->LocalColorMap()); !d.empty())
            out << at << "local table: " << d << "; ";
        if (fa->Extensions()->ItemCount() != fb->Extensions()->ItemCount()) {
            out << at << "extension count; ";
            continue;
        }
        for (int k = 0; k < fa->Extensions()->ItemCount(); ++k) {
            TGIFExtension* ea = fa->Extensions()->ExtensionAt(k);
            TGIFExtension* eb = fb->Extensions()->ExtensionAt(k);
            if (ea->ClassType() != eb->ClassType() || ItemBytes(*ea) != ItemBytes(*eb))
                out << at << "extension " << k << "; ";
        }
    }
    return out.str();
}

std::string WICDifference(WICGifDecoder& wic, const Bytes& original, const Bytes& saved) {
    const WICResult want = wic.Decode(original.data(), original.size());
    const WICResult got = wic.Decode(saved.data(), saved.size());
    if (!want.error.empty()) return "original: " + want.error;
    if (!got.error.empty()) return "saved: " + got.error;
    if (want.frames.size() != got.frames.size()) return "frame count";
    for (size_t i = 0; i < want.frames.size(); ++i) {
        const WICFrame& w = want.frames[i];
        const WICFrame& g = got.frames[i];
        if (w.width != g.width || w.height != g.height || w.indexes != g.indexes)
            return "frame " + std::to_string(i) + " differs";
    }
    return "";
}

std::string Stem(const std::string& path) {
    const size_t slash = path.find_last_of("\\/");
    std::string name = path.substr(slash == std::string::npos ? 0 : slash + 1);
    return name.substr(0, name.rfind('.'));
}

struct RoundTrip {
    std::string file;
    uint8_t compression;
};

void PrintTo(const RoundTrip& c, std::ostream* os) { *os << Stem(c.file) << (c.compression ? " rle" : " lzw"); }

class GifSaveRoundTrip : public testing::TestWithParam<RoundTrip> {};

TEST_P(GifSaveRoundTrip, SavedFileComesBackTheSame) {
    const RoundTrip& param = GetParam();
    const Bytes original = ReadWholeFile(param.file);
    ASSERT_FALSE(original.empty());
    WarningLog log;
    auto image = LoadGif(original, &log);
    image->SetCompression(param.compression);
    const Bytes saved = SaveBytes(*image);
    EXPECT_EQ(GrammarProblem(saved), "");

    WarningLog savedLog;
    auto reloaded = LoadGif(saved, &savedLog);
    EXPECT_EQ(savedLog.Messages(), log.Messages());
    EXPECT_EQ(ModelDifference(*image, *reloaded), "");

    reloaded->SetCompression(param.compression);
    EXPECT_TRUE(SaveBytes(*reloaded) == saved) << "a second save writes other bytes";

    WICGifDecoder wic;
    ASSERT_TRUE(wic.Available());
    EXPECT_EQ(WICDifference(wic, original, saved), "");

    CreateDirectoryA(kWrittenFolder, nullptr);
    WriteWholeFile(
        std::string(kWrittenFolder) + "\\" + Stem(param.file) + (param.compression ? "-rle" : "-lzw") + ".gif", saved);
}

std::vector<RoundTrip> CorpusCases() {
    std::vector<RoundTrip> cases;
    for (const std::string& file : GifFilesIn(GIF_CORPUS_DIR))
        for (uint8_t compression : {0, 1}) cases.push_back({file, compression});
    return cases;
}

std::string CaseName(const testing::TestParamInfo<RoundTrip>& info) {
    std::string name = Stem(info.param.file) + (info.param.compression ? "_rle" : "_lzw");
    for (char& c : name)
        if (!isalnum(static_cast<unsigned char>(c))) c = '_';
    return name;
}

INSTANTIATE_TEST_SUITE_P(Corpus, GifSaveRoundTrip, testing::ValuesIn(CorpusCases()), CaseName);

TEST(GifSaveCorpus, CorpusIsThere) {
    EXPECT_GE(GifFilesIn(GIF_CORPUS_DIR).size(), 15u) << "corpus missing in " << GIF_CORPUS_DIR;
}

}  // namespace
