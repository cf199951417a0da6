#include "imaging/params/FormatTable.h"
#include "platform/Ascii.h"

#include <mutex>

namespace {
// Built-in formats are read by dedicated entry points: the marker only says that it can be done.
void ReadMarker(TStream&, TIEBitmap&, TIOParamsVals&, bool, TIEProgressRecord&) {}
void WriteMarker(TStream&, TIEBitmap&, TIOParamsVals&, TIEProgressRecord&) {}
bool DetectNothing(TStream&) {
    return false;
}

std::vector<TIEFileFormatInfo>& Table() {
    static std::vector<TIEFileFormatInfo> table = [] {
        struct Row {
            int id;
            const char* name;
            const char* ext;
            std::uint16_t page;
            bool read, write;
        };
        static const Row rows[] = {
            {1, "TIFF Bitmap", "TIF;TIFF;FAX;G3N;G3F", 8, true, true},
            {2, "CompuServe Bitmap", "GIF", 16, true, true},
            {3, "JPEG Bitmap", "JPG;JPEG;JPE", 4, true, true},
            {4, "PaintBrush", "PCX", 64, true, true},
            {5, "Windows Bitmap", "BMP;DIB;RLE", 32, true, true},
            {6, "Windows Icon", "ICO", 0, true, true},
            {7, "Windows Cursor", "CUR", 0, true, false},
            {8, "Portable Network Graphics", "PNG", 128, true, true},
            {9, "Windows Metafile", "WMF", 0, true, false},
            {10, "Enhanced Windows Metafile", "EMF", 0, true, false},
            {11, "Targa Bitmap", "TGA;TARGA;VDA;ICB;VST;PIX", 256, true, true},
            {12, "Portable Pixmap, GrayMap, BitMap", "PXM;PPM;PGM;PBM", 0, true, true},
            {16, "Wireless Bitmap", "WBMP", 0, true, true},
            {13, "JPEG2000", "JP2", 512, true, true},
            {14, "JPEG2000 Code Stream", "J2K;JPC;J2C", 512, true, true},
            {17, "PostScript Level 2", "PS;EPS", 0, false, true},
            {18, "Adobe PDF", "PDF", 0, false, true},
        };
        std::vector<TIEFileFormatInfo> t;
        for (const Row& r : rows) {
            TIEFileFormatInfo info;
            info.FileType = r.id;
            info.FullName = r.name;
            info.Extensions = r.ext;
            info.DialogPage = r.page;
            info.ReadFunction = r.read ? &ReadMarker : nullptr;
            info.WriteFunction = r.write ? &WriteMarker : nullptr;
            info.DetectFunction = &DetectNothing;
            t.push_back(info);
        }
        return t;
    }();
    return table;
}

} // namespace

const std::vector<TIEFileFormatInfo>& FileFormatTable() {
    return Table();
}

void RegisterFileFormat(const TIEFileFormatInfo& info) {
    TIEFileFormatInfo copy = info;
    copy.FullName = copy.FullName.substr(0, 80);
    copy.Extensions = AsciiUpper(copy.Extensions.substr(0, 80));
    Table().push_back(copy);
}

const TIEFileFormatInfo* FindFormatById(int id) {
    for (const auto& f : Table())
        if (f.FileType == id) return &f;
    return nullptr;
}

const TIEFileFormatInfo* FindFormatByExtension(const std::string& extension) {
    const std::string ext = AsciiUpper(extension);
    if (ext.empty()) return nullptr;
    for (const auto& f : Table()) {
        std::size_t start = 0;
        while (start <= f.Extensions.size()) {
            std::size_t end = f.Extensions.find(';', start);
            if (end == std::string::npos) end = f.Extensions.size();
            if (f.Extensions.compare(start, end - start, ext) == 0) return &f;
            start = end + 1;
        }
    }
    return nullptr;
}

std::string FirstExtension(const TIEFileFormatInfo& info) {
    return info.Extensions.substr(0, info.Extensions.find(';'));
}
