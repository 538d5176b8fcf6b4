// The picture size of a Flash video: from its onMetaData script tag, else from its first
// video tag (Sorenson H.263 or VP6 key frame).
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

// True with width and height when the bytes (the start of an FLV file) tell them.
bool FlvPictureSize(const std::vector<uint8_t>& bytes, int& width, int& height);
