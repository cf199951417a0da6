#include "codecs/wbmp/WbmpReader.h"

#include "imaging/params/ReadBudget.h"
#include "imaging/params/ReadFailures.h"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <exception>

namespace {

// A 32-bit size needs at most five 7-bit groups.
constexpr int kMaxIntegerBytes = 5;

struct TWbmpHeader {
    std::int64_t Width = 0, Height = 0;
    std::int64_t RowBytes() const { return (Width + 7) / 8; }
};

// A multi-byte integer: 7 bits per byte, most significant first, the top bit set on all but the last.
bool ReadInteger(TStream& Stream, std::int64_t& value) {
    value = 0;
    for (int i = 0; i < kMaxIntegerBytes; ++i) {
        std::uint8_t b;
        if (Stream.Read(&b, 1) != 1) return false;
        value = value << 7 | (b & 0x7F);
        if ((b & 0x80) == 0) return value <= INT32_MAX;
    }
    return false;
}

bool ReadHeader(TStream& Stream, TWbmpHeader& h) {
    std::uint8_t fixed[2];
    if (Stream.Read(fixed, 2) != 2 || fixed[0] != 0 || fixed[1] != 0) return false;
    return ReadInteger(Stream, h.Width) && ReadInteger(Stream, h.Height) && h.Width > 0 && h.Height > 0;
}

} // namespace

void ReadWbmpStream(TStream& Stream, TIEBitmap& Bitmap, TIOParamsVals& Params, bool HeaderOnly,
                    TIEProgressRecord& Progress) {
    TWbmpHeader h;
    try {
        if (!ReadHeader(Stream, h)) {
            Progress.Fail("not a WBMP image of type 0");
            return;
        }
        Params.ImageWidth = static_cast<std::int32_t>(h.Width);
        Params.ImageHeight = static_cast<std::int32_t>(h.Height);
        Params.BitsPerSample = 1;
        Params.SamplesPerPixel = 1;
        Params.HorizontalDpi = DefaultDpiX;
        Params.VerticalDpi = DefaultDpiY;
        Params.FreePalette();
        if (HeaderOnly) return;

        const std::int64_t rowBytes = h.RowBytes();
        const std::int64_t needed = rowBytes * h.Height; // both below 2^31
        if (!StreamCanHold(MulSat(RowStrideOf(h.Width, 1), h.Height), needed, Stream.Remaining())) {
            Progress.Fail(reasons::kLargerThanFile);
            return;
        }
        Progress.PercentPerUnit = 100.0 / double(h.Height);
        const int height = static_cast<int>(h.Height);
        Bitmap.Reallocate(static_cast<int>(h.Width), height, ie1Bit);
        int shortRow = height; // the first row the data did not fill
        for (int y = 0; y < height; ++y) {
            std::uint8_t* row = Bitmap.RowPointer(y);
            std::memset(row, 0xFF, static_cast<std::size_t>(Bitmap.RowStride())); // unread bits stay white
            if (shortRow == height && Stream.Read(row, rowBytes) < rowBytes) shortRow = y;
            Progress.ReportPercent(static_cast<int>(std::trunc(y * Progress.PercentPerUnit)));
        }
        if (shortRow < height) Progress.DataEndsEarly(shortRow, height - 1, height);
    } catch (const std::exception& e) { // the bitmap refused the size, or the stream failed
        FailFromException(Progress, e);
    }
}

bool IsWbmpStream(TStream& Stream) {
    const std::int64_t start = Stream.Position();
    bool result = false;
    try {
        TWbmpHeader h;
        result = ReadHeader(Stream, h) && h.RowBytes() * h.Height <= Stream.Remaining();
    } catch (const std::exception&) {
        result = false;
    }
    Stream.SetPosition(start);
    return result;
}
