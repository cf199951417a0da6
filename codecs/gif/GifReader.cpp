#include "codecs/gif/GifReader.h"

#include "imaging/bitmap/IEBitmap.h"
#include "imaging/bitmap/IEMask.h"
#include "imaging/params/IOParams.h"
#include "imaging/params/ProgressRecord.h"
#include "imaging/params/ReadBudget.h"
#include "imaging/params/ReadFailures.h"
#include "platform/ByteOrder.h"
#include "platform/Stream.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <exception>
#include <vector>

namespace {

// A colour table as read, in blue-green-red order. It always has room for 256 entries and what the
// file does not give is black, so any 8-bit index can be looked up.
struct TGifColorTable {
    std::array<TIERgbTriple, 256> Entries{};
    int SizeBits = 0; // the file's size field s: 2^(s+1) entries
    bool Present = false;
};

struct TGraphicControl {
    int Delay = 0;
    bool HasTransparency = false;
    std::uint8_t TransparentIndex = 0;
    std::uint8_t Disposal = 0;
};

bool ReadByte(TStream& Stream, std::uint8_t& Value) {
    return Stream.Read(&Value, 1) == 1;
}

void ReadColorTable(TStream& Stream, int SizeBits, TGifColorTable& Table) {
    std::array<std::uint8_t, 768> raw{};
    const int count = 2 << SizeBits;
    Stream.Read(raw.data(), count * 3); // a short table leaves its last entries black
    for (int i = 0; i < count; ++i)
        Table.Entries[std::size_t(i)] =
            CreateRGB(raw[std::size_t(i) * 3], raw[std::size_t(i) * 3 + 1], raw[std::size_t(i) * 3 + 2]);
    Table.SizeBits = SizeBits;
    Table.Present = true;
}

// Skips data sub-blocks up to the zero-length terminator or the end of the stream.
void SkipSubBlocks(TStream& Stream) {
    std::uint8_t length = 0;
    while (ReadByte(Stream, length) && length != 0) Stream.Seek(length, TSeekOrigin::soCurrent);
}

// Data bytes of the image data starting at the position (code size byte, then sub-blocks); counts
// only bytes the stream really holds. The position is restored.
std::int64_t ImageDataBytes(TStream& Stream) {
    const std::int64_t start = Stream.Position();
    const std::int64_t size = Stream.Size();
    std::int64_t total = 0;
    std::uint8_t length = 0;
    if (ReadByte(Stream, length)) {
        while (ReadByte(Stream, length) && length != 0) {
            const std::int64_t here = Stream.Position();
            total += std::min<std::int64_t>(length, std::max<std::int64_t>(0, size - here));
            Stream.Seek(length, TSeekOrigin::soCurrent);
        }
    }
    Stream.SetPosition(start);
    return total;
}

// Most pixels one byte of LZW data can yield: a 12-bit code stands for at most 4,096 pixels, and
// narrower codes for proportionally fewer.
constexpr std::int64_t kMaxLzwPixelsPerByte = 4096 * 8 / 12;

// Rows of an image in the order its data fills them: top to bottom, or the four interlace passes.
std::vector<int> RowOrder(int Height, bool Interlaced) {
    std::vector<int> order;
    order.reserve(std::size_t(Height));
    if (!Interlaced) {
        for (int y = 0; y < Height; ++y) order.push_back(y);
        return order;
    }
    static constexpr int kStart[4] = {0, 4, 2, 1};
    static constexpr int kStep[4] = {8, 8, 4, 2};
    for (int pass = 0; pass < 4; ++pass)
        for (int y = kStart[pass]; y < Height; y += kStep[pass]) order.push_back(y);
    return order;
}

class TGifReader {
public:
    TGifReader(TStream& Stream, TIEBitmap& Bitmap, bool IgnoreAlpha, std::unique_ptr<TIEMask>& Mask,
               bool HeaderOnly, TIEProgressRecord& Progress, TIOParamsVals& Params)
        : FStream(Stream), FBitmap(Bitmap), FIgnoreAlpha(IgnoreAlpha), FMask(Mask), FHeaderOnly(HeaderOnly),
          FProgress(Progress), FParams(Params) {}

    void Run();
    int ImagesSeen = 0;

private:
    void ReadExtension();
    void ReadImage();
    void DecodeChosenFrame(const std::uint8_t* Descriptor, const TGifColorTable& Local);
    void FillBitmap(const std::vector<std::uint8_t>& Indexes, const TGifColorTable& Table, int Width,
                    int Height);

    TStream& FStream;
    TIEBitmap& FBitmap;
    bool FIgnoreAlpha;
    std::unique_ptr<TIEMask>& FMask;
    bool FHeaderOnly;
    TIEProgressRecord& FProgress;
    TIOParamsVals& FParams;
    void BoundScreen();
    void MarkMissing(TIEMask& Mask, int Width, int Height, bool Interlaced, std::int64_t Placed);

