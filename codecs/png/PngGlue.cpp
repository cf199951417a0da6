#include "codecs/png/PngGlue.h"

#include "platform/ByteOrder.h"
#include "platform/Stream.h"

#include <csetjmp>
#include <cstring>

#include <png.h>
#include <zlib.h>

#include <algorithm>
#include <vector>

namespace {
// Zero bytes handed to libpng past the stream's end before the read is given up. libpng meets a
// checksum or chunk error long before this; the cap only guarantees that a read cannot go on forever.
constexpr std::uint64_t kMaxZerosPastEnd = 1 << 20;

png_structp PngOf(void* p) {
    return static_cast<png_structp>(p);
}
png_infop InfoOf(void* p) {
    return static_cast<png_infop>(p);
}
} // namespace

struct TPngCallbacks {
    static void Error(png_structp png, png_const_charp) {
        auto* self = static_cast<TPngDecoder*>(png_get_error_ptr(png));
        if (self && self->FAborting) *self->FAborting = true;
        png_longjmp(png, 1);
    }

    static void Warning(png_structp, png_const_charp) {}

    // A short read is completed with zeros, so libpng never sees undefined bytes; it then fails on
    // the chunk structure or checksum, after inflating what the real bytes hold.
    static void Read(png_structp png, png_bytep data, std::size_t length) {
        auto* self = static_cast<TPngDecoder*>(png_get_io_ptr(png));
        std::int64_t got = 0;
        bool failed = false;
        try {
            got = self->FStream.Read(data, static_cast<std::int64_t>(length));
        } catch (...) {
            self->FPending = std::current_exception();
            failed = true;
        }
        if (failed) png_error(png, "stream error");
        if (got < 0) got = 0;
        const std::size_t have =
            static_cast<std::size_t>(got) < length ? static_cast<std::size_t>(got) : length;
        if (have < length) {
            // Checked before the fill: one request may ask for a whole chunk of gigabytes.
            self->FZerosSupplied += length - have;
            if (self->FZerosSupplied > kMaxZerosPastEnd) png_error(png, "read past the end");
            std::memset(data + have, 0, length - have);
        }
    }
};

TPngDecoder::TPngDecoder(TStream& Stream, bool* Aborting) : FStream(Stream), FAborting(Aborting) {}

TPngDecoder::~TPngDecoder() {
    if (!FPng) return;
    png_structp png = PngOf(FPng);
    png_infop info = InfoOf(FInfo);
    png_destroy_read_struct(&png, info ? &info : nullptr, nullptr);
}

bool TPngDecoder::Create() {
    png_structp png =
        png_create_read_struct(PNG_LIBPNG_VER_STRING, this, TPngCallbacks::Error, TPngCallbacks::Warning);
    if (!png) return false;
    png_infop info = png_create_info_struct(png);
    if (!info) {
        png_destroy_read_struct(&png, nullptr, nullptr);
        return false;
    }
    FPng = png;
    FInfo = info;
    png_set_read_fn(png, this, TPngCallbacks::Read);
    // Only the chunks the reader uses are parsed; text, profiles and the rest are skipped unread.
    // libpng buffers a text chunk whole before checking it, so a hostile length would otherwise
    // take gigabytes before the stream turns out to be shorter.
    static const png_byte kParsed[] = "bKGD\0pHYs\0gAMA\0sRGB";
    png_set_keep_unknown_chunks(png, PNG_HANDLE_CHUNK_NEVER, nullptr, -1);
    png_set_keep_unknown_chunks(png, PNG_HANDLE_CHUNK_AS_DEFAULT, kParsed, 4);
    return true;
}

void TPngDecoder::RethrowPending() {
    if (FPending) {
        std::exception_ptr e = FPending;
        FPending = nullptr;
        std::rethrow_exception(e);
    }
}

// Runs one libpng call under the error jump. Nothing with a destructor lives between the setjmp
// and the call, so the jump skips no C++ cleanup.
template <typename F> bool TPngDecoder::Call(F& f) {
    png_structp png = PngOf(FPng);
    png_infop info = InfoOf(FInfo);
    if (!png || !info) return false;
    if (setjmp(png_jmpbuf(png))) {
        RethrowPending();
        return false;
    }
    f(png, info);
    return true;
}

bool TPngDecoder::ReadInfo() {
    auto f = [](png_structp png, png_infop info) { png_read_info(png, info); };
    return Call(f);
}

bool TPngDecoder::Header(TPngHeader& Header) {
    auto f = [&Header](png_structp png, png_infop info) {
        png_uint_32 w = 0, h = 0;
        int depth = 0, colorType = 0, interlace = 0, compression = 0, filter = 0;
        png_get_IHDR(png, info, &w, &h, &depth, &colorType, &interlace, &compression, &filter);
        Header.Width = w;
        Header.Height = h;
        Header.BitDepth = depth;
        Header.ColorType = colorType;
        Header.Interlace = interlace;
    };
    return Call(f);
}

bool TPngDecoder::FileBackground(TPngColor16& Color) const {
    png_color_16p bg = nullptr;
    if (!png_get_bKGD(PngOf(FPng), InfoOf(FInfo), &bg) || !bg) return false;
    Color.Index = bg->index;
    Color.Red = bg->red;
    Color.Green = bg->green;
    Color.Blue = bg->blue;
    Color.Gray = bg->gray;
    return true;
}

std::uint32_t TPngDecoder::XPixelsPerMetre() const {
    return png_get_x_pixels_per_meter(PngOf(FPng), InfoOf(FInfo));
}

