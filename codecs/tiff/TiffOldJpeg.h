#pragma once
// The old form of JPEG in TIFF, wherever writers left its pieces: one interchange stream at
// JPEGInterchangeFormat (or a few bytes beside it, over a length that may be wrong), a stream cut into
// the strips, or tables (in a tables-only stream or in tags) with the scans in the strips or tiles.
#include "codecs/tiff/TiffIfd.h"
#include "codecs/tiff/TiffInfo.h"
#include "codecs/tiff/TiffOldJpegSegments.h"

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace tiff {

struct TOldJpegPlan {
    enum class TMode {
        Whole, // one stream for the whole image
        Blocks // each strip or tile decoded on its own, with the header's tables, frame and scan
    };
    TMode Mode = TMode::Whole;
    std::vector<std::uint8_t> Stream; // Whole: the stream; empty when Refusal says why there is none
    TOldJpegHeader Header;            // Blocks: what each block's own stream is made of
    std::string Refusal;
};

TOldJpegPlan PlanOldJpeg(TTiffSource& src, const TImageInfo& info);

// The stream of one strip or tile (Blocks): the frame is width x height, segments at the start of the
// block add to the header. Empty when the block holds no coded data.
std::vector<std::uint8_t> OldJpegBlockStream(const TOldJpegHeader& header,
                                             std::span<const std::uint8_t> block, int width, int height);

} // namespace tiff
