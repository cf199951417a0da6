#pragma once
// The formats this build reads, one row each: the reader behind every load and header read of the
// format, and what sets the format apart in a load. Names and extensions are the format table's
// (imaging/params/FormatTable.h); this table says how each one is read.
#include "imaging/params/FormatIds.h"
#include "imaging/params/IOParams.h"
#include "platform/Colors.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

class TIEBitmap;
class TIEMask;
class TStream;
struct TIEProgressRecord;

// What a read needs beyond its stream, bitmap and parameters, and what it gives back.
struct TReadContext {
    bool HeaderOnly = false;       // fill the parameters and leave the bitmap untouched
    TColor Background = clBlack;   // what a header-only PNG read composes over
    TIERgbTriple FileBackground{}; // out: the background the file names (PNG)
    int FrameCount = 0;            // out: the frames of the whole file (TIFF, GIF)
};

// One calling form for every reader: the mask it returns (if any) becomes the alpha plane.
using TFormatReader = std::function<void(TStream&, TIEBitmap&, TIOParamsVals&, TIEProgressRecord&,
                                         std::unique_ptr<TIEMask>&, TReadContext&)>;
// The images of a whole file, walking its structure without decoding; the position is restored.
using TImageCounter = int (*)(TStream&);

enum class TLoadForm {
    Image,     // one image; the rows a cut file's data did not reach are made transparent
    Animation, // frames composed over the earlier ones; the reader marks what a cut frame lacks
};

struct TFormatEntry {
    TIOFileFormat Id = ioUnknown;
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

// The entry of a format id this build reads, or null (WMF and EMF are played from their file, not
// read from a stream).
const TFormatEntry* ReadableFormat(int id);
// The images in a file of the given format (frames of a TIFF or GIF, images of an icon); 1 for a
// one-image format, 0 when the file cannot be read.
int CountImagesInFile(const std::string& path, int id);

// The readers' content checks, for detection; each restores the stream position.
namespace readers {
bool IsPng(TStream& stream);
bool IsIco(TStream& stream);
bool IsCur(TStream& stream);
bool IsTga(TStream& stream);
bool IsPxm(TStream& stream);
// Absolute position of FF D8 FF within the 100 positions from the current one, or -1.
std::int64_t FindJpegStart(TStream& stream);
} // namespace readers
