#include "shell/browser/ShellFileInfo.h"

#include "imaging/bitmap/IEBitmap.h"
#include "imaging/io/PictoraIO.h"
#include "imaging/params/FormatIds.h"

#include <QFile>
#include <QImageReader>
#include <QImageWriter>

#include <gio/gio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

namespace {

template <typename T> struct TGObjectDeleter {
    void operator()(T* p) const { g_object_unref(p); }
};
template <typename T> using TGObject = std::unique_ptr<T, TGObjectDeleter<T>>;
struct TGFreeDeleter {
    void operator()(void* p) const { g_free(p); }
};
using TGString = std::unique_ptr<char, TGFreeDeleter>;

std::string Text(const TGString& s) {
    return s ? std::string(s.get()) : std::string();
}

QString FileName(const std::string& path) {
    return QFile::decodeName(QByteArray::fromStdString(path));
}

void AddImageLines(const std::string& path, std::vector<std::string>& lines) {
    InstallDefaultDecoders();
    TPictoraIO io;
    io.ReadParamsFromFile(path); // header only; never raises
    const TIOParamsVals& p = io.Params();
    if (p.FileFormat == 0 || p.ImageWidth <= 0 || p.ImageHeight <= 0) return;
    lines.push_back("Dimensions: " + std::to_string(p.ImageWidth) + " x " + std::to_string(p.ImageHeight));
    if (p.HorizontalDpi > 0 && p.VerticalDpi > 0)
        lines.push_back("Resolution: " + std::to_string(p.HorizontalDpi) + " x " +
                        std::to_string(p.VerticalDpi) + " dpi");
    const int frames = p.FileFormat == ioTIFF  ? p.TiffFrameCount
                       : p.FileFormat == ioGIF ? p.GifFrameCount
                                               : 0;
    if (frames > 1) lines.push_back("Frames: " + std::to_string(frames));
}

const char* BucketName(int size) {
    switch (size) {
    case 128:
        return "normal";
    case 256:
        return "large";
    case 512:
        return "x-large";
    default:
        return "xx-large";
    }
}

bool StatFile(const std::string& path, struct stat& st) {
    return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// One pixel of a row as 0xAARRGGBB with full alpha.
QRgb PixelOf(TIEBitmap& bitmap, TIEPixelFormat type, const std::uint8_t* row, int x) {
    switch (type) {
    case ie1Bit:
        return (row[x >> 3] >> (7 - (x & 7))) & 1 ? qRgb(255, 255, 255) : qRgb(0, 0, 0);
    case ie8Palette: {
        const TIERgbTriple t = bitmap.PaletteEntry(row[x]); // black outside the palette
        return qRgb(t.r, t.g, t.b);
    }
    case ie8Gray:
        return qRgb(row[x], row[x], row[x]);
    case ie16Gray: {
        const std::uint8_t v = row[2 * std::size_t(x) + 1]; // little-endian: the high byte
        return qRgb(v, v, v);
    }
    case ie24Rgb: {
        const std::uint8_t* p = row + 3 * std::size_t(x);
        return qRgb(p[2], p[1], p[0]);
    }
    case ie32f: {
        float f = 0;
        std::memcpy(&f, row + 4 * std::size_t(x), sizeof f);
        const int v = std::isfinite(f) ? int(std::lround(std::clamp(f, 0.0f, 1.0f) * 255.0f)) : 0;
        return qRgb(v, v, v);
    }
    default:
        return qRgb(255, 255, 255);
    }
}

} // namespace

std::string FileInfoTip(const std::string& path) {
    if (path.empty()) return {};
    TGObject<GFile> file(g_file_new_for_path(path.c_str()));
    TGObject<GFileInfo> info(g_file_query_info(
        file.get(),
        G_FILE_ATTRIBUTE_STANDARD_TYPE "," G_FILE_ATTRIBUTE_STANDARD_CONTENT_TYPE
                                       "," G_FILE_ATTRIBUTE_STANDARD_SIZE "," G_FILE_ATTRIBUTE_TIME_MODIFIED,
        G_FILE_QUERY_INFO_NONE, nullptr, nullptr));
    if (!info) return {};
    std::vector<std::string> lines;
    const char* contentType = g_file_info_get_content_type(info.get());
    const TGString description(contentType ? g_content_type_get_description(contentType) : nullptr);
    if (description) lines.push_back("Type: " + Text(description));
    const bool regular = g_file_info_get_file_type(info.get()) == G_FILE_TYPE_REGULAR;
    if (regular) {
        AddImageLines(path, lines);
        const TGString size(g_format_size(guint64(std::max<goffset>(0, g_file_info_get_size(info.get())))));
        lines.push_back("Size: " + Text(size));
    }
    if (g_file_info_has_attribute(info.get(), G_FILE_ATTRIBUTE_TIME_MODIFIED)) {
        const guint64 seconds = g_file_info_get_attribute_uint64(info.get(), G_FILE_ATTRIBUTE_TIME_MODIFIED);
        if (seconds <= guint64(G_MAXINT64)) {
            GDateTime* local = g_date_time_new_from_unix_local(gint64(seconds));
            if (local) {
                const TGString when(g_date_time_format(local, "%Y-%m-%d %H:%M"));
                g_date_time_unref(local);
                if (when) lines.push_back("Modified: " + Text(when));
            }
        }
    }
    std::string tip;
    for (const std::string& line : lines) tip += (tip.empty() ? "" : "\n") + line;
    return tip;
}

std::string ThumbnailFileUri(const std::string& path) {
    const TGString uri(g_filename_to_uri(path.c_str(), nullptr, nullptr));
    return Text(uri);
}

std::string ThumbnailCacheFolder() {
    // Read afresh each time: GLib caches its own answer for the process's whole life.
    const char* cache = std::getenv("XDG_CACHE_HOME");
    if (cache && cache[0] == '/') return std::string(cache) + "/thumbnails";
    const char* home = std::getenv("HOME");
    const std::string base = home && home[0] == '/' ? std::string(home) : std::string(g_get_home_dir());
    return base + "/.cache/thumbnails";
}

int ThumbnailBucketSize(int width, int height) {
    const int edge = std::max(width, height);
    for (int size : {128, 256, 512}) {
        if (edge <= size) return size;
    }
    return 1024;
}

std::string ThumbnailCacheFile(const std::string& path, int bucketSize) {
    const std::string uri = ThumbnailFileUri(path);
    if (uri.empty()) return {};
    const TGString md5(g_compute_checksum_for_string(G_CHECKSUM_MD5, uri.c_str(), -1));
    return ThumbnailCacheFolder() + "/" + BucketName(bucketSize) + "/" + Text(md5) + ".png";
}

QImage ReadCachedThumbnail(const std::string& path, int bucketSize) {
    struct stat st {};
    if (!StatFile(path, st)) return {};
    const std::string cached = ThumbnailCacheFile(path, bucketSize);
    if (cached.empty()) return {};
    QImageReader reader(FileName(cached), "png");
    reader.setDecideFormatFromContent(false);
    const QSize size = reader.size();
    // Someone else's file: refuse anything larger than its bucket before decoding it.
    if (!size.isValid() || size.isEmpty() || size.width() > bucketSize || size.height() > bucketSize)
        return {};
    QImage image = reader.read();
    if (image.isNull()) return {};
    bool ok = false;
    const qlonglong mtime = image.text("Thumb::MTime").trimmed().toLongLong(&ok);
    if (!ok || mtime != qlonglong(st.st_mtime)) return {};
    if (image.text("Thumb::URI").toStdString() != ThumbnailFileUri(path)) return {};
    return image;
}

QImage MakeThumbnail(const std::string& path, int bucketSize) {
    struct stat st {};
    if (!StatFile(path, st) || bucketSize <= 0) return {};
    InstallDefaultDecoders();
    try {
        TPictoraIO io;
        // JPEG decodes at the smallest scale that still covers the bucket.
        io.Params().JpegScale = 0;
        io.Params().ImageWidth = bucketSize;
        io.Params().ImageHeight = bucketSize;
        io.LoadFromFile(path);
        if (io.Aborting || !io.IEBitmap()) return {}; // never a thumbnail of a half-read file
        QImage image = BitmapToImage(*io.IEBitmap(), bucketSize);
        if (!image.isNull() && (image.width() > bucketSize || image.height() > bucketSize))
            image = image.scaled(bucketSize, bucketSize, Qt::KeepAspectRatio, Qt::SmoothTransformation);
        return image;
    } catch (const std::exception&) {
        return {};
    }
}

QImage FileThumbnail(const std::string& path, int width, int height, const std::atomic<bool>* cancelled) {
    const auto stop = [cancelled] { return cancelled && cancelled->load(); };
    if (width <= 0 || height <= 0) width = height = 64;
    struct stat st {};
    if (stop() || !StatFile(path, st)) return {};
    const int bucket = ThumbnailBucketSize(width, height);
    QImage image = ReadCachedThumbnail(path, bucket);
    if (image.isNull()) {
        image = MakeThumbnail(path, bucket);
        if (image.isNull() || stop()) return {};
        WriteCachedThumbnail(path, image, bucket);
    }
    if (image.width() > width || image.height() > height)
        image = image.scaled(width, height, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    return image;
}

bool WriteCachedThumbnail(const std::string& path, const QImage& thumbnail, int bucketSize) {
    struct stat st {};
    if (thumbnail.isNull() || !StatFile(path, st)) return false;
    const std::string folder = ThumbnailCacheFolder();
    if (path.compare(0, folder.size() + 1, folder + "/") == 0) return false;
    const std::string target = ThumbnailCacheFile(path, bucketSize);
    if (target.empty()) return false;
    const std::string dir = folder + "/" + BucketName(bucketSize);
    if (g_mkdir_with_parents(dir.c_str(), 0700) != 0) return false;

    std::string temp = target + ".XXXXXX";
    const int fd = ::mkstemp(temp.data());
    if (fd < 0) return false;
    ::fchmod(fd, 0600);
    QImage image = thumbnail;
    image.setText("Thumb::URI", QString::fromStdString(ThumbnailFileUri(path)));
    image.setText("Thumb::MTime", QString::number(qlonglong(st.st_mtime)));
    image.setText("Thumb::Size", QString::number(qlonglong(st.st_size)));
    image.setText("Software", "Folianto");
    bool ok = false;
    {
        QFile out;
        if (out.open(fd, QIODevice::WriteOnly, QFileDevice::AutoCloseHandle)) {
            QImageWriter writer(&out, "png");
            ok = writer.write(image) && out.flush();
            out.close();
            ok = ok && out.error() == QFileDevice::NoError;
        } else {
            ::close(fd);
        }
    }
    if (ok) ok = ::rename(temp.c_str(), target.c_str()) == 0;
    if (!ok) ::unlink(temp.c_str());
    return ok;
}

QImage BitmapToImage(TIEBitmap& bitmap, int maxEdge) {
    const std::int64_t width = bitmap.Width(), height = bitmap.Height();
    if (width <= 0 || height <= 0) return {};
    const std::int64_t limit = 2 * std::int64_t(std::max(maxEdge, 1));
    const std::int64_t step =
        std::max<std::int64_t>({1, (width + limit - 1) / limit, (height + limit - 1) / limit});
    const int outW = int((width + step - 1) / step), outH = int((height + step - 1) / step);
    const bool alpha = bitmap.HasAlphaPlane() && bitmap.AlphaPlane()->Width() == width &&
                       bitmap.AlphaPlane()->Height() == height;
    QImage image(outW, outH, alpha ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    if (image.isNull()) return {};
    const TIEPixelFormat type = bitmap.PixelType();
    for (int oy = 0; oy < outH; ++oy) {
        const int y = int(std::int64_t(oy) * step);
        auto* out = reinterpret_cast<QRgb*>(image.scanLine(oy));
        const std::uint8_t* row = bitmap.RowPointer(y);
        for (int ox = 0; ox < outW; ++ox)
            out[ox] = row ? PixelOf(bitmap, type, row, int(std::int64_t(ox) * step)) : qRgb(255, 255, 255);
        if (!alpha) continue;
        const std::uint8_t* a = bitmap.AlphaPlane()->RowPointer(y);
        for (int ox = 0; ox < outW; ++ox) {
            const int v = a ? a[std::int64_t(ox) * step] : 255;
            out[ox] = qRgba(qRed(out[ox]), qGreen(out[ox]), qBlue(out[ox]), v);
        }
    }
    return image;
}
