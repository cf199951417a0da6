#include "codecs/jpeg/JpegReader.h"

#include "codecs/jpeg/JpegDecoderGlue.h"
#include "imaging/params/ReadBudget.h"
#include "imaging/params/ReadFailures.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <optional>
#include <vector>

namespace {

constexpr int kJpegStartWindow = 100;
// The decoder's whole-image buffers and the bitmap grow with the stated size, not with the data, and
// libjpeg pads a truncated stream to any stated size. At its densest a JPEG codes about 1,024 samples
// per byte (a DC difference of 0 and an end of block in a bit or two per 8 x 8 block).
constexpr std::int64_t kSamplesPerByte = 1024;
// A coefficient buffer for the whole image holds 2 bytes for each of a component's samples.
constexpr std::int64_t kCoefficientBytes = 2;

// What the read decided from the header, used by the row loop.
enum class TRowKind { Straight, FourComponents, Other };

// The Adobe marker's colour transform for four components (its other value, 0, means plain CMYK).
constexpr std::uint8_t kAdobeTransformYcck = 2;

// An Adobe marker seen in a tables-only stream. libjpeg forgets it when the image's own header is read,
// but TIFF writers may keep it with the tables rather than repeat it in every strip.
struct TTablesAdobe {
    bool Seen = false;
    std::uint8_t Transform = 0;
};

void FillFromHeader(jpeg_decompress_struct& info, TIOParamsVals& Params, bool RawComponents) {
    Params.BitsPerSample = 8;
    switch (info.jpeg_color_space) {
    case JCS_GRAYSCALE:
        Params.JpegColorSpace = 1;
        Params.SamplesPerPixel = 1;
        info.out_color_space = JCS_EXT_BGR;
        break;
    case JCS_RGB:
        Params.JpegColorSpace = 0;
        Params.SamplesPerPixel = 3;
        info.out_color_space = JCS_EXT_BGR;
        break;
    case JCS_YCbCr:
        Params.JpegColorSpace = 2;
        Params.SamplesPerPixel = 3;
        info.out_color_space = JCS_EXT_BGR;
        break;
    case JCS_CMYK:
        Params.JpegColorSpace = 3;
        Params.SamplesPerPixel = 4;
        info.out_color_space = JCS_CMYK;
        break;
    case JCS_YCCK:
        Params.JpegColorSpace = 4;
        Params.SamplesPerPixel = 4;
        info.out_color_space = JCS_CMYK;
        break;
    default:
        break; // the decoder's default output
    }
    // Unconverted components: YCbCr output is a plain copy of YCbCr-coded data; RGB-coded data, which
    // libjpeg cannot turn into YCbCr, is copied through its own space instead of failing.
    if (RawComponents) info.out_color_space = info.jpeg_color_space == JCS_RGB ? JCS_RGB : JCS_YCbCr;

    ApplyJpegDctMethod(Params.JpegDctMethod, info.dct_method);

    // Unit 0 (aspect ratio only) stores the ratio as it stands, so files without JFIF data read 1 x 1.
    if (info.density_unit == 0 || info.density_unit == 1) {
        Params.HorizontalDpi = info.X_density;
        Params.VerticalDpi = info.Y_density;
    } else if (info.density_unit == 2) {
        Params.HorizontalDpi = info.X_density * 254 / 100; // dots per centimetre, fraction dropped
        Params.VerticalDpi = info.Y_density * 254 / 100;
    }

    Params.FreePalette();
    Params.JpegProgressive = info.progressive_mode != 0;
    Params.UnscaledWidth = static_cast<std::int32_t>(info.image_width);
    Params.UnscaledHeight = static_cast<std::int32_t>(info.image_height);
}

// The scale denominator for JpegScale; 0 when the value leaves the decoder's default.
unsigned ScaleDenominator(const TIOParamsVals& Params, const jpeg_decompress_struct& info) {
    switch (Params.JpegScale) {
    case 0: {
        const std::int64_t wantW = Params.ImageWidth, wantH = Params.ImageHeight;
        if (wantW <= 0 || wantH <= 0) return 1;
        for (unsigned d : {8u, 4u, 2u}) {
            if (std::int64_t(info.image_width / d) >= wantW && std::int64_t(info.image_height / d) >= wantH)
                return d;
        }
        return 1;
    }
    case 1:
        return 1;
    case 2:
        return 2;
    case 3:
        return 4;
    case 4:
        return 8;
    default:
        return 0;
    }
}

bool FitsStream(TJpegDecompressor& dec, std::int64_t streamBytes) {
    const jpeg_decompress_struct& info = dec.Info();
    const std::int64_t pixels = std::int64_t(info.image_width) * std::int64_t(info.image_height);
    const std::int64_t samples = pixels * std::max(info.num_components, 1);
    // Data in several scans is gathered for the whole image before the first row comes out.
    const std::int64_t buffers = dec.HasMultipleScans() ? samples * kCoefficientBytes : 0;
    return StreamCanHold(pixels * 3 + buffers, samples / kSamplesPerByte, streamBytes);
}

// Adobe applications (the files with an Adobe marker) store inverted inks, so each stored value is
// already "1 - ink". Other writers, TIFF's JPEG compression among them, store the inks themselves.
void CmykRowToBgr(const JSAMPLE* in, std::uint8_t* out, JDIMENSION width, bool invertedInks) {
    const unsigned flip = invertedInks ? 0 : 255;
    for (JDIMENSION x = 0; x < width; ++x, in += 4, out += 3) {
        const unsigned k = in[3] ^ flip;
        out[0] = static_cast<std::uint8_t>((in[2] ^ flip) * k / 255);
        out[1] = static_cast<std::uint8_t>((in[1] ^ flip) * k / 255);
        out[2] = static_cast<std::uint8_t>((in[0] ^ flip) * k / 255);
    }
}

// Output the decoder could not name: one component is grey, otherwise the first three are kept in
// their coded order, as three-component output would be.
void OtherRowToBgr(const JSAMPLE* in, int components, std::uint8_t* out, JDIMENSION width) {
    for (JDIMENSION x = 0; x < width; ++x, in += components, out += 3) {
        if (components < 3) {
            out[0] = out[1] = out[2] = in[0];
        } else {
            out[0] = in[0];
            out[1] = in[1];
            out[2] = in[2];
        }
    }
}

class TJpegRead {
public:
    TJpegRead(TJpegDecompressor& dec, TIOParamsVals& params, TIEProgressRecord& progress, bool& aborting)
        : Dec(dec), Info(dec.Info()), Params(params), Progress(progress), Aborting(aborting) {}

