#pragma once
// The readers behind the I/O component's entry points, each wrapped to one calling form.
// An empty TReader means the format cannot be read by this build.
#include "imaging/io/PictoraIO.h"

namespace readers {
TPictoraIO::TReader Jpeg();
TPictoraIO::TReader Pcx();
TPictoraIO::TReader Bmp();
TPictoraIO::TReader Ico();
TPictoraIO::TReader Cur();
TPictoraIO::TReader Png(TColor defaultBackground, TIERgbTriple& fileBackground);
TPictoraIO::TReader Tga();
TPictoraIO::TReader Pxm();
TPictoraIO::TReader Wbmp();
TPictoraIO::TReader Jpeg2000();
// Frame readers also report the file's frame count.
TPictoraIO::TReader Tiff(int& frameCount);
TPictoraIO::TReader Gif(int& frameCount);
} // namespace readers

// The readers' content checks; each restores the stream position. False when the format is not in
// this build.
namespace readers {
bool IsPng(TStream& stream);
bool IsIco(TStream& stream);
bool IsCur(TStream& stream);
bool IsTga(TStream& stream);
bool IsPxm(TStream& stream);
// Absolute position of FF D8 FF within the 100 positions from the current one, or -1.
std::int64_t FindJpegStart(TStream& stream);
// Frame counts of whole files, walking their structure without decoding; the position is restored.
int GifFrameCount(TStream& stream);
int TiffFrameCount(TStream& stream);
// The reader of a format id (ids 1 to 14 and 16), or empty.
TPictoraIO::TReader ForFormat(int formatId, TColor background, TIERgbTriple& fileBackground, int& frameCount);
} // namespace readers
