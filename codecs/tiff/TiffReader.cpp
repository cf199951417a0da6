// The TIFF reader: directory chain, tags into the parameter record, then strips or tiles row by row
// through a row source (decompression), unpacking, differencing and conversion into the bitmap.
#include "codecs/tiff/TiffReader.h"

#include "codecs/jpeg/JpegErrorManager.h"
#include "codecs/tiff/TiffConvert.h"
#include "codecs/tiff/TiffIfd.h"
#include "codecs/tiff/TiffInfo.h"
#include "codecs/tiff/TiffJpeg.h"
#include "codecs/tiff/TiffLogLuv.h"
#include "codecs/tiff/TiffOldJpeg.h"
#include "codecs/tiff/TiffOrientation.h"
#include "codecs/tiff/TiffSamples.h"
#include "codecs/tiff/TiffSources.h"
#include "codecs/tiff/TiffYCbCr.h"
#include "imaging/params/ReadBudget.h"
#include "imaging/params/ReadFailures.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <exception>
#include <limits>

namespace {

using namespace tiff;

// Old-form JPEG data may ask for this much bitmap whatever it holds.
constexpr std::int64_t kFreeAllowance = std::int64_t(64) << 20;
// Widths and heights (also enlarged by a tile) stay within the bitmap's int32 geometry.
constexpr std::int64_t kMaxDimension = (std::int64_t(1) << 30) - 1;

bool IsCcitt(std::uint32_t c) {
    return c == cmpHuffman || c == cmpFax3 || c == cmpFax4;
}

// The general-purpose compressions, which writers combine with horizontal differencing.
bool TakesPredictor(std::uint32_t c) {
    return c == cmpLzw || c == cmpAdobeDeflate || c == cmpDeflate || c == cmpZstd || c == cmpLzma;
}

// Why the data of a compression could not be decoded.
std::string DamagedReason(std::uint32_t c) {
    switch (c) {
    case cmpLzw:
        return "damaged LZW data";
    case cmpAdobeDeflate:
    case cmpDeflate:
        return "damaged Deflate data";
    case cmpJpeg:
    case cmpOldJpeg:
        return "damaged JPEG data";
    case cmpZstd:
        return "damaged Zstandard data";
    case cmpLzma:
        return "damaged LZMA data";
    case cmpWebp:
        return "damaged WebP data";
    case cmpSgiLog:
        return "damaged LogLuv data";
    case cmpPackBits:
        return "damaged PackBits data";
    case cmpHuffman:
    case cmpFax3:
    case cmpFax4:
        return "damaged fax data";
    default:
        return "damaged image data";
    }
}

// Upper bound of decompressed bytes per stored byte, by compression.
std::int64_t MaxExpansion(std::uint32_t compression) {
    switch (compression) {
    case cmpPackBits:
    case cmpSgiLog: // runs of 129 bytes from two
        return 64;
    case cmpAdobeDeflate:
    case cmpDeflate:
        return 1032;
    case cmpZstd: // blocks of one repeated byte
    case cmpLzma:
    case cmpWebp: // lossless pictures of one colour
        return 32768;
    case cmpHuffman:
    case cmpFax3:
    case cmpFax4:
    case cmpLzw:
    case cmpJpeg:
    case cmpOldJpeg:
        return 4096;
    default:
        return 1;
    }
}

// Restores the bitmap's access flags on every path.
class TAccessGuard {
public:
    explicit TAccessGuard(TIEBitmap& b) : Bitmap(b), SavedAccess(b.Access) {}
    ~TAccessGuard() { Bitmap.Access = SavedAccess; }
    std::uint8_t Saved() const { return SavedAccess; }

private:
    TIEBitmap& Bitmap;
    std::uint8_t SavedAccess;
};

class TTiffDecoder {
public:
    TTiffDecoder(TTiffSource& src, TImageInfo& info, TIEBitmap& bitmap, TIEProgressRecord& progress,
                 TIOParamsVals& params, TTiffLzwDecoder lzw)
        : Src(src), Info(info), Bitmap(bitmap), Progress(progress), Params(params), Lzw(lzw) {
        // A legitimate file reads each byte once; overlapping blocks may not multiply the work without end.
        ReadBudget = 4 * src.Size + (std::int64_t(16) << 20);
    }

    void Run(bool ignoreAlpha, std::unique_ptr<TIEMask>& mask);

private:
    // Empty when the image can be decoded; else why not.
    std::string Prepare(bool ignoreAlpha, std::unique_ptr<TIEMask>& mask);
    // Why this reader cannot turn the data into pixels; empty when it can.
    std::string UndecodableReason() const;
    // Rows from..to of a strip or tile that the data did not reach (parts beyond the image ignored).
    void RowsMissing(std::int64_t from, std::int64_t to) {
        to = std::min(to, Info.Height - 1);
        if (from > to) return;
        MissingFirst = MissingFirst < 0 ? from : std::min(MissingFirst, from);
        MissingLast = std::max(MissingLast, to);
    }
    bool ReadBlock(std::size_t index, std::int64_t cap, std::vector<std::uint8_t>& out);
    void DecodeStrips();
    void DecodeLogStrips();
    void DecodeTiles();
    void DecodeRows(std::vector<std::vector<std::uint8_t>>& planes, int x, int y, int width, int rows);
    void DecodeYCbCrRows(std::span<const std::uint8_t> data, int x, int y, int width, int rows);
    // Ends the block on a row source's failure: rows missing when the file cut the block short, else
    // damage.
    void BlockFailed(std::int64_t from, std::int64_t to);
    void DecodeJpeg(const std::vector<std::uint8_t>& data, int x, int y, int width, int rows, int maxWidth,
                    int maxHeight, bool single);
    void PutRow(int row, int x, int width, const std::uint8_t* pixels);
    void PutAlpha(int row, int x, int width, const std::uint8_t* alpha);
    void UnpremultiplyRow(std::uint8_t* pixels, const std::uint8_t* alpha, int width) const;

