#pragma once
// Test helpers shared by the bitmap and icon reader tests: byte builders, bitmap to RGB, and reference
// decodes through Pillow.
#include "imaging/bitmap/IEBitmap.h"
#include "imaging/bitmap/IEMask.h"
#include "testsupport/TestSupport.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace dibtest {

using Bytes = std::vector<std::uint8_t>;

inline void Put16(Bytes& b, std::uint32_t v) {
    b.push_back(std::uint8_t(v));
    b.push_back(std::uint8_t(v >> 8));
}
inline void Put32(Bytes& b, std::uint32_t v) {
    Put16(b, v & 0xFFFF);
    Put16(b, v >> 16);
}
inline void Append(Bytes& b, const Bytes& more) {
    b.insert(b.end(), more.begin(), more.end());
}

// The bitmap as red, green, blue (1-bit: 1 white, 0 black; palette: through the bitmap's palette).
inline testsupport::RgbImage ToRgb(TIEBitmap& bitmap) {
    testsupport::RgbImage img;
    img.Width = bitmap.Width();
    img.Height = bitmap.Height();
    img.Pixels.assign(std::size_t(img.Width) * std::size_t(img.Height) * 3, 0);
    for (int y = 0; y < img.Height; ++y) {
        const std::uint8_t* row = bitmap.RowPointer(y);
        for (int x = 0; x < img.Width; ++x) {
            std::uint8_t* out = &img.Pixels[(std::size_t(y) * std::size_t(img.Width) + std::size_t(x)) * 3];
            TIERgbTriple c{};
            switch (bitmap.PixelType()) {
            case ie1Bit:
                c = (row[x / 8] & (0x80 >> (x % 8))) ? CreateRGB(255, 255, 255) : CreateRGB(0, 0, 0);
                break;
            case ie8Palette:
                c = bitmap.PaletteEntry(row[x]);
                break;
            case ie24Rgb:
                c = {row[3 * x], row[3 * x + 1], row[3 * x + 2]};
                break;
            default:
                break;
            }
            out[0] = c.r;
            out[1] = c.g;
            out[2] = c.b;
        }
    }
    return img;
}

// The mask's values row by row from the top.
inline Bytes MaskValues(const TIEMask& mask) {
    Bytes v;
    for (int y = 0; y < mask.Height; ++y)
        for (int x = 0; x < mask.Width; ++x) v.push_back(std::uint8_t(mask.GetPixel(x, y)));
    return v;
}

// Decodes a file with Pillow to RGB and alpha; icoFrame >= 0 picks that entry (in file order) of an icon.
inline bool DecodeWithPillow(const std::string& path, testsupport::RgbImage& rgb, Bytes& alpha,
                             int icoFrame = -1) {
    testsupport::TempDir dir;
    const std::string out = dir.File("ref.ppm");
    const std::string script =
        "import sys\n"
        "from PIL import Image\n"
        "src, out, frame = sys.argv[1], sys.argv[2], int(sys.argv[3])\n"
        "im = Image.open(src)\n"
        "if frame >= 0:\n"
        "    # Pillow sorts the directory by size; find the entry by its image offset\n"
        "    d = open(src, 'rb').read()\n"
        "    off = int.from_bytes(d[6 + 16 * frame + 12:6 + 16 * frame + 16], 'little')\n"
        "    im = im.ico.frame([e['offset'] for e in im.ico.entry].index(off))\n"
        "im = im.convert('RGBA')\n"
        "w, h = im.size\n"
        "open(out, 'wb').write(b'P6 %d %d 255\\n' % (w, h) + im.convert('RGB').tobytes())\n"
        "open(out + '.pgm', 'wb').write(b'P5 %d %d 255\\n' % (w, h) + im.getchannel('A').tobytes())\n";
    const std::string cmd = "/usr/bin/python3 -c " + testsupport::ShellQuote(script) + " " +
                            testsupport::ShellQuote(path) + " " + testsupport::ShellQuote(out) + " " +
                            std::to_string(icoFrame) + " >/dev/null 2>&1";
    if (testsupport::RunCommand(cmd) != 0) return false;
    testsupport::RgbImage a;
    if (!testsupport::ReadPnm(out, rgb) || !testsupport::ReadPnm(out + ".pgm", a)) return false;
    alpha.clear();
    for (std::size_t i = 0; i < a.Pixels.size(); i += 3) alpha.push_back(a.Pixels[i]);
    return true;
}

// Largest channel difference over the pixels the reference shows (alpha above 0); -1 for other sizes.
inline int MaxVisibleDifference(const testsupport::RgbImage& a, const testsupport::RgbImage& ref,
                                const Bytes& refAlpha) {
    if (a.Width != ref.Width || a.Height != ref.Height) return -1;
    int m = 0;
    for (std::size_t p = 0; p < std::size_t(a.Width) * std::size_t(a.Height); ++p) {
        if (!refAlpha.empty() && refAlpha[p] == 0) continue;
        for (std::size_t c = 0; c < 3; ++c) {
            const int d = std::abs(int(a.Pixels[p * 3 + c]) - int(ref.Pixels[p * 3 + c]));
            if (d > m) m = d;
        }
    }
    return m;
}

} // namespace dibtest
