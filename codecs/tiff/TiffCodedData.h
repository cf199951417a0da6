#pragma once
// Whether a TIFF page's CCITT fax data can be carried into a PDF CCITTFaxDecode stream unchanged:
// one strip as it is, or several strips joined where the coding allows it.
#include "platform/Stream.h"

#include <cstdint>
#include <string>
#include <vector>

enum class TFaxCoding : std::uint8_t {
    Group4,     // two-dimensional, no end-of-line codes
    Group3OneD, // end-of-line code before each row
    Group3TwoD, // end-of-line code and a tag bit before each row
    Huffman     // modified Huffman rows, each starting on a byte, no end-of-line codes
};

struct TTiffCodedFax {
    bool Carriable = false;
    std::string Refusal; // why not, in a few lower-case words; empty when carriable
    int Width = 0, Height = 0;
    TFaxCoding Coding = TFaxCoding::Group4;
    bool BlackIs1 = false;          // the file's 0 is black (photometric BlackIsZero)
    int Strips = 0;                 // strips joined into Data
    std::vector<std::uint8_t> Data; // most significant bit first, whatever the file's fill order
};

// Reads directory frame (0-based) of the TIFF at the stream's position 0. Carriable: 1-bit,
// one-sample, stripped (not tiled) images coded with CCITT Group 4, Group 3 or modified Huffman,
// WhiteIsZero or BlackIsZero, whose strips are all in the file. Group 4 coding carries from one
// row to the next, so only a single strip carries; Group 3 strips join when every strip after the
// first opens with an end-of-line code (and, two-dimensional, a row coded on its own).
TTiffCodedFax ProbeTiffFaxData(TStream& stream, int frame);