    TTiffSource& Src;
    TImageInfo& Info;
    TIEBitmap& Bitmap;
    TIEProgressRecord& Progress;
    TIOParamsVals& Params;
    TTiffLzwDecoder Lzw;
    TIEMask* Mask = nullptr;
    TRowFormat Format;
    std::int64_t ReadBudget = 0;
    int PlaneCount = 1;                               // planes coded apart (planar configuration 2)
    std::uint8_t Pad = 0;                             // raw byte that stands for missing data
    bool LastBlockShort = false;                      // the last block read is not all in the file
    std::int64_t MissingFirst = -1, MissingLast = -1; // rows the data did not reach
    // Rows decoded, and those whose codes were damaged: when most are, the data is not what the
    // compression tag says, and its page would be noise.
    std::int64_t CodedRows = 0, DamagedRows = 0;
    bool Narrow = false;     // samples wider than a byte, or floats, go to bytes
    bool FlipSigns = false;  // signed samples laid onto the unsigned range
    bool Associated = false; // the alpha sample is premultiplied into the colour
    TOldJpegPlan OldJpeg;    // where the old form's stream or its pieces are
};

bool TTiffDecoder::ReadBlock(std::size_t index, std::int64_t cap, std::vector<std::uint8_t>& out) {
    out.clear();
    LastBlockShort = true;
    if (index >= Info.Offsets.size()) return true;
    const std::int64_t offset = Info.Offsets[index];
    const std::int64_t available = Src.AvailableAt(offset);
    if (offset == 0 || available <= 0) return true; // offset 0 is the header: a block that was never written
    const std::int64_t stated = index < Info.ByteCounts.size() ? Info.ByteCounts[index] : 0;
    LastBlockShort = stated > available;
    std::int64_t n = stated > 0 ? std::min(stated, available) : available;
    if (cap > 0) n = std::min(n, cap);
    ReadBudget -= n;
    if (ReadBudget < 0) {
        Progress.Fail("overlapping data blocks");
        return false;
    }
    out.resize(std::size_t(n));
    if (!Src.ReadAt(offset, out.data(), n)) out.clear();
    if (Info.FillOrder == 2 && Info.Compression != cmpJpeg && Info.Compression != cmpOldJpeg) {
        static const auto reversed = [] {
            std::array<std::uint8_t, 256> t{};
            for (int v = 0; v < 256; ++v)
                for (int bit = 0; bit < 8; ++bit)
                    if (v & (1 << bit)) t[std::size_t(v)] |= std::uint8_t(0x80 >> bit);
            return t;
        }();
        for (std::uint8_t& b : out) b = reversed[b];
    }
    return true;
}

void TTiffDecoder::PutRow(int row, int x, int width, const std::uint8_t* pixels) {
    std::uint8_t* dst = Bitmap.RowPointer(row);
    const int bpp = BitsPerPixelOf(Format.Target);
    if (x == 0 && width == Bitmap.Width()) {
        std::memcpy(dst, pixels, std::size_t(Bitmap.RowStride()));
        return;
    }
    if (bpp == 1) {
        const int end = std::min(x + width, Bitmap.Width());
        for (int i = 0; x + i < end; ++i) {
            const int bit = (pixels[i >> 3] >> (7 - (i & 7))) & 1;
            const int dx = x + i;
            const std::uint8_t m = std::uint8_t(0x80 >> (dx & 7));
            dst[dx >> 3] = bit ? std::uint8_t(dst[dx >> 3] | m) : std::uint8_t(dst[dx >> 3] & ~m);
        }
        return;
    }
    const int bytes = bpp / 8;
    const int n = std::min(width, Bitmap.Width() - x);
    if (n > 0) std::memcpy(dst + std::size_t(x) * bytes, pixels, std::size_t(n) * bytes);
}

// Associated alpha stores colour already multiplied by opacity; the image keeps the colour itself,
// so that laying it on paper (or any background) blends it once, not twice.
void TTiffDecoder::UnpremultiplyRow(std::uint8_t* pixels, const std::uint8_t* alpha, int width) const {
    const int channels = Format.Target == ie24Rgb ? 3 : Format.Target == ie8Gray ? 1 : 0;
    for (int i = 0; i < width && channels > 0; ++i) {
        const unsigned a = alpha[i];
        if (a == 255 || a == 0) continue;
        std::uint8_t* p = pixels + std::size_t(i) * std::size_t(channels);
        for (int c = 0; c < channels; ++c) p[c] = std::uint8_t(std::min(255u, (p[c] * 255u + a / 2) / a));
    }
}

void TTiffDecoder::PutAlpha(int row, int x, int width, const std::uint8_t* alpha) {
    if (!Mask || row >= Mask->Height || x >= Mask->Width) return;
    const int n = std::min(width, Mask->Width - x);
    std::memcpy(Mask->RowPointer(row) + x, alpha, std::size_t(n));
    Mask->FullyOpaque = false;
}

void TTiffDecoder::BlockFailed(std::int64_t from, std::int64_t to) {
    if (LastBlockShort)
        RowsMissing(from, to);
    else
        Progress.Fail(DamagedReason(Info.Compression));
}

// Data units of luma and chroma: each source row holds V image rows.
void TTiffDecoder::DecodeYCbCrRows(std::span<const std::uint8_t> data, int x, int y, int width, int rows) {
    const TYCbCr& c = Info.YCbCr;
    TSourceOptions options;
    options.Compression = Info.Compression;
    options.Width = width;
    options.RowLength = int(c.UnitRowBytes(width));
    options.Rows = (rows + c.V - 1) / c.V;
    options.Samples = Info.SamplesPerPixel;
    options.Lzw = Lzw;
    const std::unique_ptr<TRowSource> source = MakeRowSource(options, data);
    std::vector<std::uint8_t> units(std::size_t(options.RowLength) + 1);
    const std::size_t stride = std::size_t(RowStrideOf(width, 24)) + 4;
    std::vector<std::uint8_t> pixels(stride * std::size_t(c.V));
    std::vector<std::uint8_t*> out;
    for (int j = 0; j < c.V; ++j) out.push_back(pixels.data() + stride * std::size_t(j));
    for (int r = 0; r < rows; r += c.V) {
        const int count = std::min(c.V, rows - r);
        const TRowStatus status = source->Next(units.data());
        if (status == TRowStatus::Failed) return BlockFailed(y + r, std::int64_t(y) + rows - 1);
        if (status != TRowStatus::Row) RowsMissing(y + r, std::int64_t(y) + r + count - 1);
        if (status == TRowStatus::Row || status == TRowStatus::Partial) {
            YCbCrUnitsToRows(c, units.data(), width, out.data(), count);
            for (int j = 0; j < count; ++j) PutRow(y + r + j, x, width, out[std::size_t(j)]);
        }
        Progress.ProgressCounter += count;
        Progress.Report();
        if (Progress.IsAborting()) return;
    }
}

void TTiffDecoder::DecodeRows(std::vector<std::vector<std::uint8_t>>& planes, int x, int y, int width,
                              int rows) {
    if (Format.Kind == TConversion::YCbCr) return DecodeYCbCrRows(planes[0], x, y, width, rows);
    const std::int64_t bits = Info.BitsPerSample;
    const std::int64_t spp = Info.SamplesPerPixel;
    const std::int64_t rowSamples = PlaneCount > 1 ? width : spp * width;
    const std::int64_t rowLength = (rowSamples * bits + 7) / 8;
    const std::size_t sampleBytes = bits >= 8 ? std::size_t(bits / 8) : 1;
    const bool predictor = Info.Predictor == kPredictorHorizontal && TakesPredictor(Info.Compression);
    const bool floatPredictor = Info.Predictor == kPredictorFloat && TakesPredictor(Info.Compression);
    const bool unpack = NeedsUnpack(Format);

    TSourceOptions options;
    options.Compression = Info.Compression;
    options.T4Options = Info.T4Options;
    options.Width = width;
    options.RowLength = int(rowLength);
    options.Pad = Pad;
    options.Lzw = Lzw;
    options.Rows = rows;
    options.Samples = int(spp);
    std::vector<std::unique_ptr<TRowSource>> sources;
    std::vector<std::vector<std::uint8_t>> raw(planes.size(),
                                               std::vector<std::uint8_t>(std::size_t(rowLength) + 1));
    for (auto& plane : planes) sources.push_back(MakeRowSource(options, plane));

    const std::size_t chunkySamples = std::size_t(spp * width);
    std::vector<std::uint8_t> planeSamples(std::size_t(rowSamples) * sampleBytes + 1);
    std::vector<std::uint8_t> samples(chunkySamples * sampleBytes + 1);
    std::vector<std::uint8_t> narrow(Narrow ? chunkySamples : 0);
    std::vector<std::uint8_t> pixels(std::size_t(RowStrideOf(width, BitsPerPixelOf(Format.Target))) + 4);
    std::vector<std::uint8_t> alpha(Mask ? std::size_t(width) : 0);

    // A row is whole when its colour planes are: separate extra samples are often left out.
    const std::size_t colourPlanes =
        planes.size() > 1 ? std::size_t(std::max(1, int(planes.size()) - Info.ExtraCount)) : planes.size();
    for (int r = 0; r < rows; ++r) {
        bool any = false, whole = true;
        for (std::size_t p = 0; p < planes.size(); ++p) {
            const TRowStatus status = sources[p]->Next(raw[p].data());
            if (status == TRowStatus::Failed) return BlockFailed(y + r, std::int64_t(y) + rows - 1);
            if (p < colourPlanes) whole = whole && status == TRowStatus::Row;
            if (status == TRowStatus::Row || status == TRowStatus::Partial)
                any = true;
            else
                std::memset(raw[p].data(), Pad, std::size_t(rowLength));
        }
        if (!whole) RowsMissing(y + r, y + r); // what a cut row holds stays, but the row is not the file's
        if (any) {
            std::uint8_t* rowSamplesPtr = raw[0].data();
            if (PlaneCount == 1) {
                if (unpack) {
                    UnpackSamples(raw[0].data(), int(bits), chunkySamples, samples.data());
                    rowSamplesPtr = samples.data();
                }
                if (predictor)
                    UndoPredictor(rowSamplesPtr, chunkySamples, int(spp), int(bits), Src.BigEndian);
                if (floatPredictor) {
                    UndoFloatPredictor(rowSamplesPtr, chunkySamples, int(sampleBytes), int(spp),
                                       Src.BigEndian, samples.data());
                    rowSamplesPtr = samples.data();
                }
            } else {
                for (std::size_t p = 0; p < planes.size(); ++p) {
                    std::uint8_t* ps = raw[p].data();
                    if (unpack) {
                        UnpackSamples(raw[p].data(), int(bits), std::size_t(width), planeSamples.data());
                        ps = planeSamples.data();
                    }
                    if (predictor) UndoPredictor(ps, std::size_t(width), 1, int(bits), Src.BigEndian);
                    if (floatPredictor) {
                        UndoFloatPredictor(ps, std::size_t(width), int(sampleBytes), 1, Src.BigEndian,
                                           planeSamples.data());
                        ps = planeSamples.data();
                    }
                    for (int i = 0; i < width; ++i)
                        std::memcpy(samples.data() + (std::size_t(i) * spp + p) * sampleBytes,
                                    ps + std::size_t(i) * sampleBytes, sampleBytes);
                }
                rowSamplesPtr = samples.data();
            }
            if (FlipSigns) FlipSignBits(rowSamplesPtr, chunkySamples, int(bits), Src.BigEndian);
            if (Narrow) {
                if (Associated && Mask && Info.SampleFormat != sfFloat)
                    UnpremultiplyWide(rowSamplesPtr, std::size_t(width), int(spp),
                                      ColourSamples(Info.Photometric), Format.AlphaIndex, int(bits),
                                      Src.BigEndian);
                NarrowSamples(rowSamplesPtr, chunkySamples, int(bits), Info.SampleFormat == sfFloat,
                              Src.BigEndian, narrow.data());
                rowSamplesPtr = narrow.data();
            }
            const bool hasAlpha =
                ConvertRow(Format, rowSamplesPtr, width, pixels.data(), Mask ? alpha.data() : nullptr);
            if (hasAlpha && Associated && !Narrow) UnpremultiplyRow(pixels.data(), alpha.data(), width);
            PutRow(y + r, x, width, pixels.data());
            if (hasAlpha) PutAlpha(y + r, x, width, alpha.data());
        }
        ++Progress.ProgressCounter;
        Progress.Report();
        if (Progress.IsAborting()) return;
    }
    CodedRows += rows;
    for (const auto& source : sources) DamagedRows += source->DamagedRows();
}

void TTiffDecoder::DecodeJpeg(const std::vector<std::uint8_t>& data, int x, int y, int width, int rows,
                              int maxWidth, int maxHeight, bool single) {
    TIEBitmap block;
    block.SetLocation(ieHeap);
    // The block's own record: a block whose data the file cut short is missing rows, not damage.
    bool blockFailed = false;
    TIEProgressRecord blockProgress(single ? Progress.OnProgress : TIEProgressEvent(), Progress.Sender,
                                    blockFailed);
    // The old form's blocks become streams of their own, each frame the size of its block.
    const bool oldForm = Info.Compression == cmpOldJpeg;
    const std::vector<std::uint8_t> own =
        oldForm ? OldJpegBlockStream(OldJpeg.Header, data, width, rows) : std::vector<std::uint8_t>();
    using TBytes = std::span<const std::uint8_t>;
    const bool ok =
        DecodeJpegBlock(oldForm ? TBytes(own) : TBytes(data), oldForm ? TBytes() : TBytes(Info.JpegTables),
                        Info.Photometric == phRgb, maxWidth, maxHeight, Params, blockProgress, block) &&
        !blockFailed;
    if (!single) {
        ++Progress.ProgressCounter;
        if (Progress.OnProgress)
            Progress.ReportPercent(int(std::trunc(Progress.ProgressCounter * Progress.PercentPerStrip)));
    }
    if (Progress.IsAborting()) return; // stopped by the caller
    if (!ok) {
        if (LastBlockShort || data.empty() || (oldForm && own.empty()))
            RowsMissing(y, std::int64_t(y) + rows - 1);
        else
            Progress.Fail(blockProgress.Outcome.Refusal.empty() ? DamagedReason(cmpJpeg)
                                                                : blockProgress.Outcome.Refusal);
        return;
    }
    if (block.PixelType() == ie24Rgb)
        block.CopyRectangle(Bitmap, 0, 0, std::min(block.Width(), width), std::min(block.Height(), rows), x,
                            y);
    const TIELoadOutcome& o = blockProgress.Outcome;
    if (o.MissingRowsKnown())
        RowsMissing(std::int64_t(y) + o.FirstMissingRow,
                    std::int64_t(y) + std::min(o.LastMissingRow, rows - 1));
    else if (o.DataEndsEarly)
        RowsMissing(y, std::int64_t(y) + rows - 1); // spread over the block: none of it can be trusted
}

void TTiffDecoder::DecodeStrips() {
    const std::int64_t rowsPerStrip = std::max<std::int64_t>(Info.RowsPerStrip, 1);
    const std::int64_t strips = (Info.Height + rowsPerStrip - 1) / rowsPerStrip;
    const std::size_t offsets = Info.Offsets.size();
    Progress.PercentPerUnit = 100.0 / double(Info.Height);
    Progress.PercentPerStrip = offsets ? 100.0 / double(offsets) : 0.0;
    Progress.ProgressCounter = 0;
    const bool jpeg = Info.Compression == cmpJpeg || Info.Compression == cmpOldJpeg;
    // Planes of separated data follow each other in the strip list, each a third (or 1/n) of it.
    const std::size_t perPlane = PlaneCount > 1 ? offsets / std::size_t(PlaneCount) : offsets;
    const std::int64_t planeRow = PlaneCount > 1
                                      ? (Info.Width * Info.BitsPerSample + 7) / 8
                                      : (Info.Width * Info.SamplesPerPixel * Info.BitsPerSample + 7) / 8;
    for (std::int64_t i = 0; i < strips && std::size_t(i) < perPlane; ++i) {
        const std::int64_t first = i * rowsPerStrip;
        const int rows = int(std::min(rowsPerStrip, Info.Height - first));
        auto planes = std::vector<std::vector<std::uint8_t>>(std::size_t(PlaneCount));
        // Uncompressed strips never need more than their rows.
        const std::int64_t cap = Info.Compression == cmpNone ? planeRow * rows : 0;
        for (int p = 0; p < PlaneCount; ++p)
            if (!ReadBlock(std::size_t(p) * perPlane + std::size_t(i), cap, planes[std::size_t(p)])) return;
        if (jpeg)
            DecodeJpeg(planes[0], 0, int(first), int(Info.Width), rows, int(Info.Width), int(rowsPerStrip),
                       offsets == 1);
        else
            DecodeRows(planes, 0, int(first), int(Info.Width), rows);
        if (Progress.IsAborting()) return;
    }
}

void TTiffDecoder::DecodeLogStrips() {
    const int pixelBytes = LogLuvPixelBytes(Info.Photometric);
    const std::int64_t rowsPerStrip = std::max<std::int64_t>(Info.RowsPerStrip, 1);
    const std::int64_t strips = (Info.Height + rowsPerStrip - 1) / rowsPerStrip;
    std::vector<std::uint8_t> words(std::size_t(Info.Width) * std::size_t(pixelBytes));
    std::vector<std::uint8_t> pixels(std::size_t(RowStrideOf(Info.Width, 24)) + 4);
    Progress.PercentPerUnit = 100.0 / double(Info.Height);
    Progress.ProgressCounter = 0;
    std::vector<std::uint8_t> data;
    for (std::int64_t i = 0; i < strips && std::size_t(i) < Info.Offsets.size(); ++i) {
        const std::int64_t first = i * rowsPerStrip;
        const int rows = int(std::min(rowsPerStrip, Info.Height - first));
        if (!ReadBlock(std::size_t(i), 0, data)) return;
        std::size_t pos = 0;
        for (int r = 0; r < rows; ++r) {
            if (!DecodeLogRow(data, pos, int(Info.Width), pixelBytes, words.data())) {
                BlockFailed(first + r, first + rows - 1);
                break;
            }
            LogPixelsToBgr(words.data(), int(Info.Width), pixelBytes, pixels.data());
            PutRow(int(first + r), 0, int(Info.Width), pixels.data());
            ++Progress.ProgressCounter;
            Progress.Report();
            if (Progress.IsAborting()) return;
        }
        if (Progress.IsAborting()) return;
    }
}

void TTiffDecoder::DecodeTiles() {
    const std::int64_t tw = Info.TileWidth, tl = Info.TileLength;
    const std::int64_t across = (Info.Width + tw - 1) / tw, down = (Info.Height + tl - 1) / tl;
    const std::size_t offsets = Info.Offsets.size();
    const std::size_t perPlane = PlaneCount > 1 ? offsets / std::size_t(PlaneCount) : offsets;
    Progress.PercentPerUnit = 100.0 / double(across * down * tl);
    Progress.PercentPerStrip = offsets ? 100.0 / double(offsets) : 0.0;
    Progress.ProgressCounter = 0;
    const bool jpeg = Info.Compression == cmpJpeg || Info.Compression == cmpOldJpeg;
    const std::int64_t planeRow = PlaneCount > 1 ? (tw * Info.BitsPerSample + 7) / 8
                                                 : (tw * Info.SamplesPerPixel * Info.BitsPerSample + 7) / 8;
    std::size_t index = 0;
    for (std::int64_t y = 0; y < Info.Height; y += tl) {
        for (std::int64_t x = 0; x < Info.Width; x += tw, ++index) {
            if (index >= perPlane) return;
            auto planes = std::vector<std::vector<std::uint8_t>>(std::size_t(PlaneCount));
            const std::int64_t cap = Info.Compression == cmpNone ? planeRow * tl : 0;
            for (int p = 0; p < PlaneCount; ++p)
                if (!ReadBlock(std::size_t(p) * perPlane + index, cap, planes[std::size_t(p)])) return;
            if (jpeg)
                DecodeJpeg(planes[0], int(x), int(y), int(tw), int(tl), int(tw), int(tl), offsets == 1);
            else
                DecodeRows(planes, int(x), int(y), int(tw), int(tl));
            if (Progress.IsAborting()) return;
        }
    }
}

// Checks sizes, chooses the pixel format, creates the mask and allocates the bitmap. Returns why the
// image cannot be read, or empty.
std::string TTiffDecoder::Prepare(bool ignoreAlpha, std::unique_ptr<TIEMask>& mask) {
    const std::int64_t w = Info.Width, h = Info.Height;
    const std::int64_t spp = Info.SamplesPerPixel, bits = Info.BitsPerSample;
    if (w <= 0 || h <= 0 || w > kMaxDimension || h > kMaxDimension) return "invalid image size";
    if (bits <= 0) return reasons::Unsupported("bit depth", bits);
    if (Info.Tiled && (Info.TileWidth <= 0 || Info.TileLength <= 0 || Info.TileWidth > kMaxDimension ||
                       Info.TileLength > kMaxDimension))
        return "invalid tile size";

    const bool jpeg = Info.Compression == cmpJpeg || Info.Compression == cmpOldJpeg;
    const bool isFloat = Info.SampleFormat == sfFloat;
    // Wide and floating-point samples are brought to bytes first; one 16-bit sample keeps its own rules.
    Narrow = !jpeg && (isFloat || bits == 32 || bits == 64 || (bits == 16 && spp > 1));
    if (Narrow && !CanNarrow(int(bits), isFloat))
        return "unsupported: " + std::string(isFloat ? "floating-point" : "integer") + " samples of " +
               std::to_string(bits) + " bits";
    const int bitsAfter = Narrow ? 8 : int(bits);
    Format.Kind =
        ClassifyConversion(Info.Photometric, Info.SamplesPerPixel, bitsAfter, !Info.ColorMap.empty());
    Format.Photometric = Info.Photometric;
    Format.SamplesPerPixel = Info.SamplesPerPixel;
    Format.BitsPerSample = bitsAfter;
    const int alphaIndex = AlphaSample(Info);
    Format.AlphaIndex = ignoreAlpha ? -1 : alphaIndex;
    Associated = alphaIndex >= 0 &&
                 std::size_t(alphaIndex - ColourSamples(Info.Photometric)) < Info.Extras.size() &&
                 Info.Extras[std::size_t(alphaIndex - ColourSamples(Info.Photometric))] == kAssociatedAlpha;
    // Palette indexes and CIELab's own signed axes are not signed light values.
    FlipSigns = Info.SampleFormat == sfSigned && bits >= 8 && Info.Photometric != phCieLab &&
                Info.Photometric != phPalette;
    Format.BigEndian = Src.BigEndian;
    Format.InvertBilevel = Info.Photometric == phWhiteIsZero;
    Format.GreyShift = Info.Software.compare(0, 15, "Look@Molli v1.1") == 0 ? 4 : 8;
    Format.ColorMap = Info.ColorMap;
    const bool native = Params.NativePixelFormat;
    if (jpeg)
        Format.Target = ie24Rgb;
    else if (bits == 1 && spp == 1 && Info.Photometric != phPalette)
        Format.Target = ie1Bit;
    else if (native && bits == 8 && spp == 1 && Info.Photometric == phPalette)
        Format.Target = ie8Palette;
    else if (native && bits == 8 && spp == 1 && Info.Photometric == phBlackIsZero)
        Format.Target = ie8Gray;
    else if (native && bits == 16 && spp == 1 && Info.Photometric == phBlackIsZero)
        Format.Target = ie16Gray;
    else
        Format.Target = ie24Rgb;
    Pad = Format.Kind == TConversion::Bilevel && !Format.InvertBilevel ? 0xFF : 0x00;
    PlaneCount = Info.Planar == 2 && spp > 1 ? int(spp) : 1;

    // What the stored data expands to, against what the file can hold.
    const std::int64_t allocW = Info.Tiled ? w + Info.TileWidth : w;
    const std::int64_t allocH = Info.Tiled ? h + Info.TileLength : h;
    const std::int64_t blockW = Info.Tiled ? Info.TileWidth : w;
    const std::int64_t rowBytes =
        PlaneCount > 1 ? spp * ((blockW * bits + 7) / 8) : (spp * blockW * bits + 7) / 8;
    const std::int64_t storedRows =
        Info.Tiled ? ((h + Info.TileLength - 1) / Info.TileLength) * Info.TileLength : h;
    const std::int64_t blocksAcross = Info.Tiled ? (w + Info.TileWidth - 1) / Info.TileWidth : 1;
    if (rowBytes > std::numeric_limits<std::int32_t>::max() / 2) return "invalid image size";
    const std::int64_t stored = MulSat(MulSat(rowBytes, storedRows), blocksAcross);
    const bool wantsMask = Format.AlphaIndex >= 0;
    const std::int64_t bitmapBytes =
        AddSat(MulSat(RowStrideOf(allocW, BitsPerPixelOf(Format.Target)), allocH), wantsMask ? w * h : 0);
    if (!StreamCanHold(bitmapBytes, stored / MaxExpansion(Info.Compression), Src.Size))
        return std::string(reasons::kLargerThanFile);
    if (const std::string why = UndecodableReason(); !why.empty()) return why;

    if (wantsMask) {
        if (!mask) mask = std::make_unique<TIEMask>();
        mask->Allocate(int(w), int(h), 8);
        mask->Fill(255);
        Mask = mask.get();
    }
    if (Info.Compression == cmpOldJpeg) {
        OldJpeg = PlanOldJpeg(Src, Info);
        if (!OldJpeg.Refusal.empty()) return OldJpeg.Refusal;
        if (OldJpeg.Mode == TOldJpegPlan::TMode::Whole) return {}; // the JPEG reader allocates
        if (PlaneCount > 1) return "unsupported: old-style JPEG in separate planes";
    }
    Bitmap.Reallocate(int(allocW), int(allocH), Format.Target);
    Format.Target = Bitmap.PixelType(); // a platform bitmap keeps 16 bit grey as 8 bit
    Bitmap.FillAll(Format.Target == ie1Bit ? 1.0 : 0.0);
    return {};
}

std::string TTiffDecoder::UndecodableReason() const {
    const std::uint32_t c = Info.Compression;
    if (c == cmpSgiLog || c == cmpSgiLog24 || Info.Photometric == phLogL || Info.Photometric == phLogLuv) {
        // The run-length form with 16-bit LogL or 32-bit LogLuv pixels; the 24-bit form's chromaticity
        // needs a table of cells this reader does not have.
        const bool shape =
            Info.BitsPerSample == 16 && ((Info.Photometric == phLogL && Info.SamplesPerPixel == 1) ||
                                         (Info.Photometric == phLogLuv && Info.SamplesPerPixel == 3));
        if (c == cmpSgiLog24) return "unsupported: LogLuv in 24-bit coding";
        if (c != cmpSgiLog || !shape || PlaneCount > 1 || Info.Tiled) return "unsupported: LogLuv";
        return Info.Offsets.empty() ? "no image data" : "";
    }
    if (c == cmpOldJpeg && Info.JpegProc < 2) return {};
    if (c == cmpOldJpeg) return "unsupported JPEG process";
    if (!IsRowCompression(c) && c != cmpJpeg) return reasons::Unsupported("compression", c);
    if (c == cmpJpeg) return PlaneCount > 1 ? "unsupported: JPEG data in separate planes" : "";
    if (c == cmpLzw && !Lzw) return "LZW decoding is not part of this build";
    if (Format.Kind == TConversion::YCbCr && PlaneCount > 1) return "unsupported: YCbCr in separate planes";
    if (Format.Kind == TConversion::YCbCr && !Info.YCbCr.Valid())
        return "unsupported: YCbCr subsampling " + std::to_string(Info.YCbCr.H) + " x " +
               std::to_string(Info.YCbCr.V);
    if (c == cmpWebp && (Info.BitsPerSample != 8 || PlaneCount > 1 ||
                         (Info.SamplesPerPixel != 3 && Info.SamplesPerPixel != 4)))
        return "unsupported: WebP data other than 8-bit RGB or RGBA";
    if (Format.Kind == TConversion::Unsupported || (IsCcitt(c) && Format.Kind != TConversion::Bilevel)) {
        const int n = Info.SamplesPerPixel;
        return "unsupported: " + std::to_string(n) + (n == 1 ? " sample" : " samples") + " of " +
               std::to_string(Info.BitsPerSample) + " bits, photometric " + std::to_string(Info.Photometric);
    }
    if (Info.Offsets.empty()) return "no image data";
    return {};
}

void TTiffDecoder::Run(bool ignoreAlpha, std::unique_ptr<TIEMask>& mask) {
    TAccessGuard access(Bitmap);
    // Nothing is allocated for an image this reader cannot fill: no made-up page.
    if (const std::string why = Prepare(ignoreAlpha, mask); !why.empty()) {
        Progress.Fail(why);
        return;
    }
    const std::uint32_t c = Info.Compression;
    if (c == cmpOldJpeg && OldJpeg.Mode == TOldJpegPlan::TMode::Whole) {
        const std::vector<std::uint8_t>& data = OldJpeg.Stream;
        const double limit = std::max(double(kFreeAllowance), double(MaxExpansion(c)) * double(data.size()));
        DecodeOldJpeg(data, Params, Progress, std::int64_t(std::min(limit, 9.0e18)), Bitmap);
    } else {
        // Whole rows are written once per strip, so a file-backed bitmap need not read them back; tiles and
        // JPEG blocks write parts of rows.
        if (!Info.Tiled && c != cmpJpeg && c != cmpOldJpeg) Bitmap.Access = AccessWrite;
        if (c == cmpSgiLog)
            DecodeLogStrips();
        else if (Info.Tiled)
            DecodeTiles();
        else
            DecodeStrips();
        if (DamagedRows > 0 && DamagedRows * 2 > CodedRows && !Progress.IsAborting())
            Progress.Fail(DamagedReason(c));
        // Blocks the file does not hold, or holds in part: their rows are missing, the others stay.
        if (MissingFirst >= 0 && !Progress.IsAborting()) {
            if (Params.TiffApplyOrientation && Info.Orientation >= 2 && Info.Orientation <= 8)
                Progress.DataEndsEarly(); // turned, the rows are no longer rows
            else
                Progress.DataEndsEarly(MissingFirst, MissingLast, Info.Height);
        }
        Bitmap.Access = access.Saved();
        if (Info.Tiled) {
            Bitmap.SetWidth(int(Info.Width));
            Bitmap.SetHeight(int(Info.Height));
        }
        if (Format.Target == ie8Palette)
            for (std::size_t i = 0; i < Info.ColorMap.size() && i < 256; ++i)
                Bitmap.SetPaletteEntry(int(i), Info.ColorMap[i]);
    }
    Bitmap.Access = access.Saved();
    // The decoder converts old-form YCbCr with its own standard; the file may say otherwise.
    if (c == cmpOldJpeg && Info.Photometric == phYCbCr && !Info.YCbCr.IsJpegStandard() &&
        Bitmap.PixelType() == ie24Rgb && !Progress.IsAborting())
        for (int y = 0; y < Bitmap.Height(); ++y)
            RecodeJpegColours(Info.YCbCr, Bitmap.RowPointer(y), Bitmap.Width());
    if (Params.TiffApplyOrientation && Info.Orientation >= 2 && Info.Orientation <= 8 && Bitmap.Width() > 0 &&
        Bitmap.Height() > 0) {
        ApplyTiffOrientation(Bitmap, Mask, Info.Orientation);
        if (Info.Orientation >= 5) {
            std::swap(Params.ImageWidth, Params.ImageHeight);
            const int dpiX = Params.HorizontalDpi;
            Params.SetHorizontalDpi(Params.VerticalDpi);
            Params.SetVerticalDpi(dpiX);
        }
    }
}

void ReadCore(TIEBitmap* bitmap, TStream& stream, int& frameCount, bool forceDecode, bool ignoreAlpha,
              bool relativeOffsets, std::unique_ptr<TIEMask>* mask, bool headerOnly,
              TIEProgressRecord& progress, TIOParamsVals* params) {
    frameCount = 0;
    TTiffSource src(stream, relativeOffsets ? stream.Position() : 0);
    TTiffChain chain = WalkChain(src, params ? params->TiffFrameIndex : -1);
    if (chain.BadHeader) {
        progress.Fail(chain.Problem);
        return;
    }
    frameCount = chain.Count;
    if (params && bitmap && !headerOnly && chain.Count == 0) progress.Fail("no image in the file");
    if (!params || !bitmap || !chain.Found) return;
    const TTiffDirectory& dir = chain.Wanted;

    const std::uint32_t exifOffset = dir.Single(tagExifIfd, 0);
    if (exifOffset > 0) {
        TTiffDirectory exif;
        if (LoadDirectory(src, exifOffset, exif)) params->HasExifData = true;
    }

    const std::vector<std::uint32_t> bps = dir.Values(tagBitsPerSample, 65536);
    if (std::adjacent_find(bps.begin(), bps.end(), std::not_equal_to<>()) != bps.end()) {
        progress.Fail("unsupported: samples of different bit depths");
        return;
    }
    TImageInfo info = ReadInfo(
        dir, int(std::min<std::uint32_t>(bps.empty() ? dir.Single(tagBitsPerSample, 1) : bps[0], 0xFFFF)));
    FillParams(dir, info, chain.Count, *params);
    if ((info.Width == 0 || info.Height == 0) && !forceDecode) {
        progress.Fail(reasons::kNoPixels);
        return;
    }
    const TTiffLzwDecoder lzw = params->TiffLzwDecoder ? params->TiffLzwDecoder : DefaultTiffLzwDecoder;
    if (info.Compression == cmpLzw && !lzw) {
        progress.Fail("LZW decoding is not part of this build");
        return;
    }
    if (headerOnly) return;
    TTiffDecoder decoder(src, info, *bitmap, progress, *params, lzw);
    decoder.Run(ignoreAlpha, *mask);
}

} // namespace