    // Fails the read with the most precise reason there is: a stream that ran out (whatever the
    // library made of the end marker put in its place), the library's own, else the caller's.
    void Refuse(std::string_view fallback) {
        Aborting = true;
        const std::string_view known = JpegRefusalFor(Dec.Errors().MessageCode);
        if (Dec.Source().Ended)
            Progress.Fail(reasons::kNoRowData);
        else if (!known.empty())
            Progress.Fail(known);
        else
            Progress.Fail(fallback);
    }

    // Steps up to the header; false when the read stops here.
    bool ReadHeader(bool RawComponents, TTablesAdobe tablesAdobe) {
        try {
            for (int m = 0; m < 16; ++m) Dec.SaveMarkers(JPEG_APP0 + m, 0xFFFF);
            Dec.SaveMarkers(JPEG_COM, 0xFFFF);
            Dec.ReadHeader(true);
        } catch (const std::exception&) {
            Refuse("damaged JPEG header");
        }
        if (Aborting) return false;
        if (tablesAdobe.Seen && !Info.saw_Adobe_marker && Info.num_components == 4) {
            // The image takes the tables' marker as its own: the same inverted-ink rule, and the
            // colour space libjpeg would have chosen from the marker.
            Info.saw_Adobe_marker = TRUE;
            Info.Adobe_transform = tablesAdobe.Transform;
            Info.jpeg_color_space = tablesAdobe.Transform == kAdobeTransformYcck ? JCS_YCCK : JCS_CMYK;
        }
        FillFromHeader(Info, Params, RawComponents);
        const unsigned d = ScaleDenominator(Params, Info);
        if (d != 0) {
            Info.scale_num = 1;
            Info.scale_denom = d;
        }
        Params.JpegScaleUsed = static_cast<std::int32_t>(Info.scale_denom);
        return true;
    }

