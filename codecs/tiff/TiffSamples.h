#pragma once
// Stages for samples wider than a byte or not plain unsigned integers: signed values laid onto the
// unsigned range, the floating-point predictor undone, and wide samples narrowed to 8 bits.
#include <cstddef>
#include <cstdint>

namespace tiff {

// SampleFormat tag values.
enum TSampleFormat : std::uint32_t { sfUnsigned = 1, sfSigned = 2, sfFloat = 3 };

// Predictor tag values: horizontal differencing of integers, and of floating-point bytes.
constexpr std::uint32_t kPredictorHorizontal = 2;
constexpr std::uint32_t kPredictorFloat = 3;

// Signed samples are shown the way viewers show them: the range -max..max laid onto 0..2max, which
// flipping the sign bit does (two's complement plus half the range). bits is 8, 16, 32 or 64, samples
// in the file's byte order.
void FlipSignBits(std::uint8_t* samples, std::size_t count, int bits, bool bigEndian);

// The floating-point predictor undone: row holds count samples of bytes bytes, their bytes sorted by
// significance (all most significant bytes first) and differenced with the bytes stride samples before.
// out receives the samples in the file's byte order.
void UndoFloatPredictor(std::uint8_t* row, std::size_t count, int bytes, int stride, bool bigEndian,
                        std::uint8_t* out);

// Samples of 16, 32 or 64 bits (integers or IEEE floating point) to one byte each: integers keep their
// high byte, floats map 0..1 onto 0..255 (rounded and clamped; not-a-number is 0).
void NarrowSamples(const std::uint8_t* in, std::size_t count, int bits, bool isFloat, bool bigEndian,
                   std::uint8_t* out);

// Premultiplied colour divided by its opacity at the samples' own precision (16 or 32-bit integers in
// the file's byte order), before narrowing loses it. Pixels of spp samples; the first colours samples
// are colour, alphaIndex the opacity.
void UnpremultiplyWide(std::uint8_t* samples, std::size_t pixels, int spp, int colours, int alphaIndex,
                       int bits, bool bigEndian);

// Whether NarrowSamples takes samples of this depth and format.
bool CanNarrow(int bits, bool isFloat);

} // namespace tiff
