#include "codecs/jpeg2000/J2kImage.h"

#include "imaging/params/ReadBudget.h"
#include "imaging/params/ReadFailures.h"
#include "platform/ByteOrder.h"
#include "platform/Stream.h"

#include <algorithm>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include <openjpeg.h>

std::uint64_t J2kMaxDecodedBytes = 0;

namespace {

constexpr std::uint8_t kJp2Signature[12] = {0x00, 0x00, 0x00, 0x0C, 0x6A, 0x50,
                                            0x20, 0x20, 0x0D, 0x0A, 0x87, 0x0A};
constexpr std::uint8_t kJ2kStart[4] = {0xFF, 0x4F, 0xFF, 0x51};

// The platform stream as OpenJPEG sees it: positions count from where the image starts.
struct TStreamSource {
    TStream& Stream;
    std::int64_t Start = 0;
    std::int64_t Length = 0;
    bool Ended = false; // the library asked for bytes past the end
};

OPJ_SIZE_T ReadSource(void* buffer, OPJ_SIZE_T count, void* user) {
    auto* src = static_cast<TStreamSource*>(user);
    try {
        const std::int64_t left = src->Length - (src->Stream.Position() - src->Start);
        const std::int64_t want =
            std::min<std::int64_t>(left, static_cast<std::int64_t>(std::min<OPJ_SIZE_T>(count, 1u << 30)));
        if (left <= 0 && count > 0) src->Ended = true;
        const std::int64_t got = want > 0 ? src->Stream.Read(buffer, want) : 0;
        return got > 0 ? static_cast<OPJ_SIZE_T>(got) : static_cast<OPJ_SIZE_T>(-1);
    } catch (...) { // no C++ exception may cross the library's C frames
        return static_cast<OPJ_SIZE_T>(-1);
    }
}

OPJ_OFF_T SkipSource(OPJ_OFF_T count, void* user) {
    auto* src = static_cast<TStreamSource*>(user);
    try {
        const std::int64_t here = src->Stream.Position() - src->Start;
        std::int64_t target = here;
        if (count > 0)
            target = count > src->Length - here ? src->Length : here + count;
        else if (count < 0)
            target = -count > here ? 0 : here + count;
        src->Stream.SetPosition(src->Start + target);
        if (count != 0 && target == here) return -1;
        return static_cast<OPJ_OFF_T>(target - here);
    } catch (...) {
        return -1;
    }
}

OPJ_BOOL SeekSource(OPJ_OFF_T position, void* user) {
    auto* src = static_cast<TStreamSource*>(user);
    if (position < 0 || position > src->Length) return OPJ_FALSE;
    try {
        src->Stream.SetPosition(src->Start + position);
        return OPJ_TRUE;
    } catch (...) {
        return OPJ_FALSE;
    }
}

void DropMessage(const char*, void*) {}

struct TStreamOwner {
    opj_stream_t* P = nullptr;
    ~TStreamOwner() {
        if (P) opj_stream_destroy(P);
    }
};
struct TCodecOwner {
    opj_codec_t* P = nullptr;
    ~TCodecOwner() {
        if (P) opj_destroy_codec(P);
    }
};

// Reads the header of the box at the stream position inside [.., end): type and the offset of the
// box's end. False when no well-formed box header fits.
bool ReadBoxHeader(TStream& s, std::int64_t end, std::uint32_t& type, std::int64_t& contentStart,
                   std::int64_t& boxEnd) {
    const std::int64_t at = s.Position();
    std::uint8_t h[16];
    if (end - at < 8 || s.Read(h, 8) != 8) return false;
    std::uint64_t length = ReadBe32(h);
    type = ReadBe32(h + 4);
    contentStart = at + 8;
    if (length == 1) {
        if (end - at < 16 || s.Read(h + 8, 8) != 8) return false;
        length = (std::uint64_t(ReadBe32(h + 8)) << 32) | ReadBe32(h + 12);
        contentStart = at + 16;
        if (length < 16) return false;
    } else if (length == 0) {
        length = static_cast<std::uint64_t>(end - at);
    } else if (length < 8) {
        return false;
    }
    if (length > static_cast<std::uint64_t>(end - at)) length = static_cast<std::uint64_t>(end - at);
    boxEnd = at + static_cast<std::int64_t>(length);
    return true;
}

// Number of channels a JP2 palette box creates (0 without one). OpenJPEG expands the palette
// after decoding, so the sample budget has to know it beforehand.
int PaletteChannels(TStream& s, std::int64_t start, std::int64_t length) {
    constexpr std::uint32_t kJp2h = 0x6A703268, kPclr = 0x70636C72;
    const std::int64_t end = start + length;
    s.SetPosition(start);
    for (int i = 0; i < 256; ++i) {
        std::uint32_t type = 0;
        std::int64_t content = 0, boxEnd = 0;
        if (!ReadBoxHeader(s, end, type, content, boxEnd)) return 0;
        if (type == kJp2h) {
            for (int j = 0; j < 256; ++j) {
                std::uint32_t sub = 0;
                std::int64_t subContent = 0, subEnd = 0;
                if (!ReadBoxHeader(s, boxEnd, sub, subContent, subEnd)) return 0;
                if (sub == kPclr) {
                    std::uint8_t p[3];
                    if (subEnd - subContent < 3 || s.Read(p, 3) != 3) return 0;
                    return p[2];
                }
                s.SetPosition(subEnd);
            }
            return 0;
        }
        s.SetPosition(boxEnd);
    }
    return 0;
}

std::uint64_t CeilDiv(std::uint64_t a, std::uint64_t b) {
    return (a + b - 1) / b;
}

// The code stream: a JP2 file's contiguous code stream box, or the whole stream. False when a JP2
// file has none.
bool FindCodeStream(TStream& s, std::int64_t start, std::int64_t length, bool jp2, std::int64_t& csStart,
                    std::int64_t& csLength) {
    constexpr std::uint32_t kJp2c = 0x6A703263;
    if (!jp2) {
        csStart = start;
        csLength = length;
        return true;
    }
    const std::int64_t end = start + length;
    s.SetPosition(start);
    for (int i = 0; i < 256; ++i) {
        std::uint32_t type = 0;
        std::int64_t content = 0, boxEnd = 0;
        if (!ReadBoxHeader(s, end, type, content, boxEnd)) return false;
        if (type == kJp2c) {
            csStart = content;
            csLength = boxEnd - content;
            return true;
        }
        s.SetPosition(boxEnd);
    }
    return false;
}

// What the image and tile size marker (SIZ) of a code stream declares, read before the library sees
// the stream: OpenJPEG sets up every tile and component while it reads the main header.
struct TSizHeader {
    std::uint64_t X1 = 0, Y1 = 0, X0 = 0, Y0 = 0, TileW = 0, TileH = 0, TileX0 = 0, TileY0 = 0;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> Steps; // per component: dx, dy