    bool Start(std::int64_t streamBytes) {
        if (!FitsStream(Dec, streamBytes)) {
            Aborting = true;
            Progress.Fail(reasons::kLargerThanFile);
            return false;
        }
        try {
            Dec.StartDecompress();
        } catch (const std::exception&) {
            Refuse("damaged JPEG data");
        }
        if (Aborting) return false;
        Params.ImageWidth = static_cast<std::int32_t>(Info.output_width);
        Params.ImageHeight = static_cast<std::int32_t>(Info.output_height);
        return true;
    }

    void DecodeRows(TIEBitmap& Bitmap, TRowSink* Rows) {
        const JDIMENSION width = Info.output_width, height = Info.output_height;
        const std::size_t rowBytes = std::size_t(width) * 3;
        // A sink needs the markers (and what they say) before the first row.
        if (Rows) RecordMarkers();
        std::vector<std::uint8_t> sinkRow;
        if (Rows && Rows->Begin(Params, static_cast<int>(width), static_cast<int>(height))) {
            // The bitmap must not go on showing an earlier image: it is left empty.
            Bitmap.Reallocate(0, 0, ie24Rgb);
            sinkRow.resize(rowBytes);
        } else {
            Rows = nullptr;
            Bitmap.Reallocate(static_cast<int>(width), static_cast<int>(height), ie24Rgb);
        }
        const int components = Info.output_components;
        const TRowKind kind = components == 3                                       ? TRowKind::Straight
                              : components == 4 && Info.out_color_space == JCS_CMYK ? TRowKind::FourComponents
                                                                                    : TRowKind::Other;
        std::vector<JSAMPLE> work;
        if (kind != TRowKind::Straight) work.resize(std::size_t(width) * std::size_t(components));
        Progress.PercentPerUnit = 100.0 / height;
        Progress.ProgressCounter = 0;
        JDIMENSION r = 0;
        try {
            while (Info.output_scanline < height) {
                std::uint8_t* row = Rows ? sinkRow.data() : Bitmap.RowPointer(static_cast<int>(r));
                if (!Rows) std::memset(row + rowBytes, 0, std::size_t(Bitmap.RowStride()) - rowBytes);
                JSAMPROW target = kind == TRowKind::Straight ? row : work.data();
                const JDIMENSION got = Dec.ReadScanlines(&target, 1);
                if (got == 0) break; // suspension cannot happen with this source; stop rather than spin
                if (kind == TRowKind::FourComponents)
                    CmykRowToBgr(work.data(), row, width, Info.saw_Adobe_marker);
                else if (kind == TRowKind::Other)
                    OtherRowToBgr(work.data(), components, row, width);
                if (Rows) Rows->Row(row);
                r += got;
                Progress.ProgressCounter += static_cast<std::int32_t>(got);
                Progress.Report();
                if (Aborting) break;
            }
        } catch (const std::exception&) {
            Refuse("damaged JPEG data");
        }
        if (r < height) {
            if (!Aborting) Refuse("damaged JPEG data");
            if (Rows) return;
            // Rows the decoder never delivered read black rather than whatever the storage held.
            for (JDIMENSION y = r; y < height; ++y)
                std::memset(Bitmap.RowPointer(static_cast<int>(y)), 0, std::size_t(Bitmap.RowStride()));
            return;
        }
        // libjpeg pads a cut stream and delivers every row: the rows after the end are not the file's.
        // Data in several scans is spread over the whole image, so no run of rows can be named.
        const TJpegStreamSource& source = Dec.Source();
        if (source.Ended && source.EndRow < height) {
            if (Dec.HasMultipleScans())
                Progress.DataEndsEarly();
            else
                Progress.DataEndsEarly(source.EndRow, height - 1, height);
        }
    }

    // The markers the header held, all but the JFIF header itself.
    void RecordMarkers() {
        Params.JpegMarkers.clear();
        bool first = true;
        for (jpeg_saved_marker_ptr m = Info.marker_list; m; m = m->next) {
            const bool dropped = first && m->marker == JPEG_APP0; // the JFIF header itself
            first = false;
            if (dropped) continue;
            TIEMarker marker;
            marker.Code = m->marker;
            if (m->data && m->data_length) marker.Data.assign(m->data, m->data + m->data_length);
            Params.JpegMarkers.push_back(std::move(marker));
        }
    }

