#pragma once
// The window's compression and paper lists: item texts and what each item means.
#include "imaging/params/PdfCompression.h"

#include <array>
#include <string_view>

struct TCompressionItem {
    std::string_view Text;
    TPdfCompression PdfCompression;
    // Pages whose file data a PDF reads as it is keep that data; the others take PdfCompression.
    bool KeepOriginalData = false;
};
// The window shows the items in this order and stores the chosen item's index.
inline constexpr std::array<TCompressionItem, 7> CompressionItems{{
    {"No compression", pdfUncompressed},
    {"Run length compression", pdfRunLength},
    {"G4Fax (only black/white images)", pdfGroup4},
    {"G3Fax (only black/white images)", pdfGroup3},
    {"DCT-jpeg (only color images)", pdfDct},
    {"Flate (lossless)", pdfFlate},
    {"Automatic (keep original data)", pdfFlate, true},
}};

// The index of the item that codes pages with compression (keeping original data where it can when
// keepOriginal), or -1 when no item does.
constexpr int CompressionIndexOf(TPdfCompression compression, bool keepOriginal = false) {
    for (std::size_t i = 0; i < CompressionItems.size(); ++i)
        if (CompressionItems[i].PdfCompression == compression &&
            CompressionItems[i].KeepOriginalData == keepOriginal)
            return static_cast<int>(i);
    return -1;
}
inline constexpr int CompressionDctIndex = CompressionIndexOf(pdfDct); // the window's default
inline constexpr int CompressionFlateIndex = CompressionIndexOf(pdfFlate);
inline constexpr int CompressionAutomaticIndex = CompressionIndexOf(pdfFlate, true);

// Width and height in PDF points, in the order the item text lists them.
struct TPaperItem {
    std::string_view Text;
    int Width;
    int Height;
};
inline constexpr int PaperFitIndex = 12;
// The page takes the picture's physical size, from its resolution.
inline constexpr int PaperImageSizeIndex = 13;
inline constexpr std::array<TPaperItem, 14> PaperItems{{
    {"A0       2380x3368", 2380, 3368},
    {"A1       1684x2380", 1684, 2380},
    {"A2       1190x1684", 1190, 1684},
    {"A3       842x1190", 842, 1190},
    {"A4       595x842", 595, 842},
    {"A5       421x595", 421, 595},
    {"A6       297x421", 297, 421},
    {"B5       501x709", 501, 709},
    {"Letter (8.5\"x11\")        612x792", 612, 792},
    {"Legal (8.5\"x14\")        612x1008", 612, 1008},
    {"Ledger (17\"x11\")      1224x792", 1224, 792},
    {"11\"x17\"                    792x1224", 792, 1224},
    {"Fit", 0, 0},
    {"Image size", 0, 0},
}};

// The fixed document information texts of the window.
inline constexpr std::string_view CreatorText = "Folianto v1.0 by Quorvant";
inline constexpr std::string_view ProducerText = "Pictora 2.1.6 by Tessalune";
