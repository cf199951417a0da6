#pragma once
// A decoded JPEG 2000 image: the small set of facilities the JPEG 2000 reader needs, over the
// OpenJPEG library. Only this file's .cpp includes the library's header.
#include <cstdint>
#include <string>
#include <vector>

class TStream;
struct opj_image;

enum TJ2kColorModel : int { j2kOtherModel = 0, j2kGray = 1, j2kRgb = 2, j2kYCbCr = 3, j2kCmyk = 4 };

// How a component's samples cover the colour: not at all, as straight or as premultiplied opacity.
enum class TJ2kAlpha { None, Straight, Premultiplied };

// An upper bound for the bytes of decoded samples one image may take besides what its code stream
// can plausibly hold; 0 (the default) sets none. Fuzzers lower it.
extern std::uint64_t J2kMaxDecodedBytes;

class TJ2kImage {
public:
    TJ2kImage() = default;
    ~TJ2kImage();
    TJ2kImage(const TJ2kImage&) = delete;
    TJ2kImage& operator=(const TJ2kImage&) = delete;

    // Decodes a JP2 file (signature box) or a bare code stream (SOC then SIZ) from the stream's
    // position, telling the two apart by their first bytes. False for anything else, for data the
    // library cannot decode and for images larger than the code stream could plausibly hold, which
    // are refused from the main header before the library allocates anything for them; Refusal says
    // why. The library's messages are dropped.
    bool Decode(TStream& Stream);
    const std::string& Refusal() const { return FRefusal; }

    int Width() const;
    int Height() const;
    // Grey, RGB, YCbCr or CMYK as the file declares; a file that declares none counts as RGB with
    // three or more colour components and as grey below that.
    TJ2kColorModel ColorModel() const;
    int ComponentCount() const;
    // Index of the colour component of a type (0, 1, 2: grey or red or Y, green or Cb, blue or Cr),
    // counting colour components in order and skipping alpha; -1 when there is none.
    int ComponentByType(int Type) const;
    // The first component the file marks as opacity, -1 for none, and its kind.
    int AlphaComponent() const;
    TJ2kAlpha AlphaKind(int K) const;

    // Geometry of component K in image pixels: the position of its first sample relative to the
    // image's top-left corner, its sampling steps and the size of its sample matrix.
    int LeftOffset(int K) const;
    int TopOffset(int K) const;
    int HorizontalStep(int K) const;
    int VerticalStep(int K) const;
    int ComponentWidth(int K) const;
    int ComponentHeight(int K) const;
    int Precision(int K) const;
    bool IsSigned(int K) const;
    // Sample at Row, Col of component K; both must lie inside the component.
    std::int32_t Sample(int K, int Row, int Col) const {
        return FData[std::size_t(K)]
                    [static_cast<std::size_t>(Row) * FStride[std::size_t(K)] + std::size_t(Col)];
    }

private:
    void Release();
    bool DecodeFrom(TStream& Stream, std::int64_t Start, std::int64_t Length, bool Jp2, int PaletteChannels);

    opj_image* FImage = nullptr;
    std::string FRefusal;
    // Per component, for the pixel loop: the sample matrix and its row length.
    std::vector<const std::int32_t*> FData;
    std::vector<std::size_t> FStride;
};
