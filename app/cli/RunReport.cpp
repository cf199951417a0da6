#include "app/cli/RunReport.h"

#include "imaging/params/FormatIds.h"

#include <algorithm>

namespace {
std::string FrameText(int frame) {
    return frame >= 0 ? " (frame " + std::to_string(frame + 1) + ")" : "";
}

// Short names of the source formats, as users call them.
std::string FormatName(int format) {
    switch (format) {
    case ioTIFF:
        return "TIFF";
    case ioGIF:
        return "GIF";
    case ioJPEG:
        return "JPEG";
    case ioPCX:
        return "PCX";
    case ioBMP:
        return "BMP";
    case ioICO:
        return "ICO";
    case ioCUR:
        return "CUR";
    case ioPNG:
        return "PNG";
    case ioWMF:
        return "WMF";
    case ioEMF:
        return "EMF";
    case ioTGA:
        return "TGA";
    case ioPXM:
        return "PNM";
    case ioJP2:
    case ioJ2K:
        return "JPEG 2000";
    case ioWBMP:
        return "WBMP";
    default:
        return "an image file";
    }
}

std::string FromStrips(const char* coding, const TPdfPageStorage& s) {
    if (s.JoinedBlocks > 1)
        return std::string(coding) + " from TIFF strips (" + std::to_string(s.JoinedBlocks) + " joined)";
    return std::string("kept ") + coding + " data from TIFF";
}

std::string KeptText(const TPdfPageStorage& s) {
    switch (s.Origin) {
    case TKeptOrigin::JpegFile:
        return "kept JPEG data";
    case TKeptOrigin::PngData:
        return "kept PNG data";
    case TKeptOrigin::TiffG4:
        return FromStrips("G4", s);
    case TKeptOrigin::TiffG3:
        return FromStrips("G3", s);
    case TKeptOrigin::TiffHuffman:
        return FromStrips("modified Huffman", s);
    case TKeptOrigin::TiffJpeg:
        return "kept JPEG data from TIFF";
    case TKeptOrigin::None:
        break;
    }
    return "kept data";
}

std::string CodingText(const TPageStored& page) {
    const TPdfPageStorage& s = page.Storage;
    switch (s.Coding) {
    case TPageCoding::Kept:
        return KeptText(s);
    case TPageCoding::Uncompressed:
        return "uncompressed";
    case TPageCoding::RunLength:
        return "run length";
    case TPageCoding::Group4:
        return "G4";
    case TPageCoding::Group3:
        return "G3";
    case TPageCoding::Flate:
        return s.Gray ? "Flate (grey)" : s.Indexed ? "Flate (palette)" : "Flate";
    case TPageCoding::Dct:
        return "re-encoded DCT q" + std::to_string(s.DctQuality) + ": source is " +
               FormatName(page.SourceFormat);
    }
    return "";
}
} // namespace

std::string StoredLine(int pageNumber, const TPageStored& page) {
    std::string text = "page " + std::to_string(pageNumber) + ": " + page.Path + FrameText(page.Frame) +
                       ": " + CodingText(page);
    if (!page.NotKeptReason.empty()) text += "; not kept: " + page.NotKeptReason;
    if (page.Storage.SoftMask) text += ", with soft mask";
    return text + ", " + std::to_string(page.Storage.ImageBytes) + " bytes";
}

std::string KeptSummary(const TJobResult& result) {
    const bool asked = std::any_of(result.Stored.begin(), result.Stored.end(),
                                   [](const TPageStored& p) { return p.KeepAsked; });
    if (!asked) return "";
    return std::to_string(result.PagesKept) + " of " + std::to_string(result.PagesWritten) + " page" +
           (result.PagesWritten == 1 ? "" : "s") + " kept their original data";
}

std::string SkippedLine(const TSkippedInput& skipped) {
    return "skipped " + skipped.Path + FrameText(skipped.Frame) + ": " + skipped.Reason;
}

std::string NoteLine(const TPageNote& note) {
    return note.Path + FrameText(note.Frame) + ": " + note.Text;
}

TExitStatus WrittenRunStatus(const TJobResult& result) {
    const bool incomplete = std::any_of(result.Notes.begin(), result.Notes.end(),
                                        [](const TPageNote& n) { return n.Kind == TNoteKind::DataMissing; });
    const bool whole = result.Outcome == TJobOutcome::Completed && result.Skipped.empty() && !incomplete;
    return whole ? exitComplete : exitPartial;
}