std::uint32_t TPngDecoder::YPixelsPerMetre() const {
    return png_get_y_pixels_per_meter(PngOf(FPng), InfoOf(FInfo));
}

int TPngDecoder::Palette(TPngPaletteEntry* Entries) const {
    png_colorp palette = nullptr;
    int count = 0;
    if (!png_get_PLTE(PngOf(FPng), InfoOf(FInfo), &palette, &count) || !palette || count <= 0) return 0;
    if (count > 256) count = 256;
    for (int i = 0; i < count; ++i) Entries[i] = {palette[i].red, palette[i].green, palette[i].blue};
    return count;
}

bool TPngDecoder::SetBackground(const TPngColor16& Color, TPngBackgroundGamma GammaCode, bool NeedExpand,
                                double BackgroundGamma) {
    png_color_16 c{};
    c.index = Color.Index;
    c.red = Color.Red;
    c.green = Color.Green;
    c.blue = Color.Blue;
    c.gray = Color.Gray;
    auto f = [&](png_structp png, png_infop) {
        png_set_background(png, &c,
                           GammaCode == pbgFile ? PNG_BACKGROUND_GAMMA_FILE : PNG_BACKGROUND_GAMMA_SCREEN,
                           NeedExpand ? 1 : 0, BackgroundGamma);
    };
    return Call(f);
}

bool TPngDecoder::SetExpand() {
    auto f = [](png_structp png, png_infop) { png_set_expand(png); };
    return Call(f);
}

bool TPngDecoder::SetStrip16() {
    auto f = [](png_structp png, png_infop) { png_set_strip_16(png); };
    return Call(f);
}

bool TPngDecoder::SetPacking() {
    auto f = [](png_structp png, png_infop) { png_set_packing(png); };
    return Call(f);
}

bool TPngDecoder::SetGrayToRgb() {
    auto f = [](png_structp png, png_infop) { png_set_gray_to_rgb(png); };
    return Call(f);
}

bool TPngDecoder::SetBgr() {
    auto f = [](png_structp png, png_infop) { png_set_bgr(png); };
    return Call(f);
}

int TPngDecoder::SetInterlaceHandling() {
    int passes = 0;
    auto f = [&passes](png_structp png, png_infop) { passes = png_set_interlace_handling(png); };
    return Call(f) ? passes : 0;
}

bool TPngDecoder::UpdateInfo() {
    auto f = [](png_structp png, png_infop info) { png_read_update_info(png, info); };
    return Call(f);
}

int TPngDecoder::Channels() const {
    return png_get_channels(PngOf(FPng), InfoOf(FInfo));
}

std::uint64_t TPngDecoder::RowBytes() const {
    return png_get_rowbytes(PngOf(FPng), InfoOf(FInfo));
}

int TPngDecoder::OutputBitDepth() const {
    return png_get_bit_depth(PngOf(FPng), InfoOf(FInfo));
}

bool TPngDecoder::ReadRow(std::uint8_t* Row) {
    auto f = [Row](png_structp png, png_infop) { png_read_row(png, Row, nullptr); };
    return Call(f);
}

bool TPngDecoder::ReadEnd() {
    auto f = [](png_structp png, png_infop info) { png_read_end(png, info); };
    return Call(f);
}

namespace {

// The contents of the IDAT chunks that follow the signature at Start, up to the stream's end.
std::vector<std::uint8_t> ImageData(TStream& Stream, std::int64_t Start) {
    constexpr std::uint32_t kIdat = 0x49444154, kIend = 0x49454E44;
    std::vector<std::uint8_t> data;
    Stream.SetPosition(Start + 8);
    for (;;) {
        std::uint8_t head[8];
        if (Stream.Read(head, 8) != 8) break;
        const std::uint32_t length = ReadBe32(head), type = ReadBe32(head + 4);
        if (type == kIend) break;
        const std::int64_t present =
            std::min<std::int64_t>(length, std::max<std::int64_t>(0, Stream.Remaining()));
        if (type == kIdat) {
            const std::size_t old = data.size();
            data.resize(old + std::size_t(present));
            const std::int64_t got = std::max<std::int64_t>(0, Stream.Read(data.data() + old, present));
            data.resize(old + std::size_t(got));
            if (got < length) break;
        } else if (present < length) {
            break;
        } else {
            Stream.Seek(length, TSeekOrigin::soCurrent);
        }
        Stream.Seek(4, TSeekOrigin::soCurrent); // the checksum
    }
    return data;
}
} // namespace

std::int64_t InflatedImageBytes(TStream& Stream, std::int64_t Start, std::int64_t Limit) {
    const std::int64_t position = Stream.Position();
    std::vector<std::uint8_t> data;
    try {
        data = ImageData(Stream, Start);
    } catch (...) {
        Stream.SetPosition(position);
        throw;
    }
    Stream.SetPosition(position);
    z_stream z{};
    if (inflateInit(&z) != Z_OK) return 0;
    std::vector<std::uint8_t> out(65536);
    std::int64_t total = 0;
    z.next_in = data.data();
    z.avail_in = static_cast<uInt>(std::min<std::size_t>(data.size(), UINT32_MAX));
    while (total < Limit) {
        z.next_out = out.data();
        z.avail_out = static_cast<uInt>(out.size());
        const int r = inflate(&z, Z_SYNC_FLUSH);
        total += std::int64_t(out.size() - z.avail_out);
        if (r != Z_OK || z.avail_out != 0) break; // the end, an error, or the input used up
    }
    inflateEnd(&z);
    return std::min(total, Limit);
}