void ReadTiffStream(TIEBitmap& Bitmap, TStream& Stream, int& FrameCount, bool ForceDecode, bool IgnoreAlpha,
                    bool RelativeOffsets, std::unique_ptr<TIEMask>& Mask, bool HeaderOnly,
                    TIEProgressRecord& Progress, TIOParamsVals& Params) {
    try {
        ReadCore(&Bitmap, Stream, FrameCount, ForceDecode, IgnoreAlpha, RelativeOffsets, &Mask, HeaderOnly,
                 Progress, &Params);
    } catch (const EIEJpegException&) {
        Progress.Fail("damaged JPEG tables");
    } catch (const std::exception& e) {
        // Allocation refusals and stream failures: the read ends as failed.
        FailFromException(Progress, e);
    }
}

int GetTiffFrameCount(TStream& Stream) {
    bool aborting = false;
    TIEProgressRecord progress(aborting);
    int count = 0;
    const std::int64_t position = Stream.Position();
    try {
        ReadCore(nullptr, Stream, count, false, true, true, nullptr, false, progress, nullptr);
    } catch (const std::exception&) {
        // count keeps what the walk found before the failure
    }
    Stream.SetPosition(position);
    return count;
}

bool IsTiffStream(TStream& Stream) {
    const std::int64_t position = Stream.Position();
    bool result = false;
    if (Stream.Size() > 8) {
        std::uint8_t b[2] = {0, 0};
        if (Stream.Read(b, 2) == 2) result = (b[0] == 'I' && b[1] == 'I') || (b[0] == 'M' && b[1] == 'M');
    }
    Stream.SetPosition(position);
    return result;
}