    std::uint64_t Tiles() const { return CeilDiv(X1 - TileX0, TileW) * CeilDiv(Y1 - TileY0, TileH); }
    std::uint64_t Samples() const {
        std::uint64_t n = 0;
        for (const auto& [dx, dy] : Steps)
            n += (CeilDiv(X1, dx) - CeilDiv(X0, dx)) * (CeilDiv(Y1, dy) - CeilDiv(Y0, dy));
        return n;
    }
};

bool ReadSiz(TStream& s, std::int64_t csStart, std::int64_t csLength, TSizHeader& h) {
    s.SetPosition(csStart);
    std::uint8_t b[42];
    if (csLength < 42 || s.Read(b, 42) != 42) return false;
    if (ReadBe16(b) != 0xFF4F || ReadBe16(b + 2) != 0xFF51) return false;
    h.X1 = ReadBe32(b + 8);
    h.Y1 = ReadBe32(b + 12);
    h.X0 = ReadBe32(b + 16);
    h.Y0 = ReadBe32(b + 20);
    h.TileW = ReadBe32(b + 24);
    h.TileH = ReadBe32(b + 28);
    h.TileX0 = ReadBe32(b + 32);
    h.TileY0 = ReadBe32(b + 36);
    const int comps = ReadBe16(b + 40);
    if (h.X1 <= h.X0 || h.Y1 <= h.Y0 || h.TileW == 0 || h.TileH == 0 || h.TileX0 > h.X0 || h.TileY0 > h.Y0 ||
        h.TileX0 + h.TileW <= h.X0 || h.TileY0 + h.TileH <= h.Y0 || comps == 0 || comps > 16384)
        return false;
    for (int k = 0; k < comps; ++k) {
        std::uint8_t c[3];
        if (s.Read(c, 3) != 3 || c[1] == 0 || c[2] == 0) return false;
        h.Steps.emplace_back(c[1], c[2]);
    }
    return true;
}

// Checks what the main header declares against what the code stream can hold, before the library
// allocates for it: each tile needs a tile-part (a start of tile and a start of data marker, and a
// byte of packets per component) and the samples can be coded no denser than kSamplesPerByte.
std::string CheckDeclaredSize(TStream& s, std::int64_t start, std::int64_t length, bool jp2) {
    std::int64_t csStart = 0, csLength = 0;
    TSizHeader h;
    if (!FindCodeStream(s, start, length, jp2, csStart, csLength)) return "no code stream in the file";
    if (!ReadSiz(s, csStart, csLength, h)) return "damaged code stream header";
    constexpr std::uint64_t kTilePartBytes = 14, kTileComponentBytes = 2048, kSamplesPerByte = 1024;
    const std::uint64_t tiles = h.Tiles(), comps = h.Steps.size();
    const std::uint64_t cap = std::uint64_t(1) << 40;
    if (tiles > cap / (comps * kTileComponentBytes)) return std::string(reasons::kLargerThanFile);
    const std::uint64_t samples = h.Samples();
    if (samples > cap || (h.X1 - h.X0) * (h.Y1 - h.Y0) > cap) return std::string(reasons::kLargerThanFile);
    const std::uint64_t tileBytes = tiles * comps * kTileComponentBytes;
    if (!StreamCanHold(std::int64_t(tileBytes), std::int64_t(tiles * (kTilePartBytes + comps)), csLength))
        return std::string(reasons::kLargerThanFile);
    const std::uint64_t imageBytes = samples * sizeof(OPJ_INT32) + (h.X1 - h.X0) * (h.Y1 - h.Y0) * 3;
    if (!StreamCanHold(std::int64_t(imageBytes), std::int64_t(samples / kSamplesPerByte), csLength))
        return std::string(reasons::kLargerThanFile);
    return {};
}

// Checks the header's geometry as the library reads it, and that the decoded samples (plus a 24-bit
// bitmap) fit an explicit cap when one is set.
bool HeaderIsAcceptable(const opj_image_t& img, int paletteChannels) {
    if (img.x1 <= img.x0 || img.y1 <= img.y0 || img.numcomps == 0 || !img.comps) return false;
    const std::uint64_t w = img.x1 - img.x0, h = img.y1 - img.y0;
    if (w > std::uint64_t(std::numeric_limits<std::int32_t>::max()) ||
        h > std::uint64_t(std::numeric_limits<std::int32_t>::max()))
        return false;
    std::uint64_t samples = 0, largest = 0;
    for (OPJ_UINT32 k = 0; k < img.numcomps; ++k) {
        const opj_image_comp_t& c = img.comps[k];
        if (c.dx == 0 || c.dy == 0 || c.prec == 0 || c.prec > 31) return false;
        const std::uint64_t cw = CeilDiv(img.x1, c.dx) - CeilDiv(img.x0, c.dx);
        const std::uint64_t ch = CeilDiv(img.y1, c.dy) - CeilDiv(img.y0, c.dy);
        if (cw == 0 || ch == 0) return false;
        if (cw > (std::uint64_t(1) << 40) / ch) return false; // no overflow below
        const std::uint64_t n = cw * ch;
        samples += n;
        largest = std::max(largest, n);
        if (samples > (std::uint64_t(1) << 42)) return false;
    }
    samples += std::uint64_t(paletteChannels) * largest;
    const std::uint64_t bytes = samples * sizeof(OPJ_INT32) + w * h * 3;
    return J2kMaxDecodedBytes == 0 || bytes <= J2kMaxDecodedBytes;
}

} // namespace