    TGifColorTable FGlobal;
    std::uint8_t FBackgroundIndex = 0;
    TGraphicControl FControl;
    // How far the images reach on the screen: the union of their rectangles.
    std::int64_t FImagesRight = 0, FImagesBottom = 0;
};

void TGifReader::Run() {
    std::uint8_t header[13] = {};
    FStream.Read(header, sizeof header);
    if (std::memcmp(header, "GIF", 3) != 0) {
        FProgress.Fail("not a GIF file");
        return;
    }
    FParams.GifVersion.assign(reinterpret_cast<const char*>(header), 6);
    FParams.GifScreenWidth = ReadLe16(header + 6);
    FParams.GifScreenHeight = ReadLe16(header + 8);
    FParams.GifAspectRatio = header[12];
    FParams.SetHorizontalDpi(DefaultDpiX);
    FParams.SetVerticalDpi(DefaultDpiY);
    FParams.SamplesPerPixel = 1;
    FBackgroundIndex = header[11];
    FParams.GifHasGlobalColorTable = (header[10] & 0x80) != 0;
    if (FParams.GifHasGlobalColorTable) {
        ReadColorTable(FStream, header[10] & 7, FGlobal);
        FParams.GifBackgroundColor = FGlobal.Entries[FBackgroundIndex];
    }
    if (FStream.Position() >= FStream.Size()) FProgress.Fail("no image in the file");

    while (!FProgress.IsAborting()) {
        std::uint8_t introducer = 0;
        if (!ReadByte(FStream, introducer) || introducer == ';') break; // the end counts as the trailer
        if (introducer == '!') {
            ReadExtension();
        } else if (introducer == ',') {
            ReadImage();
            ++ImagesSeen;
        }
        // Any other byte is stray data between blocks: skipped.
    }
    if (!FHeaderOnly && ImagesSeen == 0) FProgress.Fail("no image in the file");
    if (!FProgress.IsAborting()) BoundScreen();
}

// A frame is composed on a canvas of the logical screen. A few bytes may claim a screen of gigabytes:
// a screen that the file's data could not plausibly fill is cut to where its images reach, and a
// file whose images themselves lie that far out gives no image.
void TGifReader::BoundScreen() {
    const auto canvasBytes = [](std::int64_t w, std::int64_t h) { return MulSat(MulSat(w, h), 4); };
    const auto leastData = [](std::int64_t w, std::int64_t h) { return MulSat(w, h) / kMaxLzwPixelsPerByte; };
    const std::int64_t size = FStream.Size();
    std::int64_t w = FParams.GifScreenWidth, h = FParams.GifScreenHeight;
    if (StreamCanHold(canvasBytes(w, h), leastData(w, h), size)) return;
    w = std::min(w, FImagesRight);
    h = std::min(h, FImagesBottom);
    if (!FHeaderOnly && !StreamCanHold(canvasBytes(w, h), leastData(w, h), size)) {
        FProgress.Fail(reasons::kLargerThanFile);
        return;
    }
    FParams.GifScreenWidth = std::int32_t(w);
    FParams.GifScreenHeight = std::int32_t(h);
}

void TGifReader::ReadExtension() {
    std::uint8_t label = 0;
    if (!ReadByte(FStream, label)) return;
    if (label == 0xF9 && ImagesSeen == FParams.GifFrameIndex) {
        // Only the extensions in front of the chosen image describe it; a later one in the same place
        // replaces an earlier one.
        std::uint8_t length = 0;
        if (!ReadByte(FStream, length)) return;
        std::array<std::uint8_t, 255> data{};
        FStream.Read(data.data(), length);
        FControl.Disposal = std::uint8_t((data[0] >> 2) & 7);
        FControl.HasTransparency = (data[0] & 1) != 0;
        FControl.Delay = ReadLe16(&data[1]);
        FControl.TransparentIndex = data[3];
        if (length != 0) SkipSubBlocks(FStream); // the terminator, and whatever an odd block size left
    } else if (label == 0xFE) {
        std::uint8_t length = 0;
        std::array<char, 256> text{};
        while (ReadByte(FStream, length) && length != 0) {
            const std::int64_t got = FStream.Read(text.data(), length);
            const char* begin = text.data();
            const char* stop =
                std::find(begin, begin + (got > 0 ? got : 0), '\0'); // text ends at a zero byte
            if (stop != begin) FParams.GifComments.emplace_back(begin, stop);
            if (got != length) break;
        }
    } else {
        SkipSubBlocks(FStream);
    }
}

void TGifReader::ReadImage() {
    std::uint8_t descriptor[9] = {};
    FStream.Read(descriptor, sizeof descriptor);
    FImagesRight = std::max<std::int64_t>(FImagesRight, ReadLe16(descriptor) + ReadLe16(descriptor + 4));
    FImagesBottom =
        std::max<std::int64_t>(FImagesBottom, ReadLe16(descriptor + 2) + ReadLe16(descriptor + 6));
    TGifColorTable local;
    if (descriptor[8] & 0x80) ReadColorTable(FStream, descriptor[8] & 7, local);
    if (ImagesSeen != FParams.GifFrameIndex) {
        std::uint8_t codeSize = 0;
        if (ReadByte(FStream, codeSize)) SkipSubBlocks(FStream);
        return;
    }
    DecodeChosenFrame(descriptor, local);
}

void TGifReader::DecodeChosenFrame(const std::uint8_t* Descriptor, const TGifColorTable& Local) {
    FProgress.ReportPercent(30);
    if (FProgress.IsAborting()) return;

    const int width = ReadLe16(Descriptor + 4);
    const int height = ReadLe16(Descriptor + 6);
    const bool interlaced = (Descriptor[8] & 0x40) != 0;
    // The frame's table: local, else global; a frame with neither gets an all-black table of the size
    // its descriptor names.
    TGifColorTable none;
    none.SizeBits = Descriptor[8] & 7;
    const TGifColorTable& table = Local.Present ? Local : FGlobal.Present ? FGlobal : none;

    FParams.GifFrameLeft = ReadLe16(Descriptor);
    FParams.GifFrameTop = ReadLe16(Descriptor + 2);
    FParams.ImageWidth = width;
    FParams.ImageHeight = height;
    FParams.GifDelay = FControl.Delay;
    FParams.GifHasTransparency = FControl.HasTransparency;
    FParams.GifInterlaced = interlaced;
    FParams.GifDisposal = FControl.Disposal;
    FParams.GifTransparentColor = table.Entries[FControl.TransparentIndex];

    std::vector<std::uint8_t> indexes;
    std::int64_t placed = 0;
    const std::int64_t pixels = std::int64_t(width) * height;
    if (!FHeaderOnly) {
        // A frame without pixels, or one larger than its data could ever fill, is not allocated.
        if (pixels == 0) {
            FProgress.Fail(reasons::kNoPixels);
            return;
        }
        if (!StreamCanHold(MulSat(pixels, 5), pixels / kMaxLzwPixelsPerByte, ImageDataBytes(FStream))) {
            FProgress.Fail(reasons::kLargerThanFile);
            return;
        }
        // Pixels the data does not reach show the background index.
        indexes.assign(std::size_t(pixels), FBackgroundIndex);
        const std::int64_t before = FStream.Position();
        const TGifLzwDecoder decoder = FParams.GifLzwDecoder ? FParams.GifLzwDecoder : DefaultGifLzwDecoder;
        if (!decoder) {
            FProgress.Fail("GIF decoding is not part of this build");
            return;
        }
        placed = decoder(FStream, height, width, indexes.data(), interlaced);
        if (FStream.Position() == before) {
            FProgress.Fail("damaged LZW data");
            return;
        }
        // No complete row from a frame's data: no image (interlaced data fills row 0 first as well).
        if (placed < width) {
            FProgress.Fail(reasons::kNoRowData);
            return;
        }
        FProgress.ReportPercent(70);
        if (FProgress.IsAborting()) return;
    }

    FParams.BitsPerSample = table.SizeBits + 1;
    FParams.PaletteCount = 1 << FParams.BitsPerSample;
    FParams.SetPalette(table.Entries.data(), FParams.PaletteCount);
    if (FHeaderOnly) return;
    FillBitmap(indexes, table, width, height);
    if (placed < pixels) {
        // The data ended inside the frame: what it did not reach is no part of the picture.
        if (FMask) MarkMissing(*FMask, width, height, interlaced, placed);
        if (interlaced)
            FProgress.DataEndsEarly();
        else
            FProgress.DataEndsEarly(placed / width, height - 1, height);
    }
}

// The rows the data did not complete, in the order it fills them, become transparent: a cut row is
// reported missing, so none of it stays on the page.
void TGifReader::MarkMissing(TIEMask& Mask, int Width, int Height, bool Interlaced, std::int64_t Placed) {
    const std::vector<int> order = RowOrder(Height, Interlaced);
    for (std::size_t k = 0; k < order.size(); ++k)
        if ((std::int64_t(k) + 1) * Width > Placed)
            std::memset(Mask.RowPointer(order[k]), 0, std::size_t(Width));
    Mask.FullyOpaque = false;
}

void TGifReader::FillBitmap(const std::vector<std::uint8_t>& Indexes, const TGifColorTable& Table, int Width,
                            int Height) {
    const int count = FParams.PaletteCount;
    TIEPixelFormat format = FParams.NativePixelFormat ? ie8Palette : ie24Rgb;
    if (FParams.BitsPerSample == 1 && Table.Entries[0] == CreateRGB(0, 0, 0) &&
        Table.Entries[1] == CreateRGB(255, 255, 255))
        format = ie1Bit;
    FBitmap.Reallocate(Width, Height, format);
    if (format == ie8Palette) {
        for (int i = 0; i < count; ++i) FBitmap.SetPaletteEntry(i, Table.Entries[std::size_t(i)]);
        FBitmap.SetPaletteLength(count);
    }
    TIEMask* mask = nullptr;
    if (!FIgnoreAlpha) {
        if (!FMask) FMask = std::make_unique<TIEMask>();
        mask = FMask.get();
        mask->Allocate(Width, Height, 8);
        mask->Fill(255);
        mask->FullyOpaque = false;
    }
    const bool transparency = mask && FControl.HasTransparency;
    const std::uint8_t transparent = FControl.TransparentIndex;

    for (int y = 0; y < Height; ++y) {
        const std::uint8_t* src = Indexes.data() + std::size_t(y) * std::size_t(Width);
        std::uint8_t* row = FBitmap.RowPointer(y);
        switch (format) {
        case ie1Bit:
            std::memset(row, 0, std::size_t(Width + 7) / 8);
            for (int x = 0; x < Width; ++x)
                if (src[x] == 1) row[x >> 3] |= std::uint8_t(0x80 >> (x & 7));
            break;
        case ie8Palette:
            std::memcpy(row, src, std::size_t(Width));
            break;
        default:
            for (int x = 0; x < Width; ++x) std::memcpy(row + x * 3, &Table.Entries[src[x]], 3);
            break;
        }
        if (transparency) {
            std::uint8_t* alpha = mask->RowPointer(y);
            for (int x = 0; x < Width; ++x)
                if (src[x] == transparent) alpha[x] = 0;
        }
    }
}

} // namespace

