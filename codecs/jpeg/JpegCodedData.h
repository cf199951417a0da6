#pragma once
// Whether a JPEG file's own bytes can be carried into another container (a PDF DCTDecode stream)
// unchanged, read from its markers alone.
#include <cstdint>
#include <span>
#include <string>

enum class TJpegCodedColours : std::uint8_t { Gray, YCbCrOrRgb, Cmyk };

struct TJpegCodedInfo {
    bool Carriable = false;
    std::string Refusal; // why not, in a few lower-case words; empty when carriable
    int Width = 0, Height = 0;
    int Components = 0;
    bool Progressive = false;
    TJpegCodedColours Colours = TJpegCodedColours::YCbCrOrRgb;
    // An Adobe APP14 marker is present: four-component data from such writers is stored inverted.
    bool AdobeMarker = false;
};

// Walks the markers from the start-of-image at data[0] to the first scan. Carriable: Huffman-coded
// baseline, extended or progressive frames of 8-bit samples with 1, 3 or 4 components and a height
// in the frame header. Three components that libjpeg would take as RGB without an Adobe marker
// saying so (component ids 'R', 'G', 'B') are refused: other decoders would take them as YCbCr.
// Reads stay inside data. rgbByContainer: the container (a TIFF page) says three components are red,
// green and blue, stored without a colour transform; such data is carried only without an Adobe marker,
// whose transform flag could say otherwise, and the caller tells the PDF not to transform it.
TJpegCodedInfo ProbeJpegCodedData(std::span<const std::uint8_t> data, bool rgbByContainer = false);
