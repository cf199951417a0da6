#pragma once
// How the PDF writer codes a page's image: the values of TIOParamsVals::PdfCompression, which keeps
// them as a byte for stored settings.
#include <cstdint>

enum TPdfCompression : std::uint8_t {
    pdfUncompressed = 0,
    pdfRunLength = 1,
    pdfGroup4 = 2,
    pdfGroup3 = 3,
    pdfDct = 4,
    pdfFlate = 5
};
