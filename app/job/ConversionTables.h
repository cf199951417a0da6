#pragma once
// The window's compression and paper lists: item texts and what each item means.
#include <array>
#include <string_view>

struct TCompressionItem {
    std::string_view Text;
    int PdfCompression;
    // Pages whose file data a PDF reads as it is keep that data; the others take PdfCompression.
    bool KeepOriginalData = false;
};
inline constexpr int CompressionFlateIndex = 5;
inline constexpr int CompressionAutomaticIndex = 6;
inline constexpr std::array<TCompressionItem, 7> CompressionItems{{
    {"No compression", 0},
    {"Run length compression", 1},
    {"G4Fax (only black/white images)", 2},
    {"G3Fax (only black/white images)", 3},
    {"DCT-jpeg (only color images)", 4},
    {"Flate (lossless)", 5},
    {"Automatic (keep original data)", 5, true},
}};

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
