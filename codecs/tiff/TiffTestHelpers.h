#pragma once
// Shared by the TIFF tests: a small TIFF writer for hand-made files and decoding helpers.
#include "codecs/tiff/TiffReader.h"
#include "testsupport/TestSupport.h"

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace tifftest {

// Builds a TIFF file: one or more directories with tags and data blocks, in either byte order.
class TTiffBuilder {
public:
    explicit TTiffBuilder(bool bigEndian = false) : Big(bigEndian) {}

    struct TDir {
        std::map<std::uint16_t, std::pair<std::uint16_t, std::vector<std::uint32_t>>> Tags; // type, values
        std::map<std::uint16_t, std::vector<std::uint8_t>> Raw;                             // type 7 bytes
        std::map<std::uint16_t, std::string> Texts;
        std::vector<std::vector<std::uint8_t>> Strips;
        bool Tiles = false;
        std::uint16_t OffsetType = 4;
    };

    TDir& AddDirectory() {
        Dirs.emplace_back();
        return Dirs.back();
    }
    static void Set(TDir& d, std::uint16_t tag, std::uint16_t type, std::vector<std::uint32_t> values) {
        d.Tags[tag] = {type, std::move(values)};
    }
    static void Short(TDir& d, std::uint16_t tag, std::uint32_t v) { Set(d, tag, 3, {v}); }
    static void Long(TDir& d, std::uint16_t tag, std::uint32_t v) { Set(d, tag, 4, {v}); }
    // Rationals: pairs of numerator, denominator.
    static void Rational(TDir& d, std::uint16_t tag, std::uint32_t n, std::uint32_t den) {
        Set(d, tag, 5, {n, den});
    }

    // Basic image: width, height, bits, samples, photometric, compression, one strip per entry of strips.
    static void Image(TDir& d, std::uint32_t w, std::uint32_t h, std::uint32_t bits, std::uint32_t spp,
                      int photometric, std::uint32_t compression, std::uint32_t rowsPerStrip,
                      std::vector<std::vector<std::uint8_t>> strips) {
        Long(d, 256, w);
        Long(d, 257, h);
        Set(d, 258, 3, std::vector<std::uint32_t>(spp, bits));
        Short(d, 259, compression);
        if (photometric >= 0) Short(d, 262, std::uint32_t(photometric));
        Short(d, 277, spp);
        Long(d, 278, rowsPerStrip);
        d.Strips = std::move(strips);
    }

    // Directory next pointers: -1 means "the natural chain"; otherwise an index of the directory to point
    // at (a loop), or -2 for 0.
    std::vector<std::uint8_t> Build(const std::vector<int>& next = {}) {
        std::vector<std::uint8_t> out(8, 0);
        out[0] = out[1] = Big ? 'M' : 'I';
        Put16(out, 2, 42);
        std::vector<std::size_t> dirPos(Dirs.size()), nextField(Dirs.size());
        for (std::size_t i = 0; i < Dirs.size(); ++i) {
            TDir& d = Dirs[i];
            // Data blocks first.
            std::vector<std::uint32_t> offsets, counts;
            for (auto& s : d.Strips) {
                Align(out);
                offsets.push_back(std::uint32_t(out.size()));
                counts.push_back(std::uint32_t(s.size()));
                out.insert(out.end(), s.begin(), s.end());
            }
            if (!d.Strips.empty()) {
                Set(d, d.Tiles ? 324 : 273, d.OffsetType, offsets);
                Set(d, d.Tiles ? 325 : 279, 4, counts);
            }
            struct TEntry {
                std::uint16_t Tag, Type;
                std::uint32_t Count;
                std::vector<std::uint8_t> Bytes;
            };
            std::map<std::uint16_t, TEntry> entries;
            for (auto& [tag, tv] : d.Tags) {
                TEntry e{tag, tv.first, 0, {}};
                if (tv.first == 5 || tv.first == 10) {
                    e.Count = std::uint32_t(tv.second.size() / 2);
                    for (auto v : tv.second) Append32(e.Bytes, v);
                } else {
                    e.Count = std::uint32_t(tv.second.size());
                    for (auto v : tv.second) {
                        if (tv.first == 3)
                            Append16(e.Bytes, v);
                        else if (tv.first == 1)
                            e.Bytes.push_back(std::uint8_t(v));
                        else
                            Append32(e.Bytes, v);
                    }
                }
                entries[tag] = e;
            }
            for (auto& [tag, bytes] : d.Raw) entries[tag] = {tag, 7, std::uint32_t(bytes.size()), bytes};
            for (auto& [tag, text] : d.Texts) {
                std::vector<std::uint8_t> b(text.begin(), text.end());
                b.push_back(0);
                entries[tag] = {tag, 2, std::uint32_t(b.size()), b};
            }
            // Out-of-line values.
            std::map<std::uint16_t, std::uint32_t> valueOffsets;
            for (auto& [tag, e] : entries) {
                if (e.Bytes.size() <= 4) continue;
                Align(out);
                valueOffsets[tag] = std::uint32_t(out.size());
                out.insert(out.end(), e.Bytes.begin(), e.Bytes.end());
            }
            Align(out);
            dirPos[i] = out.size();
            Append16(out, std::uint32_t(entries.size()));
            for (auto& [tag, e] : entries) {
                Append16(out, tag);
                Append16(out, e.Type);
                Append32(out, e.Count);
                if (e.Bytes.size() <= 4) {
                    std::vector<std::uint8_t> field = e.Bytes;
                    field.resize(4, 0);
                    out.insert(out.end(), field.begin(), field.end());
                } else {
                    Append32(out, valueOffsets[tag]);
                }
            }
            nextField[i] = out.size();
            Append32(out, 0);
        }
        if (!Dirs.empty()) Put32(out, 4, std::uint32_t(dirPos[0]));
        for (std::size_t i = 0; i < Dirs.size(); ++i) {
            const int n = i < next.size() ? next[i] : -1;
            std::uint32_t target = 0;
            if (n == -1)
                target = i + 1 < Dirs.size() ? std::uint32_t(dirPos[i + 1]) : 0;
            else if (n >= 0)
                target = std::uint32_t(dirPos[std::size_t(n)]);
            Put32(out, nextField[i], target);
        }
        return out;
    }

private:
    void Put16(std::vector<std::uint8_t>& o, std::size_t at, std::uint32_t v) const {
        o[at] = std::uint8_t(Big ? v >> 8 : v);
        o[at + 1] = std::uint8_t(Big ? v : v >> 8);
    }
    void Put32(std::vector<std::uint8_t>& o, std::size_t at, std::uint32_t v) const {
        for (int i = 0; i < 4; ++i) o[at + std::size_t(i)] = std::uint8_t(v >> (Big ? 24 - 8 * i : 8 * i));
    }
    void Append16(std::vector<std::uint8_t>& o, std::uint32_t v) const {
        o.resize(o.size() + 2);
        Put16(o, o.size() - 2, v);
    }
    void Append32(std::vector<std::uint8_t>& o, std::uint32_t v) const {
        o.resize(o.size() + 4);
        Put32(o, o.size() - 4, v);
    }
    static void Align(std::vector<std::uint8_t>& o) {
        if (o.size() & 1) o.push_back(0);
    }
    bool Big;
    std::vector<TDir> Dirs;
};

// One read through ReadTiffStream.
struct TReadResult {
    bool Aborted = false;
    int FrameCount = -1;
    TIEBitmap Bitmap;
    std::unique_ptr<TIEMask> Mask;
    TIOParamsVals Params;
    TIELoadOutcome Outcome;
};

struct TReadOptions {
    int Frame = 0;
    bool IgnoreAlpha = false;
    bool HeaderOnly = false;
    bool NativePixelFormat = false;
    bool ApplyOrientation = false;
    TTiffLzwDecoder Lzw = TiffLzwDecode;
};

inline std::unique_ptr<TReadResult> ReadBytes(const std::vector<std::uint8_t>& bytes,
                                              const TReadOptions& o = {}) {
    auto r = std::make_unique<TReadResult>();
    r->Bitmap.SetLocation(ieHeap);
    r->Params.TiffFrameIndex = o.Frame;
    r->Params.NativePixelFormat = o.NativePixelFormat;
    r->Params.TiffApplyOrientation = o.ApplyOrientation;
    r->Params.TiffLzwDecoder = o.Lzw;
    TReadOnlyMemoryStream stream(bytes.data(), std::int64_t(bytes.size()));
    TIEProgressRecord progress(r->Aborted);
    ReadTiffStream(r->Bitmap, stream, r->FrameCount, false, o.IgnoreAlpha, true, r->Mask, o.HeaderOnly,
                   progress, r->Params);
    r->Outcome = progress.Outcome;
    return r;
}

inline std::unique_ptr<TReadResult> ReadFile(const std::string& path, const TReadOptions& o = {}) {
    return ReadBytes(testsupport::ReadFileBytes(path), o);
}

// The bitmap as red, green, blue.
inline testsupport::RgbImage ToRgb(TIEBitmap& b) {
    testsupport::RgbImage img;
    img.Width = b.Width();
    img.Height = b.Height();
    img.Pixels.resize(std::size_t(img.Width) * img.Height * 3);
    for (int y = 0; y < img.Height; ++y)
        for (int x = 0; x < img.Width; ++x) {
            const TIERgbTriple t = b.PixelAsRgb(x, y);
            std::uint8_t* p = &img.Pixels[(std::size_t(y) * img.Width + x) * 3];
            p[0] = t.r;
            p[1] = t.g;
            p[2] = t.b;
        }
    return img;
}

// The same single-directory little-endian file laid out as scanners write it: the directory and its
// values right after the header, the data blocks after them (from dataStart on). Cutting such a file
// keeps the directory.
inline std::vector<std::uint8_t> DirectoryFirst(const std::vector<std::uint8_t>& in,
                                                std::size_t* dataStart = nullptr) {
    const auto u16 = [&](std::size_t o) { return std::uint32_t(in[o] | (in[o + 1] << 8)); };
    const auto u32 = [&](std::size_t o) { return u16(o) | (u16(o + 2) << 16); };
    const auto typeSize = [](std::uint32_t t) -> std::uint32_t {
        static const std::uint32_t sizes[13] = {0, 1, 1, 2, 4, 8, 1, 1, 2, 4, 8, 4, 8};
        return t < 13 ? sizes[t] : 1;
    };
    struct TEntry {
        std::uint32_t Tag, Type, Count;
        std::vector<std::uint8_t> Value;
    };
    const std::size_t ifd = u32(4);
    const std::uint32_t n = u16(ifd);
    std::vector<TEntry> entries;
    std::vector<std::uint32_t> offsets, counts;
    for (std::uint32_t i = 0; i < n; ++i) {
        const std::size_t e = ifd + 2 + 12 * i;
        TEntry t{u16(e), u16(e + 2), u32(e + 4), {}};
        const std::size_t size = std::size_t(t.Count) * typeSize(t.Type);
        const std::size_t at = size <= 4 ? e + 8 : u32(e + 8);
        t.Value.assign(in.begin() + std::ptrdiff_t(at), in.begin() + std::ptrdiff_t(at + size));
        for (std::uint32_t k = 0;
             k < t.Count && (t.Tag == 273 || t.Tag == 279 || t.Tag == 324 || t.Tag == 325); ++k) {
            const std::uint32_t v = t.Type == 3 ? u16(at + 2 * k) : u32(at + 4 * k);
            (t.Tag == 273 || t.Tag == 324 ? offsets : counts).push_back(v);
        }
        if (t.Tag == 273 || t.Tag == 324) { // rewritten below as longs
            t.Type = 4;
            t.Value.assign(std::size_t(4) * t.Count, 0);
        }
        entries.push_back(std::move(t));
    }
    std::vector<std::uint8_t> out(8 + 2 + 12 * entries.size() + 4, 0);
    out[0] = out[1] = 'I';
    out[2] = 42;
    out[4] = 8;
    const auto put32 = [](std::vector<std::uint8_t>& b, std::size_t o, std::uint32_t v) {
        for (int i = 0; i < 4; ++i) b[o + std::size_t(i)] = std::uint8_t(v >> (8 * i));
    };
    std::vector<std::size_t> valueAt(entries.size(), 0);
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (entries[i].Value.size() <= 4) continue;
        if (out.size() & 1) out.push_back(0);
        valueAt[i] = out.size();
        out.insert(out.end(), entries[i].Value.begin(), entries[i].Value.end());
    }
    std::vector<std::uint32_t> moved;
    if (dataStart) *dataStart = out.size();
    for (std::size_t k = 0; k < offsets.size(); ++k) {
        moved.push_back(std::uint32_t(out.size()));
        out.insert(out.end(), in.begin() + std::ptrdiff_t(offsets[k]),
                   in.begin() + std::ptrdiff_t(offsets[k] + counts[k]));
    }
    out[8] = std::uint8_t(entries.size());
    for (std::size_t i = 0; i < entries.size(); ++i) {
        TEntry& t = entries[i];
        if (t.Tag == 273 || t.Tag == 324) {
            const std::size_t at = t.Value.size() <= 4 ? 8 + 2 + 12 * i + 8 : valueAt[i];
            for (std::size_t k = 0; k < moved.size(); ++k) put32(out, at + 4 * k, moved[k]);
        }
        const std::size_t e = 8 + 2 + 12 * i;
        out[e] = std::uint8_t(t.Tag), out[e + 1] = std::uint8_t(t.Tag >> 8);
        out[e + 2] = std::uint8_t(t.Type), out[e + 3] = 0;
        put32(out, e + 4, t.Count);
        if (t.Value.size() <= 4) {
            if (t.Tag != 273 && t.Tag != 324)
                for (std::size_t k = 0; k < t.Value.size(); ++k) out[e + 8 + k] = t.Value[k];
        } else {
            put32(out, e + 8, std::uint32_t(valueAt[i]));
        }
    }
    return out;
}

// Runs a shell command and fails the calling test when it does not succeed.
inline bool Shell(const std::string& cmd) {
    return testsupport::RunCommand(cmd + " >/dev/null 2>&1") == 0;
}

inline bool HaveTools() {
    return testsupport::ToolAvailable("tiffcp") && testsupport::ToolAvailable("/usr/bin/convert");
}

} // namespace tifftest
