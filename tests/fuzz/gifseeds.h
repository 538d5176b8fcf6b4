// The streams the GIF mutation runs start from.
#pragma once
#include <string>
#include <vector>

#include "fuzzrun.h"

// The corpus files of corpusDir up to 80 kB, and hand-made streams with every extension kind, an
// interlaced frame, a local table, transparency, both restoring disposals and a frame off the screen.
std::vector<fuzz::Bytes> GifSeeds(const std::string& corpusDir);
