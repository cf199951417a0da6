#include "codecs/pnm/PxmReader.h"

#include "imaging/params/ReadBudget.h"
#include "imaging/params/ReadFailures.h"
#include "platform/ByteOrder.h"
#include "platform/Exceptions.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <exception>
#include <string>
#include <vector>

namespace {

constexpr std::int64_t kNotANumber = -1;
// Numbers are read saturated: anything this large is no size and, as a sample, is above any maximum.
constexpr std::int64_t kNumberCap = std::int64_t(1) << 40;
constexpr int kDetectionTokens = 501;
constexpr std::int64_t kLargestMaximum = 65535;

// Byte reads through a buffer; the logical position stays known, so raw data can follow the header.
class TByteInput {
public:
    explicit TByteInput(TStream& stream) : FStream(stream), FBuffer(65536) {}

    int Next() {
        if (FPos == FLength && !Refill()) return -1;
        return FBuffer[FPos++];
    }
    // Gives back the byte the last Next returned (it is still in the buffer).
    void PutBack() {
        if (FPos > 0) --FPos;
    }
    // Up to count bytes (buffered ones first); returns how many arrived.
    std::int64_t Read(std::uint8_t* out, std::int64_t count) {
        const std::int64_t buffered = std::min<std::int64_t>(count, std::int64_t(FLength - FPos));
        std::memcpy(out, FBuffer.data() + FPos, static_cast<std::size_t>(buffered));
        FPos += static_cast<std::size_t>(buffered);
        std::int64_t done = buffered;
        if (done < count && !FEnd) {
            const std::int64_t got = FStream.Read(out + done, count - done);
            if (got <= 0)
                FEnd = true;
            else
                done += got;
        }
        return done;
    }
    // Bytes between the logical position and the end of the stream.
    std::int64_t Remaining() { return std::int64_t(FLength - FPos) + FStream.Remaining(); }

private:
    bool Refill() {
        if (FEnd) return false;
        const std::int64_t got = FStream.Read(FBuffer.data(), std::int64_t(FBuffer.size()));
        if (got <= 0) {
            FEnd = true;
            return false;
        }
        FPos = 0;
        FLength = static_cast<std::size_t>(got);
        return true;
    }

