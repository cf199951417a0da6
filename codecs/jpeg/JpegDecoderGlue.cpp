#include "codecs/jpeg/JpegDecoderGlue.h"

#include <algorithm>

namespace {
TJpegStreamSource& SourceOf(j_decompress_ptr cinfo) {
    return *reinterpret_cast<TJpegStreamSource*>(cinfo->src);
}

void InitSource(j_decompress_ptr cinfo) {
    SourceOf(cinfo).StartOfFile = true;
}

// Never fails: at the end of the data it offers an end-of-image marker, so libjpeg finishes a
// truncated stream with a warning. Only a stream that gave nothing at all marks the read aborted.
boolean FillInputBuffer(j_decompress_ptr cinfo) {
    TJpegStreamSource& s = SourceOf(cinfo);
    std::int64_t got = 0;
    bool failed = false;
    try {
        if (s.Stream) got = s.Stream->Read(s.Buffer.data(), static_cast<std::int64_t>(s.Buffer.size()));
    } catch (...) {
        KeepJpegCallbackException(JpegErrorManagerOf(reinterpret_cast<j_common_ptr>(cinfo)));
        failed = true;
    }
    if (failed) LeaveJpegLibrary(JpegErrorManagerOf(reinterpret_cast<j_common_ptr>(cinfo)));
    if (got <= 0) {
        if (s.StartOfFile && s.Aborting) *s.Aborting = true;
        if (!s.Ended) {
            s.Ended = true;
            s.EndRow = cinfo->output_scanline;
        }
        s.Buffer[0] = 0xFF;
        s.Buffer[1] = JPEG_EOI;
        got = 2;
    }
    s.Pub.next_input_byte = s.Buffer.data();
    s.Pub.bytes_in_buffer = static_cast<std::size_t>(got);
    s.StartOfFile = false;
    return TRUE;
}

void SkipInputData(j_decompress_ptr cinfo, long count) {
    if (count < 1) return;
    TJpegStreamSource& s = SourceOf(cinfo);
    auto n = static_cast<std::size_t>(count);
    while (n > s.Pub.bytes_in_buffer) {
        n -= s.Pub.bytes_in_buffer;
        FillInputBuffer(cinfo);
    }
    s.Pub.next_input_byte += n;
    s.Pub.bytes_in_buffer -= n;
}

void TermSource(j_decompress_ptr) {}

void MonitorProgress(j_common_ptr cinfo) {
    if (!cinfo->is_decompressor) return;
    if (reinterpret_cast<j_decompress_ptr>(cinfo)->input_scan_number > JpegMaxScans) {
        cinfo->err->msg_code = 0; // no library text fits; reported as "Corrupted"
        cinfo->err->error_exit(cinfo);
    }
}
} // namespace

TJpegDecompressor::TJpegDecompressor(bool* aborting) {
    FInfo.err = InitJpegErrorManager(FErrors, aborting);
    FSource.Buffer.resize(JpegInputBufferSize);
    FSource.Aborting = aborting;
    FSource.Pub.init_source = InitSource;
    FSource.Pub.fill_input_buffer = FillInputBuffer;
    FSource.Pub.skip_input_data = SkipInputData;
    FSource.Pub.resync_to_restart = jpeg_resync_to_restart;
    FSource.Pub.term_source = TermSource;
    FProgress.progress_monitor = MonitorProgress;
    if (setjmp(FErrors.Jump)) RaiseJpegFailure(FErrors);
    jpeg_create_decompress(&FInfo);
    FCreated = true;
    FInfo.src = &FSource.Pub;
    FInfo.progress = &FProgress;
}

TJpegDecompressor::~TJpegDecompressor() {
    if (FCreated) jpeg_destroy_decompress(&FInfo);
}

void TJpegDecompressor::PointAt(TStream& stream) {
    FSource.Stream = &stream;
    FSource.StartOfFile = true;
    FSource.Ended = false;
    FSource.EndRow = 0;
    FSource.Pub.next_input_byte = nullptr;
    FSource.Pub.bytes_in_buffer = 0;
}

void TJpegDecompressor::DetachAbortFlag() {
    FErrors.Aborting = nullptr;
    FSource.Aborting = nullptr;
}

// Each call below sets the jump target and then enters the library; a fatal error comes back to the
// setjmp with the library object left as it was, and the exception starts from this frame.
void TJpegDecompressor::SaveMarkers(int markerCode, unsigned lengthLimit) {
    if (setjmp(FErrors.Jump)) RaiseJpegFailure(FErrors);
    jpeg_save_markers(&FInfo, markerCode, lengthLimit);
}

int TJpegDecompressor::ReadHeader(bool requireImage) {
    if (setjmp(FErrors.Jump)) RaiseJpegFailure(FErrors);
    return jpeg_read_header(&FInfo, requireImage ? TRUE : FALSE);
}

bool TJpegDecompressor::StartDecompress() {
    if (setjmp(FErrors.Jump)) RaiseJpegFailure(FErrors);
    return jpeg_start_decompress(&FInfo) != FALSE;
}

JDIMENSION TJpegDecompressor::ReadScanlines(JSAMPARRAY rows, JDIMENSION count) {
    if (setjmp(FErrors.Jump)) RaiseJpegFailure(FErrors);
    return jpeg_read_scanlines(&FInfo, rows, count);
}

bool TJpegDecompressor::HasMultipleScans() {
    if (setjmp(FErrors.Jump)) RaiseJpegFailure(FErrors);
    return jpeg_has_multiple_scans(&FInfo) != FALSE;
}

bool TJpegDecompressor::FinishDecompress() {
    if (setjmp(FErrors.Jump)) RaiseJpegFailure(FErrors);
    return jpeg_finish_decompress(&FInfo) != FALSE;
}
