#pragma once
// Whether a TIFF page coded as JPEG can be carried into a PDF DCTDecode stream unchanged: the page's one
// strip, with the file's shared tables put in front of its frame, is a complete JPEG stream.
#include "platform/Stream.h"

#include <cstdint>
#include <string>
#include <vector>

enum class TTiffJpegColours : std::uint8_t {
    Gray,  // one component, black is zero
    YCbCr, // three components a decoder turns from YCbCr to RGB
    Rgb,   // three components stored as red, green and blue: no colour transform
    Cmyk   // four ink components
};

struct TTiffCodedJpeg {
    bool CodedAsJpeg = false; // the page is in JPEG compression (new form), carriable or not
    bool Carriable = false;
    std::string Refusal; // why not, in a few lower-case words; empty when carriable
    TTiffJpegColours Colours = TTiffJpegColours::YCbCr;
    std::vector<std::uint8_t> Data; // start-of-image, the shared tables, then the strip's own markers
};

// Reads directory frame (0-based) of the TIFF at the stream's position 0. Carriable: 8-bit, chunky,
// stripped images in JPEG compression (new form) held in a single strip, grey (black is zero), YCbCr,
// RGB or CMYK without extra samples. Whether the JPEG data itself is carriable (its coding, frame size)
// is the JPEG codec's question, asked by the caller of the joined data.
TTiffCodedJpeg ProbeTiffJpegData(TStream& stream, int frame);