TJ2kImage::~TJ2kImage() {
    Release();
}

void TJ2kImage::Release() {
    if (FImage) opj_image_destroy(FImage);
    FImage = nullptr;
    FData.clear();
    FStride.clear();
}

bool TJ2kImage::DecodeFrom(TStream& Stream, std::int64_t start, std::int64_t length, bool jp2,
                           int paletteChannels) {
    Release();
    TStreamSource source{Stream, start, length};
    TStreamOwner stream;
    stream.P = opj_stream_create(OPJ_J2K_STREAM_CHUNK_SIZE, OPJ_TRUE);
    if (!stream.P) return false;
    opj_stream_set_user_data(stream.P, &source, nullptr);
    opj_stream_set_user_data_length(stream.P, static_cast<OPJ_UINT64>(length));
    opj_stream_set_read_function(stream.P, ReadSource);
    opj_stream_set_skip_function(stream.P, SkipSource);
    opj_stream_set_seek_function(stream.P, SeekSource);

    TCodecOwner codec;
    codec.P = opj_create_decompress(jp2 ? OPJ_CODEC_JP2 : OPJ_CODEC_J2K);
    if (!codec.P) return false;
    opj_set_info_handler(codec.P, DropMessage, nullptr);
    opj_set_warning_handler(codec.P, DropMessage, nullptr);
    opj_set_error_handler(codec.P, DropMessage, nullptr);
    opj_dparameters_t parameters;
    opj_set_default_decoder_parameters(&parameters);
    if (!opj_setup_decoder(codec.P, &parameters)) return false;

    opj_image_t* image = nullptr;
    const bool header = opj_read_header(stream.P, codec.P, &image);
    FImage = image;
    if (!header || !FImage) {
        FRefusal = source.Ended ? std::string(reasons::kNoRowData) : "damaged code stream header";
        Release();
        return false;
    }
    if (!HeaderIsAcceptable(*FImage, paletteChannels)) {
        FRefusal = reasons::kLargerThanFile;
        Release();
        return false;
    }
    if (!opj_decode(codec.P, stream.P, FImage)) {
        // The library's strict mode decodes no part of a code stream that ends early.
        FRefusal = source.Ended ? "the code stream ends early" : "damaged JPEG 2000 data";
        Release();
        return false;
    }
    opj_end_decompress(codec.P, stream.P); // trailing boxes do not matter once the image is decoded
    return true;
}