void ReadGifStream(TStream& Stream, TIEBitmap& Bitmap, int& FrameCount, bool IgnoreAlpha,
                   std::unique_ptr<TIEMask>& Mask, bool HeaderOnly, TIEProgressRecord& Progress,
                   TIOParamsVals& Params) {
    FrameCount = 0;
    Progress.ReportPercent(0);
    if (Progress.IsAborting()) return;
    // A frame's load walks the blocks of every frame of the file, a byte or a sub-block at a time.
    TBufferedReader buffered(Stream);
    TGifReader reader(buffered, Bitmap, IgnoreAlpha, Mask, HeaderOnly, Progress, Params);
    try {
        reader.Run();
    } catch (const std::exception& e) {
        FailFromException(Progress, e);
    }
    FrameCount = reader.ImagesSeen;
    Params.GifFrameCount = reader.ImagesSeen;
    if (!Progress.IsAborting()) Progress.ReportPercent(100);
}

int CountGifFrames(TStream& source) {
    TBufferedReader Stream(source);
    std::uint8_t header[13] = {};
    Stream.Read(header, sizeof header);
    if (std::memcmp(header, "GIF", 3) != 0) return 0;
    if (header[10] & 0x80) Stream.Seek(3 * (2 << (header[10] & 7)), TSeekOrigin::soCurrent);
    int count = 0;
    std::uint8_t introducer = 0;
    while (ReadByte(Stream, introducer) && introducer != ';') {
        if (introducer == '!') {
            std::uint8_t label = 0;
            if (ReadByte(Stream, label)) SkipSubBlocks(Stream);
        } else if (introducer == ',') {
            std::uint8_t descriptor[9] = {};
            Stream.Read(descriptor, sizeof descriptor);
            if (descriptor[8] & 0x80) Stream.Seek(3 * (2 << (descriptor[8] & 7)), TSeekOrigin::soCurrent);
            std::uint8_t codeSize = 0;
            if (ReadByte(Stream, codeSize)) SkipSubBlocks(Stream);
            ++count;
        }
    }
    return count;
}

int GetGifFrameCount(const std::string& FileName) {
    TFileStream stream(FileName, fmOpenRead | fmShareDenyWrite);
    return CountGifFrames(stream);
}

bool IsGifStream(TStream& Stream) {
    if (Stream.Size() <= 13) return false;
    const std::int64_t start = Stream.Position();
    std::uint8_t header[13] = {};
    const std::int64_t got = Stream.Read(header, sizeof header);
    Stream.SetPosition(start);
    return got >= 3 && std::memcmp(header, "GIF", 3) == 0;
}
