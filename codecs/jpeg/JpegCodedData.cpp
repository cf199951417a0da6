#include "codecs/jpeg/JpegCodedData.h"
#include "platform/ByteOrder.h"

#include <cstring>

namespace {
// Marker codes (the byte after 0xFF).
enum TMarker : std::uint8_t {
    mkSof0 = 0xC0, // baseline
    mkSof1 = 0xC1, // extended sequential, Huffman
    mkSof2 = 0xC2, // progressive, Huffman
    mkSof3 = 0xC3, // lossless
    mkDht = 0xC4,
    mkSof15 = 0xCF,
    mkDac = 0xCC,
    mkRst0 = 0xD0,
    mkRst7 = 0xD7,
    mkSoi = 0xD8,
    mkEoi = 0xD9,
    mkSos = 0xDA,
    mkApp0 = 0xE0,
    mkApp14 = 0xEE,
    mkTem = 0x01,
};

constexpr int kCarriedPrecision = 8;

bool StartsWith(std::span<const std::uint8_t> segment, const char* text) {
    const std::size_t n = std::strlen(text) + 1; // with the terminating zero
    return segment.size() >= n && std::memcmp(segment.data(), text, n) == 0;
}

TJpegCodedInfo Refuse(TJpegCodedInfo info, const char* why) {
    info.Carriable = false;
    info.Refusal = why;
    return info;
}

bool IsFrameMarker(std::uint8_t m) {
    return m >= mkSof0 && m <= mkSof15 && m != mkDht && m != mkDac && m != 0xC8;
}
} // namespace

TJpegCodedInfo ProbeJpegCodedData(std::span<const std::uint8_t> data, bool rgbByContainer) {
    TJpegCodedInfo info;
    if (data.size() < 4 || data[0] != 0xFF || data[1] != mkSoi)
        return Refuse(info, "the file does not start with the JPEG data");
    bool haveFrame = false, jfif = false;
    std::uint8_t ids[3] = {};
    std::size_t at = 2;
    for (;;) {
        // A marker is 0xFF (any number of fill bytes) and its code.
        if (at >= data.size() || data[at] != 0xFF) return Refuse(info, "damaged JPEG markers");
        while (at < data.size() && data[at] == 0xFF) ++at;
        if (at >= data.size()) return Refuse(info, "damaged JPEG markers");
        const std::uint8_t marker = data[at++];
        if (marker == mkTem || (marker >= mkRst0 && marker <= mkRst7)) continue; // no length
        if (marker == mkEoi || marker == mkSoi) return Refuse(info, "JPEG data without an image");
        if (at + 2 > data.size()) return Refuse(info, "damaged JPEG markers");
        const std::size_t length = ReadBe16(&data[at]);
        if (length < 2 || at + length > data.size()) return Refuse(info, "damaged JPEG markers");
        const std::span<const std::uint8_t> segment = data.subspan(at + 2, length - 2);
        at += length;

        if (marker == mkApp0 && StartsWith(segment, "JFIF")) jfif = true;
        if (marker == mkApp14 && segment.size() >= 12 && std::memcmp(segment.data(), "Adobe", 5) == 0)
            info.AdobeMarker = true;
        if (IsFrameMarker(marker)) {
            if (haveFrame) return Refuse(info, "JPEG data with several frames");
            haveFrame = true;
            if (marker >= 0xC9) return Refuse(info, "arithmetic-coded JPEG");
            if (marker != mkSof0 && marker != mkSof1 && marker != mkSof2)
                return Refuse(info, "lossless or hierarchical JPEG");
            if (segment.size() < 6) return Refuse(info, "damaged JPEG frame header");
            info.Progressive = marker == mkSof2;
            info.Height = ReadBe16(&segment[1]);
            info.Width = ReadBe16(&segment[3]);
            info.Components = segment[5];
            if (segment[0] != kCarriedPrecision) return Refuse(info, "JPEG with 12-bit samples");
            if (info.Height == 0 || info.Width == 0)
                return Refuse(info, "JPEG whose height follows the data");
            if (segment.size() < 6 + std::size_t(info.Components) * 3)
                return Refuse(info, "damaged JPEG frame header");
            for (int c = 0; c < info.Components && c < 3; ++c) ids[c] = segment[6 + std::size_t(c) * 3];
        }
        if (marker == mkSos) break;
    }
    if (!haveFrame) return Refuse(info, "JPEG data without a frame header");
    switch (info.Components) {
    case 1:
        info.Colours = TJpegCodedColours::Gray;
        break;
    case 3:
        if (rgbByContainer && (info.AdobeMarker || jfif))
            return Refuse(info, "RGB JPEG data with a colour marker");
        if (!rgbByContainer && !jfif && !info.AdobeMarker && ids[0] == 'R' && ids[1] == 'G' && ids[2] == 'B')
            return Refuse(info, "RGB JPEG without a colour marker");
        info.Colours = TJpegCodedColours::YCbCrOrRgb;
        break;
    case 4:
        info.Colours = TJpegCodedColours::Cmyk;
        break;
    default:
        return Refuse(info, "JPEG with an unusual number of components");
    }
    info.Carriable = true;
    return info;
}
