#pragma once
// How one format is read: the row each codec describes itself with, next to its reader, and the I/O
// component's format registry lists (imaging/io/FormatRegistry.h). Names and extensions are the
// format table's (FormatTable.h).
#include "imaging/params/FormatIds.h"
#include "imaging/params/IOParams.h"
#include "platform/Colors.h"

#include <cstdint>
#include <functional>
#include <memory>

class TIEBitmap;
class TIEMask;
class TStream;
struct TIEProgressRecord;

// Takes an image's rows as a reader decodes them, so that a page can be encoded without holding the
// whole picture in memory. Readers that cannot hand rows over fill the bitmap as always.
class TRowSink {
public:
    virtual ~TRowSink() = default;
    // Before the first row, once the parameters describe the image as the finished load will (its
    // resolution and markers included). False declines: the rows then go into the bitmap.
    virtual bool Begin(TIOParamsVals& params, int width, int height) = 0;
    // The next row from the top: width blue-green-red triples.
    virtual void Row(const std::uint8_t* bgr) = 0;
};

// What a read needs beyond its stream, bitmap and parameters, and what it gives back.
struct TReadContext {
    bool HeaderOnly = false;       // fill the parameters and leave the bitmap untouched
    TRowSink* Rows = nullptr;      // where the rows go when the reader can hand them over
    TColor Background = clBlack;   // what a header-only PNG read composes over
    TIERgbTriple FileBackground{}; // out: the background the file names (PNG)
    int FrameCount = 0;            // out: the frames of the whole file (TIFF, GIF)
};

// One calling form for every reader: the mask it returns (if any) becomes the alpha plane.
using TFormatReader = std::function<void(TStream&, TIEBitmap&, TIOParamsVals&, TIEProgressRecord&,
                                         std::unique_ptr<TIEMask>&, TReadContext&)>;
// The reader's own test of a stream's first bytes; the position is restored.
using TContentTest = bool (*)(TStream&);
// The images of a whole file, walking its structure without decoding; the position is restored.
using TImageCounter = int (*)(TStream&);

enum class TLoadForm {
    Image,     // one image; the rows a cut file's data did not reach are made transparent
    Animation, // frames composed over the earlier ones; the reader marks what a cut frame lacks
};

struct TFormatEntry {
    TIOFileFormat Id = ioUnknown;
    // Null for a format recognised by its signature alone.
    TContentTest IsFormat = nullptr;
    TFormatReader Read;
    TLoadForm Form = TLoadForm::Image;
    // Whole-file image counts, for formats with several images; null for one-image formats.
    TImageCounter CountImages = nullptr;
    // Where a header read keeps that count, or null.
    int TIOParamsVals::*ImageCountField = nullptr;
    // Streams that start with an own header are refused (this system never writes them).
    bool RefusesStreamHeaders = false;
    // Takes the background colour the file names as the component's.
    bool KeepsFileBackground = false;
};
