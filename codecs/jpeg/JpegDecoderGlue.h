#pragma once
// Owner of one libjpeg decompression object with the shared error handler and a source that reads a
// TStream through a 65,536-byte buffer. Every library call goes through a member here, which sets the
// error handler's jump target first: this and JpegErrorManager are the only places that deal with how
// libjpeg reports failures. Everything a call can raise is EIEJpegException or a stream exception.
#include "codecs/jpeg/JpegErrorManager.h"
#include "platform/Stream.h"

#include <cstddef>
#include <cstdint>
#include <vector>

#include <jpeglib.h>

constexpr std::size_t JpegInputBufferSize = 65536;
// Progressive data with more scans than any encoder writes is refused: each scan costs a pass over
// the whole coefficient buffer, so a hostile file could otherwise stall the read.
constexpr int JpegMaxScans = 500;

struct TJpegStreamSource {
    jpeg_source_mgr Pub{}; // first member: libjpeg's pointer is the record's address
    TStream* Stream = nullptr;
    std::vector<JOCTET> Buffer;
    bool StartOfFile = true; // no buffer fill yet since the source was pointed at Stream
    bool* Aborting = nullptr;
    // The stream ran out before the decoder was done; EndRow is the output rows delivered by then
    // (the rows after it were padded by the decoder, not read from the file).
    bool Ended = false;
    JDIMENSION EndRow = 0;
};

class TJpegDecompressor {
public:
    // Creates the decompression object; raises EIEJpegException when libjpeg cannot.
    explicit TJpegDecompressor(bool* aborting);
    ~TJpegDecompressor();
    TJpegDecompressor(const TJpegDecompressor&) = delete;
    TJpegDecompressor& operator=(const TJpegDecompressor&) = delete;

    jpeg_decompress_struct& Info() { return FInfo; }
    TIEJpegErrorManager& Errors() { return FErrors; }
    const TJpegStreamSource& Source() const { return FSource; }
    // Reads from stream's current position from now on; whatever is buffered is dropped.
    void PointAt(TStream& stream);

    // The library's calls of the same names.
    void SaveMarkers(int markerCode, unsigned lengthLimit);
    int ReadHeader(bool requireImage);
    bool StartDecompress();
    JDIMENSION ReadScanlines(JSAMPARRAY rows, JDIMENSION count);
    bool HasMultipleScans();
    bool FinishDecompress();
    // After this a fatal error no longer marks the caller's read as aborted.
    void DetachAbortFlag();

private:
    TIEJpegErrorManager FErrors;
    TJpegStreamSource FSource;
    jpeg_progress_mgr FProgress{};
    jpeg_decompress_struct FInfo{};
    bool FCreated = false;
};
