#pragma once
// Whether a PNG file's image data can be carried into a PDF FlateDecode stream unchanged: the joined
// IDAT chunks are zlib data of rows that each start with a PNG filter byte, which PDF's predictor 15
// reads as they are.
#include <cstdint>
#include <span>
#include <string>
#include <vector>

enum class TPngCodedColours : std::uint8_t { Gray, Rgb, Palette };

struct TPngCodedData {
    bool Carriable = false;
    std::string Refusal; // why not, in a few lower-case words; empty when carriable
    int Width = 0, Height = 0;
    TPngCodedColours Colours = TPngCodedColours::Rgb;
    int Channels = 0;                  // samples per pixel in the rows: 1 or 3
    std::vector<std::uint8_t> Palette; // red, green, blue per entry
    std::vector<std::uint8_t> Data;    // the IDAT chunks' data, joined
};

// Carriable: non-interlaced, 8 bits per sample, grey, RGB or palette, without transparency (no
// tRNS), every chunk's CRC right, and image data that inflates to exactly the rows the header
// promises, each with a known filter and, for a palette, only indexes the palette holds. Inflating
// stops at the promised size, so a hostile stream costs no more than the image would.
TPngCodedData ProbePngCodedData(std::span<const std::uint8_t> file);