bool TJ2kImage::Decode(TStream& Stream) {
    Release();
    FRefusal.clear();
    const std::int64_t start = Stream.Position();
    const std::int64_t length = std::max<std::int64_t>(0, Stream.Size() - start);
    std::uint8_t head[12] = {};
    const std::int64_t got = Stream.Read(head, 12);
    Stream.SetPosition(start);
    const bool jp2 = got >= 12 && std::equal(head, head + 12, kJp2Signature);
    const bool j2k = got >= 4 && std::equal(head, head + 4, kJ2kStart);
    if (!jp2 && !j2k) {
        FRefusal = "not a JPEG 2000 file";
        return false;
    }
    FRefusal = CheckDeclaredSize(Stream, start, length, jp2);
    Stream.SetPosition(start);
    if (!FRefusal.empty()) return false;
    const int paletteChannels = jp2 ? PaletteChannels(Stream, start, length) : 0;
    Stream.SetPosition(start);

    // The library's strict mode refuses a code stream that ends early. Its lenient mode would
    // decode such a stream in part, but on damaged data it asks for allocations of gigabytes.
    if (!DecodeFrom(Stream, start, length, jp2, paletteChannels)) return false;

    // What the library delivers is checked again: palette expansion and channel definitions
    // replace components after the header was read.
    if (FImage->numcomps == 0 || !FImage->comps || FImage->x1 <= FImage->x0 || FImage->y1 <= FImage->y0) {
        FRefusal = "damaged JPEG 2000 data";
        Release();
        return false;
    }
    for (OPJ_UINT32 k = 0; k < FImage->numcomps; ++k) {
        const opj_image_comp_t& c = FImage->comps[k];
        if (!c.data || c.w == 0 || c.h == 0 || c.dx == 0 || c.dy == 0 || c.prec == 0 || c.prec > 31 ||
            c.w > std::uint32_t(std::numeric_limits<std::int32_t>::max()) ||
            c.h > std::uint32_t(std::numeric_limits<std::int32_t>::max())) {
            FRefusal = "damaged JPEG 2000 data";
            Release();
            return false;
        }
        FData.push_back(c.data);
        FStride.push_back(c.w);
    }
    return true;
}

