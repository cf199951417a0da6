#include "app/window/FileListRules.h"

#include "platform/net/WebAddress.h"

#include <QHash>

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

bool IsWebEntry(const QString& entry) {
    return IsWebAddress(std::string_view(entry.toStdString()));
}

QString EntryName(const QString& entry) {
    if (!IsWebEntry(entry)) return FileNameOf(entry);
    return QString::fromStdString(WebAddressDisplayName(entry.toStdString()));
}

QString DisplayEntry(int position, const QString& path) {
    return QString::number(position) + QStringLiteral(".  ") + EntryName(path);
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

TDropRefusal DropRefusal(const QString& path, bool isFolder) {
    if (IsWebEntry(path)) return TDropRefusal::None;
    // A folder is never an image, whatever its name ends in.
    if (isFolder) return TDropRefusal::Folder;
    return IsAcceptedDropFile(path) ? TDropRefusal::None : TDropRefusal::UnsupportedType;
}

QString NotAddedMessage(const std::vector<std::pair<QString, TDropRefusal>>& refused) {
    constexpr std::size_t named = 3;
    const auto reason = [](TDropRefusal r, bool alone) {
        switch (r) {
        case TDropRefusal::Folder:
            return alone ? QStringLiteral(" is a folder; drop the image files in it instead.")
                         : QStringLiteral(" (a folder)");
        case TDropRefusal::UnsupportedType:
            return alone ? QStringLiteral(" is not an image file of a supported type.")
                         : QStringLiteral(" (not a supported image type)");
        case TDropRefusal::None:
            break;
        }
        return QString();
    };
    std::vector<std::pair<QString, TDropRefusal>> shown;
    for (const auto& r : refused)
        if (r.second != TDropRefusal::None) shown.push_back(r);
    if (shown.empty()) return {};
    // A dropped folder may come with a trailing "/"; its own name is what the user knows.
    const auto name = [](QString path) {
        while (path.size() > 1 && path.endsWith(QLatin1Char('/'))) path.chop(1);
        return FileNameOf(path).isEmpty() ? path : FileNameOf(path);
    };
    QString text = QStringLiteral("Not added: ");
    if (shown.size() == 1) return text + name(shown[0].first) + reason(shown[0].second, true);
    for (std::size_t i = 0; i < shown.size() && i < named; ++i) {
        if (i > 0) text += QStringLiteral(", ");
        text += name(shown[i].first) + reason(shown[i].second, false);
    }
    if (shown.size() > named) text += QStringLiteral(" and %1 more").arg(shown.size() - named);
    return text + QLatin1Char('.');
}

std::vector<bool> RepeatedNames(const QStringList& paths) {
    QHash<QString, int> counts;
    for (const QString& p : paths) ++counts[EntryName(p)];
    std::vector<bool> repeated;
    repeated.reserve(paths.size());
    for (const QString& p : paths) repeated.push_back(counts.value(EntryName(p)) > 1);
    return repeated;
}

std::string OpenDialogFilter(bool allFiles) {
    std::string filter;
    for (const TFilterEntry& e : FilterEntries) {
        if (!filter.empty()) filter += '|';
        filter += e.Description;
        filter += '|';
        filter += e.Patterns;
    }
    if (allFiles) filter += "|All files (*)|*";
    return filter;
}
