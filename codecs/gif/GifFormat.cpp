// The GIF row of the format registry: how a GIF file is read and recognised.
#include "codecs/gif/GifReader.h"
#include "imaging/params/FormatEntry.h"
#include "platform/Stream.h"

namespace {
void ReadGif(TStream& s, TIEBitmap& b, TIOParamsVals& p, TIEProgressRecord& pr, std::unique_ptr<TIEMask>& m,
             TReadContext& c) {
    ReadGifStream(s, b, c.FrameCount, false, m, c.HeaderOnly, pr, p);
}

int GifFrameCount(TStream& s) {
    const std::int64_t pos = s.Position();
    const int n = CountGifFrames(s);
    s.SetPosition(pos);
    return n;
}
} // namespace

const TFormatEntry& GifFormat() {
    static const TFormatEntry format{.Id = ioGIF,
                                     .IsFormat = IsGifStream,
                                     .Read = ReadGif,
                                     .Form = TLoadForm::Animation,
                                     .CountImages = GifFrameCount,
                                     .ImageCountField = &TIOParamsVals::GifFrameCount};
    return format;
}