    TStream& FStream;
    std::vector<std::uint8_t> FBuffer;
    std::size_t FPos = 0, FLength = 0;
    bool FEnd = false;
};

bool IsAlnum(int c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

enum class TTokenKind { Word, Comment, End };
struct TToken {
    TTokenKind Kind = TTokenKind::End;
    std::string Text;
    bool Negative = false; // a word right after a minus sign
};

std::string Trimmed(const std::string& s) {
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\v' || c == '\f'; };
    std::size_t b = 0, e = s.size();
    while (b < e && blank(s[b])) ++b;
    while (e > b && blank(s[e - 1])) --e;
    return s.substr(b, e - b);
}

// A word is a run of letters and digits; the byte that ends it is consumed, unless it starts a
// comment ("P6#made by ...") and more tokens follow. A comment runs from "#" to the end of the line.
// At the end of the stream the token ends, possibly empty.
TToken NextToken(TByteInput& in, bool moreTokens = true) {
    int c, before = -1;
    for (;;) {
        c = in.Next();
        if (c < 0 || IsAlnum(c) || c == '#') break;
        before = c;
    }
    TToken t;
    if (c < 0) return t;
    if (c == '#') {
        t.Kind = TTokenKind::Comment;
        while ((c = in.Next()) >= 0 && c != '\n' && c != '\r') t.Text += static_cast<char>(c);
        t.Text = Trimmed(t.Text);
        return t;
    }
    t.Kind = TTokenKind::Word;
    t.Negative = before == '-';
    t.Text += static_cast<char>(c);
    while ((c = in.Next()) >= 0 && IsAlnum(c)) t.Text += static_cast<char>(c);
    if (c == '#' && moreTokens) in.PutBack();
    return t;
}

std::int64_t NumberOf(const std::string& text) {
    if (text.empty()) return kNotANumber;
    std::int64_t v = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return kNotANumber;
        v = std::min(kNumberCap, v * 10 + (c - '0'));
    }
    return v;
}

// The next word of the header; comments on the way go to the list. False at the end of the stream.
bool HeaderWord(TByteInput& in, TIOParamsVals& Params, std::string& word, bool& negative, bool last = false) {
    for (;;) {
        TToken t = NextToken(in, !last);
        if (t.Kind == TTokenKind::Comment) {
            Params.PxmComments.push_back(std::move(t.Text));
            continue;
        }
        if (t.Kind == TTokenKind::End) return false;
        word = std::move(t.Text);
        negative = negative || t.Negative;
        return true;
    }
}

// One ASCII sample; comments in the pixel data are skipped. False at the end of the stream.
bool AsciiSample(TByteInput& in, std::int64_t& value) {
    for (;;) {
        const TToken t = NextToken(in);
        if (t.Kind == TTokenKind::Comment) continue;
        if (t.Kind == TTokenKind::End) return false;
        value = std::max<std::int64_t>(0, NumberOf(t.Text)); // a non-number counts as 0
        return true;
    }
}

struct TPxmHeader {
    int Kind = 0; // 1..6 for P1..P6, 0 otherwise
    std::int64_t Width = 0, Height = 0, Maximum = 1;
    bool Negative = false; // a size or maximum written with a minus sign
    int SampleBytes() const { return Maximum > 255 ? 2 : 1; }
};

// Magic, width, height and (except for bilevel files) the maximum. False when the stream ends first.
bool ReadHeader(TByteInput& in, TIOParamsVals& Params, TPxmHeader& h) {
    std::string word;
    bool negativeMagic = false;
    if (!HeaderWord(in, Params, word, negativeMagic)) return false;
    if (word.size() == 2 && word[0] == 'P' && word[1] >= '1' && word[1] <= '6') h.Kind = word[1] - '0';
    if (!HeaderWord(in, Params, word, h.Negative)) return false;
    h.Width = NumberOf(word);
    const bool bilevel = h.Kind == 1 || h.Kind == 4;
    // Raw data starts right after the byte that ends the last header word.
    const bool raw = h.Kind >= 4;
    if (!HeaderWord(in, Params, word, h.Negative, bilevel && raw)) return false;
    h.Height = NumberOf(word);
    if (bilevel) return true;
    if (!HeaderWord(in, Params, word, h.Negative, raw)) return false;
    h.Maximum = NumberOf(word);
    return true;
}

std::uint8_t Scaled(std::int64_t v, std::int64_t maximum) {
    return static_cast<std::uint8_t>(v >= maximum ? 255 : v * 255 / maximum);
}

// The fewest bytes that could hold the whole pixel data (ASCII: one character per sample).
std::int64_t MinimumDataBytes(const TPxmHeader& h) {
    const std::int64_t pixels = h.Width * h.Height; // both below 2^31
    switch (h.Kind) {
    case 1:
        return pixels;
    case 4:
        return (h.Width + 7) / 8 * h.Height;
    case 2:
        return pixels;
    case 3:
        return pixels <= INT64_MAX / 3 ? pixels * 3 : INT64_MAX;
    case 5:
        return pixels <= INT64_MAX / 2 ? pixels * h.SampleBytes() : INT64_MAX;
    default:
        return pixels <= INT64_MAX / 6 ? pixels * 3 * h.SampleBytes() : INT64_MAX;
    }
}

void FillRows(TIEBitmap& Bitmap, int from, std::uint8_t value) {
    for (int y = from; y < Bitmap.Height(); ++y)
        std::memset(Bitmap.RowPointer(y), value, static_cast<std::size_t>(Bitmap.RowStride()));
}

void AfterRow(TIEProgressRecord& Progress) {
    ++Progress.ProgressCounter;
    Progress.Report();
}

// The data ended in row y: that row and the ones after it are missing.
void RowsMissingFrom(int y, int height, TIEProgressRecord& Progress) {
    if (y < height) Progress.DataEndsEarly(y, height - 1, height);
}

void DecodeP1(TByteInput& in, TIEBitmap& Bitmap, const TPxmHeader& h, TIEProgressRecord& Progress) {
    const int width = static_cast<int>(h.Width), height = static_cast<int>(h.Height);
    int y = 0;
    for (; y < height; ++y) {
        std::uint8_t* row = Bitmap.RowPointer(y);
        std::memset(row, 0xFF, static_cast<std::size_t>(Bitmap.RowStride()));
        int x = 0;
        while (x < width) {
            int c = in.Next();
            if (c == '#') // a comment runs to the end of its line
                while (c >= 0 && c != '\n' && c != '\r') c = in.Next();
            if (c < 0) break;
            if (c == '1') row[x >> 3] = static_cast<std::uint8_t>(row[x >> 3] & ~(0x80 >> (x & 7)));
            if (c == '0' || c == '1') ++x;
        }
        if (x < width) break;
        if (y + 1 < height) AfterRow(Progress);
    }
    FillRows(Bitmap, std::min(y + 1, height), 0xFF);
    RowsMissingFrom(y, height, Progress);
}

void DecodeAscii(TByteInput& in, TIEBitmap& Bitmap, const TPxmHeader& h, TIEProgressRecord& Progress) {
    const int width = static_cast<int>(h.Width), height = static_cast<int>(h.Height);
    const int channels = h.Kind == 3 ? 3 : 1;
    bool end = false;
    int y = 0, shortRow = height;
    for (; y < height && !end; ++y) {
        std::uint8_t* row = Bitmap.RowPointer(y);
        std::memset(row, 0, static_cast<std::size_t>(Bitmap.RowStride()));
        for (int x = 0; x < width && !end; ++x) {
            std::uint8_t rgb[3] = {0, 0, 0};
            for (int c = 0; c < channels; ++c) {
                std::int64_t v = 0;
                if (!AsciiSample(in, v)) {
                    end = true;
                    shortRow = y;
                    break;
                }
                rgb[c] = Scaled(v, h.Maximum);
            }
            if (channels == 1) rgb[1] = rgb[2] = rgb[0];
            std::uint8_t* p = row + std::size_t(x) * 3;
            p[0] = rgb[2];
            p[1] = rgb[1];
            p[2] = rgb[0];
        }
        AfterRow(Progress);
    }
    FillRows(Bitmap, y, 0);
    RowsMissingFrom(shortRow, height, Progress);
}

void DecodeP4(TByteInput& in, TIEBitmap& Bitmap, const TPxmHeader& h, TIEProgressRecord& Progress) {
    const auto rowBytes = static_cast<std::size_t>((h.Width + 7) / 8);
    const int height = static_cast<int>(h.Height);
    int shortRow = height;
    for (int y = 0; y < height; ++y) {
        std::uint8_t* row = Bitmap.RowPointer(y);
        std::memset(row, 0, static_cast<std::size_t>(Bitmap.RowStride()));
        if (in.Read(row, std::int64_t(rowBytes)) < std::int64_t(rowBytes)) shortRow = std::min(shortRow, y);
        // The file's 1 is black; the bitmap's 1 is white. Bytes never read become white.
        for (std::size_t i = 0; i < rowBytes; ++i) row[i] = static_cast<std::uint8_t>(~row[i]);
        AfterRow(Progress);
    }
    RowsMissingFrom(shortRow, height, Progress);
}

void DecodeRaw(TByteInput& in, TIEBitmap& Bitmap, const TPxmHeader& h, TIEProgressRecord& Progress) {
    const auto width = static_cast<std::size_t>(h.Width);
    const int channels = h.Kind == 6 ? 3 : 1;
    const int sampleBytes = h.SampleBytes();
    // Samples of any maximum but 255 are stretched to the full range.
    const bool scale = h.Maximum != 255;
    std::vector<std::uint8_t> buffer;
    if (h.Kind == 5 || scale) buffer.resize(width * channels * sampleBytes);
    const int height = static_cast<int>(h.Height);
    int shortRow = height;
    for (int y = 0; y < height; ++y) {
        std::uint8_t* row = Bitmap.RowPointer(y);
        std::memset(row, 0, static_cast<std::size_t>(Bitmap.RowStride()));
        if (buffer.empty()) { // one-byte colour of maximum 255: straight into the row, then red and blue
                              // exchanged
            if (in.Read(row, std::int64_t(width * 3)) < std::int64_t(width * 3))
                shortRow = std::min(shortRow, y);
            for (std::size_t x = 0; x < width; ++x) std::swap(row[x * 3], row[x * 3 + 2]);
        } else {
            std::fill(buffer.begin(), buffer.end(), std::uint8_t(0));
            if (in.Read(buffer.data(), std::int64_t(buffer.size())) < std::int64_t(buffer.size()))
                shortRow = std::min(shortRow, y);
            const std::uint8_t* s = buffer.data();
            for (std::size_t x = 0; x < width; ++x) {
                std::uint8_t v[3];
                for (int c = 0; c < channels; ++c, s += sampleBytes) {
                    const std::int64_t raw = sampleBytes == 2 ? ReadBe16(s) : s[0];
                    v[c] = scale ? Scaled(raw, h.Maximum) : static_cast<std::uint8_t>(raw);
                }
                if (channels == 1) v[1] = v[2] = v[0];
                row[x * 3] = v[2];
                row[x * 3 + 1] = v[1];
                row[x * 3 + 2] = v[0];
            }
        }
        AfterRow(Progress);
    }
    RowsMissingFrom(shortRow, height, Progress);
}

} // namespace

