#pragma once
// Log-encoded luminance (LogL, 16 bits) and luminance with chromaticity (LogLuv, 32 bits) in their
// run-length coding, brought to 8-bit pixels for the page: luminance clamped to [0, 1] with a gamma
// of 2, chromaticity through BT.709 primaries with an equal-energy white.
#include <cstddef>
#include <cstdint>
#include <span>

namespace tiff {

enum : std::uint32_t { cmpSgiLog = 34676, cmpSgiLog24 = 34677 };
enum : int { phLogL = 32844, phLogLuv = 32845 };

// Bytes of one pixel: 2 for LogL, 4 for LogLuv.
int LogLuvPixelBytes(int photometric);

// Decodes one row of width pixels of pixelBytes each from data at pos (advanced past it) into pixels,
// whole words in the order of their bytes (most significant first). Each byte of the words is coded
// apart, as runs (a count byte of 128 + n - 2 then the byte, n times) or literals (a count below 128
// then that many bytes). False when data ends before the row does.
bool DecodeLogRow(std::span<const std::uint8_t> data, std::size_t& pos, int width, int pixelBytes,
                  std::uint8_t* pixels);

// Turns width decoded pixels into blue, green, red bytes.
void LogPixelsToBgr(const std::uint8_t* pixels, int width, int pixelBytes, std::uint8_t* bgr);

} // namespace tiff
