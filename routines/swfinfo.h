// The SWF header reader: frame size and background colour of a Flash movie.
#pragma once
#include <cstdint>
#include <string>

// Reads the header of the movie at path. True with width and height in pixels and the
// background colour as 0xRRGGBB (0 when the movie does not start with one); False, with
// the three left unwritten, when the file is not an "FWS" or "CWS" movie. A compressed
// movie is inflated into temporary files first, which are deleted again however the read
// ends; one cut short reads as far as it goes, like its uncompressed twin. File errors and
// damaged compressed data are raised.
bool ReadSwfInfo(const std::string& path, int& width, int& height, int& color);

// The pieces of the reader, for tests.
namespace swf {
enum SwfKind { NotSwf = 0, Uncompressed = 1, Compressed = 2 };
int GetSwfKind(const std::string& path);
// The first two steps of a compressed movie's read: its body copied out to t0, then inflated
// into t1 as far as its header states (never short of the bytes the header reader looks at).
// They leave their files behind; the read deletes them.
void SplitCompressedSwf(const std::string& path, const std::string& t0);
void InflateFile(const std::string& t0, const std::string& t1);
// The three temporary names for path: "_$$$_", "_$1$_" and "_$2$_" + its file name.
void MakeTempNames(const std::string& path, std::string& t0, std::string& t1, std::string& t2);
// The bit reader over a header buffer (from offset 8 of the uncompressed movie).
void SetHeaderBuffer(const uint8_t* bytes, int count);
void ResetBits();
uint32_t ReadBits(int n);
int32_t ReadSignedBits(int n);
void ReadFrameSize(int& width, int& height);
int ReadBackgroundColor();
int HeaderPosition();
}  // namespace swf