int TJ2kImage::Width() const {
    return static_cast<int>(FImage->x1 - FImage->x0);
}
int TJ2kImage::Height() const {
    return static_cast<int>(FImage->y1 - FImage->y0);
}
int TJ2kImage::ComponentCount() const {
    return static_cast<int>(FImage->numcomps);
}

TJ2kColorModel TJ2kImage::ColorModel() const {
    switch (FImage->color_space) {
    case OPJ_CLRSPC_GRAY:
        return j2kGray;
    case OPJ_CLRSPC_SRGB:
        return j2kRgb;
    case OPJ_CLRSPC_SYCC:
        return j2kYCbCr;
    case OPJ_CLRSPC_CMYK:
        return j2kCmyk;
    case OPJ_CLRSPC_UNKNOWN:
    case OPJ_CLRSPC_UNSPECIFIED: {
        int colour = 0;
        for (OPJ_UINT32 k = 0; k < FImage->numcomps; ++k)
            if (FImage->comps[k].alpha == 0) ++colour;
        return colour >= 3 ? j2kRgb : j2kGray;
    }
    default:
        return j2kOtherModel;
    }
}

int TJ2kImage::ComponentByType(int Type) const {
    int seen = 0;
    for (OPJ_UINT32 k = 0; k < FImage->numcomps; ++k) {
        if (FImage->comps[k].alpha != 0) continue;
        if (seen == Type) return static_cast<int>(k);
        ++seen;
    }
    return -1;
}

int TJ2kImage::AlphaComponent() const {
    for (OPJ_UINT32 k = 0; k < FImage->numcomps; ++k)
        if (FImage->comps[k].alpha != 0) return static_cast<int>(k);
    return -1;
}

// The library keeps the channel definition's type: 1 opacity, 2 premultiplied opacity.
TJ2kAlpha TJ2kImage::AlphaKind(int K) const {
    switch (FImage->comps[K].alpha) {
    case 0:
        return TJ2kAlpha::None;
    case 2:
        return TJ2kAlpha::Premultiplied;
    default:
        return TJ2kAlpha::Straight;
    }
}

namespace {
int ClampToInt(std::int64_t v) {
    return static_cast<int>(std::clamp<std::int64_t>(v, std::numeric_limits<std::int32_t>::min(),
                                                     std::numeric_limits<std::int32_t>::max()));
}
} // namespace

int TJ2kImage::LeftOffset(int K) const {
    const opj_image_comp_t& c = FImage->comps[K];
    return ClampToInt(std::int64_t(c.x0) * c.dx - FImage->x0);
}

int TJ2kImage::TopOffset(int K) const {
    const opj_image_comp_t& c = FImage->comps[K];
    return ClampToInt(std::int64_t(c.y0) * c.dy - FImage->y0);
}

int TJ2kImage::HorizontalStep(int K) const {
    return ClampToInt(FImage->comps[K].dx);
}
int TJ2kImage::VerticalStep(int K) const {
    return ClampToInt(FImage->comps[K].dy);
}
int TJ2kImage::ComponentWidth(int K) const {
    return static_cast<int>(FImage->comps[K].w);
}
int TJ2kImage::ComponentHeight(int K) const {
    return static_cast<int>(FImage->comps[K].h);
}
int TJ2kImage::Precision(int K) const {
    return static_cast<int>(FImage->comps[K].prec);
}
bool TJ2kImage::IsSigned(int K) const {
    return FImage->comps[K].sgnd != 0;
}
