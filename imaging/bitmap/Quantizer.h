#pragma once
// TIEQuantizer: a colour palette of at most MaxColors entries for a true-colour image (median cut over a
// 15-bit histogram, refined by a few k-means passes), with an index lookup for any colour. An image with
// no more distinct colours than allowed gets exactly its own colours.
#include "imaging/bitmap/PixelTypes.h"

#include <cstdint>
#include <unordered_map>
#include <vector>

class TIEBitmap;

class TIEQuantizer {
public:
    // maxColors is clamped to 1..256.
    explicit TIEQuantizer(int maxColors);
    // Builds over every pixel of an ie24Rgb bitmap (other types give an empty palette).
    TIEQuantizer(TIEBitmap& image, int maxColors);

    // Feed pixels (blue, green, red triples), then Build once.
    void AddPixels(const TIERgbTriple* pixels, std::int64_t count);
    void Build();

    // The palette: ColorCount() entries, each a colour the image uses or a mean of such colours.
    const std::vector<TIERgbTriple>& Palette() const { return FPalette; }
    int ColorCount() const { return static_cast<int>(FPalette.size()); }
    // Index of the palette entry for the colour: exact when the colour is in the palette, else the nearest
    // (0 for an empty palette).
    int RGBIndex(TIERgbTriple color);

private:
    struct TBin {
        std::uint64_t Count = 0, SumR = 0, SumG = 0, SumB = 0;
    };
    struct TCandidate {
        int Near; // squared distance from the entry to the nearest point of the cell
        std::uint8_t Entry;
    };
    static constexpr std::size_t kCells = 1 << 18; // 64 x 64 x 64 cells of 4 x 4 x 4 colours
    // Exact nearest entry; the candidates of each colour cell are gathered once, on first use.
    int Nearest(TIERgbTriple color);
    int NearestByScan(TIERgbTriple color) const;

    int FMaxColors;
    bool FBuilt = false;
    bool FExact = true; // the distinct colours so far fit into the palette
    std::unordered_map<std::uint32_t, int> FExactColors;
    std::vector<TBin> FBins; // 32 x 32 x 32 histogram
    std::vector<TIERgbTriple> FPalette;
    std::vector<std::int32_t> FCellStart; // per cell: offset into FCandidates, -1 until gathered
    std::vector<std::uint8_t> FCellCount; // candidates of the cell minus one
    std::vector<TCandidate> FCandidates;
};
