#pragma once
// The page image as its file codes it, for pages whose file data a PDF filter reads as it is: a
// JPEG's own bytes, a PNG's image data, a TIFF page's fax data. Format knowledge stays with the
// codecs; this maps what they found onto the PDF's terms.
#include "pdf/PdfCodedImage.h"

#include <optional>
#include <string>

struct TIOParamsVals;
class TStream;

struct TKeptPageData {
    std::optional<TPdfCodedImage> Image;
    std::string Reason; // why there is none, in a few lower-case words; empty for formats without any
};

// image: the parameters of the load that gave the page; frame: its TIFF page (0 for other formats).
// The caller promises the load read the whole image without errors and left the bitmap as the file
// holds it; this checks what the parameters tell beyond that (JPEG warnings and scaling, TIFF pages
// turned on loading) and that the coded data has the loaded size.
TKeptPageData ReadKeptPageData(TStream& file, const TIOParamsVals& image, int frame);
