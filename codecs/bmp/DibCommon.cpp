#include "codecs/bmp/DibCommon.h"

#include "imaging/bitmap/IEBitmap.h"
#include "platform/Stream.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace dib {

std::int64_t ReadPadded(TStream& Stream, void* Buffer, std::int64_t Count) {
    if (Count <= 0) return 0;
    const std::int64_t got = std::max<std::int64_t>(0, Stream.Read(Buffer, Count));
    if (got < Count) std::memset(static_cast<std::uint8_t*>(Buffer) + got, 0, std::size_t(Count - got));
    return got;
}

int PelsPerMetreToDpi(std::int32_t PelsPerMetre) {
    return static_cast<int>(std::nearbyint(double(PelsPerMetre) / 100.0 * 2.54));
}

void AllocateBlank(TIEBitmap& Bitmap, int Width, int Height, TIEPixelFormat Type) {
    Bitmap.Reallocate(Width, Height, Type);
    Bitmap.FillAll(Type == ie1Bit ? 255.0 : 0.0);
}

} // namespace dib