void ReadPxmStream(TStream& Stream, TIEBitmap& Bitmap, TIOParamsVals& Params, bool HeaderOnly,
                   TIEProgressRecord& Progress) {
    Params.PxmComments.clear();
    TByteInput in(Stream);
    TPxmHeader h;
    if (!ReadHeader(in, Params, h)) {
        Progress.Fail("the header ends early");
        return;
    }
    const bool bilevel = h.Kind == 1 || h.Kind == 4;
    if (h.Negative) {
        Progress.Fail("negative number in the header");
        return;
    }
    if (h.Width == 0 || h.Height == 0) {
        Progress.Fail(reasons::kNoPixels);
        return;
    }
    if (h.Width < 0 || h.Height < 0 || h.Width > INT32_MAX || h.Height > INT32_MAX) {
        Progress.Fail("invalid image size");
        return;
    }

    Params.FreePalette();
    Params.ImageWidth = static_cast<std::int32_t>(h.Width);
    Params.ImageHeight = static_cast<std::int32_t>(h.Height);
    Params.HorizontalDpi = DefaultDpiX;
    Params.VerticalDpi = DefaultDpiY;
    Progress.PercentPerUnit = 100.0 / double(h.Height);
    Progress.ProgressCounter = 0;
    if (h.Kind == 0) {
        Progress.Fail("not a PBM, PGM or PPM file");
        return;
    }
    Params.BitsPerSample = bilevel ? 1 : 8;
    Params.SamplesPerPixel = h.Kind == 3 || h.Kind == 6 ? 3 : 1;
    // Scaling divides by the maximum; samples hold at most two bytes.
    if (!bilevel && (h.Maximum < 1 || h.Maximum > kLargestMaximum)) {
        Progress.Fail("invalid maximum sample value");
        return;
    }
    if (HeaderOnly) return;

    const TIEPixelFormat type = bilevel ? ie1Bit : ie24Rgb;
    if (!StreamCanHold(MulSat(RowStrideOf(h.Width, BitsPerPixelOf(type)), h.Height), MinimumDataBytes(h),
                       in.Remaining())) {
        Progress.Fail(reasons::kLargerThanFile);
        return;
    }
    try {
        Bitmap.Reallocate(static_cast<int>(h.Width), static_cast<int>(h.Height), type);
        switch (h.Kind) {
        case 1:
            DecodeP1(in, Bitmap, h, Progress);
            break;
        case 2:
        case 3:
            DecodeAscii(in, Bitmap, h, Progress);
            break;
        case 4:
            DecodeP4(in, Bitmap, h, Progress);
            break;
        default:
            DecodeRaw(in, Bitmap, h, Progress);
            break;
        }
    } catch (const std::exception& e) { // the bitmap refused the size, or the stream failed
        FailFromException(Progress, e);
    }
}

bool IsPxmStream(TStream& Stream) {
    const std::int64_t start = Stream.Position();
    bool result = false;
    try {
        TByteInput in(Stream);
        int tokens = 0;
        TToken t;
        const auto next = [&] {
            if (tokens >= kDetectionTokens) return false;
            ++tokens;
            t = NextToken(in);
            return true;
        };
        bool magicOk = false;
        while (next()) {
            if (t.Kind == TTokenKind::Comment) continue;
            magicOk = t.Text.size() == 2 && t.Text[0] == 'P' && t.Text[1] >= '1' && t.Text[1] <= '6';
            break;
        }
        // Width, then height; a comment or a token reading as 0 does not count.
        std::int64_t size[2] = {kNotANumber, kNotANumber};
        for (int i = 0; magicOk && i < 2; ++i) {
            while (next()) {
                if (t.Kind == TTokenKind::Comment) continue;
                const std::int64_t v = NumberOf(t.Text);
                if (v == 0) continue;
                size[i] = v;
                break;
            }
        }
        result = magicOk && size[0] > 0 && size[1] > 0;
    } catch (const std::exception&) {
        result = false;
    }
    Stream.SetPosition(start);
    return result;
}
