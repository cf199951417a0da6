#include "app/window/FileListRules.h"

#include <array>

namespace {
struct TFilterEntry {
    const char* Description;
    const char* Patterns;
};
// The first entry's patterns end in ";", as they always have.
constexpr std::array<TFilterEntry, 15> FilterEntries{{
    {"Вся графика",
     "*.tif;*.tiff;*.fax;*.g3n;*.g3f;*.gif;*.jpg;*.jpeg;*.jpe;*.pcx;*.bmp;*.dib;*.rle;*.ico;*.png;"
     "*.wmf;*.emf;*.tga;*.targa;*.vda;*.icb;*.vst;*.pix;*.pxm;*.ppm;*.pgm;*.pbm;*.wbmp;*.jp2;*.j2k;"
     "*.jpc;*.j2c;"},
    {"TIFF Bitmap (TIF;TIFF;FAX;G3N;G3F)", "*.tif;*.tiff;*.fax;*.g3n;*.g3f"},
    {"CompuServe Bitmap (GIF)", "*.gif"},
    {"JPEG Bitmap (JPG;JPEG;JPE)", "*.jpg;*.jpeg;*.jpe"},
    {"PaintBrush (PCX)", "*.pcx"},
    {"Windows Bitmap (BMP;DIB;RLE)", "*.bmp;*.dib;*.rle"},
    {"Windows Icon (ICO)", "*.ico"},
    {"Portable Network Graphics (PNG)", "*.png"},
    {"Windows Metafile (WMF)", "*.wmf"},
    {"Enhanced Windows Metafile (EMF)", "*.emf"},
    {"Targa Bitmap (TGA;TARGA;VDA;ICB;VST;PIX)", "*.tga;*.targa;*.vda;*.icb;*.vst;*.pix"},
    {"Portable Pixmap, GrayMap, BitMap (PXM;PPM;PGM;PBM)", "*.pxm;*.ppm;*.pgm;*.pbm"},
    {"Wireless Bitmap (WBMP)", "*.wbmp"},
    {"JPEG2000 (JP2)", "*.jp2"},
    {"JPEG2000 Code Stream (J2K;JPC;J2C)", "*.j2k;*.jpc;*.j2c"},
}};
} // namespace

QString FileNameOf(const QString& path) {
    return path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
}

QString DisplayEntry(int position, const QString& path) {
    return QString::number(position) + QStringLiteral(".  ") + FileNameOf(path);
}

QString DropExtension(const QString& path) {
    const qsizetype dot = path.lastIndexOf(QLatin1Char('.'));
    if (dot < 0) return {};
    QString ext = path.mid(dot);
    for (QChar& c : ext)
        if (c >= QLatin1Char('A') && c <= QLatin1Char('Z')) c = QChar(c.unicode() + ('a' - 'A'));
    return ext;
}

bool IsAcceptedDropFile(const QString& path) {
    const QString ext = DropExtension(path);
    return !ext.isEmpty() && QLatin1String(AcceptedDropExtensions).contains(ext);
}

std::string OpenDialogFilter() {
    std::string filter;
    for (const TFilterEntry& e : FilterEntries) {
        if (!filter.empty()) filter += '|';
        filter += e.Description;
        filter += '|';
        filter += e.Patterns;
    }
    return filter;
}