    // Markers and warnings are recorded on every path, so the parameters describe what was read.
    void Finish(bool HeaderOnly) {
        RecordMarkers();
        if (!Aborting && !HeaderOnly) {
            Dec.DetachAbortFlag();
            try {
                Dec.FinishDecompress();
            } catch (const std::exception&) {
                // a complete decode stays successful
            }
        }
        if (Dec.Errors().WarningCount != 0) {
            Params.JpegWarningCount = static_cast<std::int32_t>(
                std::min<std::uint32_t>(Dec.Errors().WarningCount, static_cast<std::uint32_t>(INT32_MAX)));
            Params.JpegWarningCode = Info.err->msg_code;
        }
    }

private:
    TJpegDecompressor& Dec;
    jpeg_decompress_struct& Info;
    TIOParamsVals& Params;
    TIEProgressRecord& Progress;
    bool& Aborting;
};

} // namespace

std::int32_t FindJpegStart(TStream& Stream) {
    const std::int64_t start = Stream.Position();
    std::uint8_t window[kJpegStartWindow + 2];
    const std::int64_t got = Stream.Read(window, sizeof window);
    Stream.SetPosition(start);
    for (std::int64_t i = 0; i + 2 < got; ++i) {
        if (window[i] == 0xFF && window[i + 1] == 0xD8 && window[i + 2] == 0xFF) {
            const std::int64_t at = start + i;
            return at > INT32_MAX ? -1 : static_cast<std::int32_t>(at);
        }
    }
    return -1;
}

bool IsJpegStream(TStream& Stream) {
    return FindJpegStart(Stream) >= 0;
}

void ReadJpegStream(TStream& Stream, TStream* TablesStream, TIEBitmap& Bitmap, TIOParamsVals& Params,
                    TIEProgressRecord& Progress, bool HeaderOnly, bool RawComponents, TRowSink* Rows) {
    bool localFlag = false; // entry points always pass a flag; this keeps a bare record safe
    bool& aborting = Progress.Aborting ? *Progress.Aborting : localFlag;
    Params.JpegWarningCount = 0;
    Params.JpegWarningCode = 0;

    const std::int32_t start = FindJpegStart(Stream);
    if (start < 0) {
        aborting = true;
        Progress.Fail("not a JPEG file");
        return;
    }
    Stream.SetPosition(start);
    const std::int64_t streamBytes = std::max<std::int64_t>(0, Stream.Size() - start);

    std::optional<TJpegDecompressor> dec;
    try {
        dec.emplace(&aborting);
    } catch (const std::exception&) {
        aborting = true;
        Progress.Fail(reasons::kOutOfMemory);
        return;
    }
    TJpegRead read(*dec, Params, Progress, aborting);
    std::exception_ptr tablesFailure;
    bool headerRead = false;
    TTablesAdobe tablesAdobe;

    [&] {
        if (aborting) return;
        if (TablesStream && TablesStream != &Stream) {
            dec->PointAt(*TablesStream);
            try {
                dec->ReadHeader(false);
            } catch (const EIEJpegException&) {
                aborting = true;
                Progress.Fail("damaged JPEG tables");
                tablesFailure = std::current_exception();
                return;
            } catch (const std::exception& e) {
                aborting = true;
                FailFromException(Progress, e);
                return;
            }
            if (aborting) return;
            tablesAdobe = {dec->Info().saw_Adobe_marker != FALSE, dec->Info().Adobe_transform};
        }
        dec->PointAt(Stream);
        if (!read.ReadHeader(RawComponents, tablesAdobe)) return;
        headerRead = true;
        if (!read.Start(streamBytes) || HeaderOnly) return;
        try {
            read.DecodeRows(Bitmap, Rows);
        } catch (const std::exception& e) { // the bitmap refused the size
            aborting = true;
            FailFromException(Progress, e);
        }
    }();

    read.Finish(HeaderOnly || !headerRead);
    dec.reset();
    if (tablesFailure) std::rethrow_exception(tablesFailure);
}
