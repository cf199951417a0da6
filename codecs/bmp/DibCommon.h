#pragma once
// Helpers shared by the bitmap, icon and cursor readers: padded stream reads, resolution conversion
// and blank bitmaps.
#include "imaging/bitmap/PixelTypes.h"
#include "imaging/params/ReadBudget.h"

#include <cstdint>

class TStream;
class TIEBitmap;

namespace dib {

// Reads up to count bytes; what the stream cannot deliver is zero-filled. Returns the bytes read.
std::int64_t ReadPadded(TStream& Stream, void* Buffer, std::int64_t Count);

// Pixels per metre to dots per inch (v / 100 * 2.54, nearest, halves to even).
int PelsPerMetreToDpi(std::int32_t PelsPerMetre);

// Bytes of a width x height bitmap of the given type (saturated).
inline std::int64_t BitmapBytes(std::int64_t Width, std::int64_t Height, TIEPixelFormat Type) {
    return MulSat(RowStrideOf(Width, BitsPerPixelOf(Type)), Height);
}

// Allocates the bitmap and makes every pixel defined: white for ie1Bit, black (index 0) otherwise.
void AllocateBlank(TIEBitmap& Bitmap, int Width, int Height, TIEPixelFormat Type);

// Colour of a palette index; indexes beyond the table give black.
inline TIERgbTriple PaletteColor(const TIERgbTriple* Table, int Count, unsigned Index) {
    return Index < unsigned(Count) ? Table[Index] : TIERgbTriple{};
}

} // namespace dib
