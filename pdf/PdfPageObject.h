#pragma once
// A page dictionary kept as its few numbers until it is written, so that a long document holds little
// per page.
#include "pdf/PdfObjects.h"

#include <cstdint>

class TIEPDFPageObject : public TIEPDFObject {
public:
    // Writes << /Type /Page /Resources /MediaBox [0 0 width height ] /Contents /Parent >>, each
    // reference "N 0 R", as a dictionary of those entries would; Parent only once it is set.
    void WriteTo(TStream& stream) override;

    std::int32_t ResourcesNumber = 0;
    std::int32_t PaperWidth = 0;
    std::int32_t PaperHeight = 0;
    std::int32_t ContentsNumber = 0;
    std::int32_t ParentNumber = 0; // the page tree's number; 0 until the page tree exists
};
