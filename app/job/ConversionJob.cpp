#include "app/job/ConversionJob.h"

#include "app/job/ConversionTables.h"
#include "imaging/bitmap/IEBitmap.h"
#include "imaging/io/IEView.h"
#include "imaging/io/PictoraIO.h"
#include "imaging/params/IOParams.h"
#include "imaging/params/PageGeometry.h"
#include "platform/Exceptions.h"
#include "platform/FileSystem.h"

#include <algorithm>
#include <cctype>
#include <climits>

namespace {
std::string Upper(std::string s) {
    for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

// Extension from the last ".", as the list shows it (a dot inside a folder name counts too).
std::string ExtensionOf(const std::string& path) {
    const auto dot = path.find_last_of('.');
    return dot == std::string::npos ? std::string() : path.substr(dot);
}

template <class F> void Call(const F& f, auto&&... args) {
    if (f) f(std::forward<decltype(args)>(args)...);
}

std::string ReasonOf(const std::exception& e) {
    if (const auto* open = dynamic_cast<const EFOpenError*>(&e)) return "cannot be opened: " + open->Reason;
    return e.what();
}

// Why a load that raised nothing still gave no usable page: the reader's own words when it gave
// some, else what the component knows.
std::string FailedLoadReason(TPictoraIO& io) {
    if (!io.LastLoad().Refusal.empty()) return io.LastLoad().Refusal;
    if (io.Params().FileFormat == 0) return "not a supported image file";
    return "the image data is damaged or of a kind this program cannot read";
}

// Rows as a user counts them, from 1.
std::string MissingDataNote(const TIELoadOutcome& load) {
    if (!load.MissingRowsKnown()) return "data ends early, part of the image is missing";
    const std::string first = std::to_string(std::int64_t(load.FirstMissingRow) + 1);
    const std::string last = std::to_string(std::int64_t(load.LastMissingRow) + 1);
    if (first == last) return "data ends early, row " + first + " missing";
    return "data ends early, rows " + first + "\u2013" + last + " missing";
}

std::string PointsText(int width, int height) {
    return std::to_string(width) + " \u00d7 " + std::to_string(height);
}
} // namespace

TConversionJob::TConversionJob(TIEView& view, TPictoraIO& frameIO) : View(view), FrameIO(frameIO) {}

std::string TConversionJob::Validate(const TConversionInputs& in, std::string& folderPath,
                                     std::string& outputPath) {
    folderPath = in.OutputFolder;
    // An empty folder text names no folder at all: it fails like a missing one.
    if (!folderPath.empty() && folderPath.back() != '/') folderPath += '/';
    outputPath = folderPath + in.OutputName + ".pdf";
    if (folderPath.empty() || !DirectoryExists(folderPath)) return "Directory not found!";
    if (FileExists(outputPath) || DirectoryExists(outputPath)) return "Change the name of the output file!";
    if (in.OutputName.empty()) return "Will enter file name!";
    return {};
}

void TConversionJob::ParamPaper(int paperIndex, int paperHeight, int paperWidth) {
    TIOParamsVals& p = View.IOComponent()->Params();
    // The picture as its page will show it: upright, and in its physical proportions.
    const TUprightSize picture = UprightImageSize(p, View.BitmapWidth(), View.BitmapHeight());
    if (paperIndex == PaperFitIndex) {
        p.PdfPaperWidth = picture.Width;
        p.PdfPaperHeight = picture.Height;
    } else if (paperIndex == PaperImageSizeIndex) {
        const TUprightSize physical = PhysicalImageSize(p, View.BitmapWidth(), View.BitmapHeight());
        p.PdfPaperWidth = physical.Width;
        p.PdfPaperHeight = physical.Height;
    } else if (picture.Width > picture.Height) {
        p.PdfPaperWidth = paperHeight;
        p.PdfPaperHeight = paperWidth;
    } else {
        p.PdfPaperWidth = paperWidth;
        p.PdfPaperHeight = paperHeight;
    }
}

std::string TConversionJob::BoundPageSize(int& width, int& height) {
    const int w = width, h = height;
    const double longer = std::max(w, h), shorter = std::min(w, h);
    if (shorter <= 0) return {}; // no page at all: the writer refuses it
    double scale = 1.0;
    if (longer > kLargestPageSide)
        scale = kLargestPageSide / longer;
    else if (shorter < kSmallestPageSide)
        scale = kSmallestPageSide / shorter;
    if (scale == 1.0) return {};
    // The other limit may still cut a very long and thin page: that side gives way, not the limit.
    const auto side = [scale](int v) {
        return static_cast<int>(
            std::clamp<long>(std::lround(v * scale), kSmallestPageSide, kLargestPageSide));
    };
    width = side(w);
    height = side(h);
    if (scale < 1.0)
        return "page of " + PointsText(w, h) + " points scaled down to " + PointsText(width, height) +
               ", the largest PDF viewers show";
    return "page of " + PointsText(w, h) + " points scaled up to " + PointsText(width, height) +
           ", the smallest PDF viewers show";
}

bool TConversionJob::AddCurrentPage(const std::string& path, int frame, TPictoraIO& loader, int compression,
                                    int paperIndex, TJobResult& result, const TConversionCallbacks& cb) {
    TPictoraIO& io = *View.IOComponent();
    // The page is described by the load that filled the bitmap: a frame loaded through the other
    // component must not go out with the resolution or JPEG markers of the last single image.
    const TIOParamsVals& image = loader.Params();
    const TIELoadOutcome& load = loader.LastLoad();
    if (&image != &io.Params()) io.Params().CopyImageDescription(image);
    const TPaperItem& paper = PaperItems[static_cast<std::size_t>(paperIndex)];
    ParamPaper(paperIndex, paper.Height, paper.Width);
    const std::string resized = BoundPageSize(io.Params().PdfPaperWidth, io.Params().PdfPaperHeight);
    io.Params().PdfCompression = static_cast<std::uint8_t>(compression);
    const int pagesBefore = io.PdfPageCount();
    try {
        io.AddPdfPage();
    } catch (const EWriteError&) {
        throw; // the output itself failed: the run cannot go on
    } catch (const std::exception& e) {
        result.Skipped.push_back({path, frame, std::string("cannot be made into a page: ") + e.what()});
        return false;
    }
    if (io.PdfPageCount() == pagesBefore) {
        // The writer refuses a bitmap without pixels; nothing went into the document.
        result.Skipped.push_back({path, frame, "the image has no pixels"});
        return false;
    }
    if (io.Aborting) {
        // The encoder could not finish this page, but the page is in the document: say so.
        result.Skipped.push_back({path, frame, "the page could not be encoded completely"});
    }
    ++result.PagesWritten;
    if (load.DataEndsEarly)
        result.Notes.push_back({path, frame, TNoteKind::DataMissing, MissingDataNote(load)});
    if (!resized.empty()) result.Notes.push_back({path, frame, TNoteKind::PageResized, resized});
    Call(cb.PageAdded, result.PagesWritten);
    return true;
}

int TConversionJob::ConvertFrames(const std::string& path, bool gif, int compression, int paperIndex,
                                  int& progressMax, int& position, TJobResult& result,
                                  const TConversionCallbacks& cb, TPageProgress progress) {
    TIOParamsVals& fp = FrameIO.Params();
    // The first call serves to learn the frame count; it reads the frame the index last held.
    const int frames = gif ? FrameIO.LoadGifFile(path) : FrameIO.LoadTiffFile(path);
    if (frames <= 0) {
        result.Skipped.push_back({path, -1, FailedLoadReason(FrameIO)});
        return 0;
    }
    Call(cb.FramesCounted, path, frames);
    progressMax += 10 * frames;
    Call(cb.SetProgressMax, progressMax);
    for (int k = 0; k < frames; ++k) {
        if (RunFlag != 1) break;
        progress.Page = k + 1;
        progress.Pages = frames;
        Call(cb.PageStarted, progress);
        if (gif)
            fp.GifFrameIndex = k;
        else
            fp.TiffFrameIndex = k;
        if (gif)
            FrameIO.LoadGifFile(path);
        else
            FrameIO.LoadTiffFile(path);
        if (FrameIO.Aborting)
            result.Skipped.push_back({path, k, FailedLoadReason(FrameIO)});
        else
            AddCurrentPage(path, k, FrameIO, compression, paperIndex, result, cb);
        View.ResetToBlank();
        position += 10;
        Call(cb.SetProgressPosition, position);
        // A long multi-page file must not freeze the window: a stop takes effect at the next frame.
        Call(cb.ProcessMessages);
    }
    return frames;
}

TJobResult TConversionJob::Execute(const TConversionInputs& in, const TConversionCallbacks& cb) {
    TJobResult result;
    std::string folderPath;
    const std::string message = Validate(in, folderPath, result.OutputPath);
    if (!message.empty()) {
        result.Message = message;
        Call(cb.ShowMessage, message);
        return result;
    }
    const int compression = std::clamp(in.CompressionIndex, 0, int(CompressionItems.size()) - 1);
    const int paperIndex = std::clamp(in.PaperIndex, 0, int(PaperItems.size()) - 1);

    RunFlag = 1;
    Call(cb.SetInputsEnabled, false);
    TPictoraIO& io = *View.IOComponent();
    int position = 0;
    try {
        const std::size_t n = in.SourcePaths.size();
        int progressMax = static_cast<int>(std::min<std::size_t>(n, 200000000) * 10);
        Call(cb.SetProgressMax, progressMax);
        Call(cb.SetProgressPosition, 0);
        const int entries = static_cast<int>(std::min<std::size_t>(n, INT_MAX));

        io.OpenPdfFile(result.OutputPath);
        TIOParamsVals& p = io.Params();
        p.PdfTitle = in.Title;
        p.PdfSubject = in.Subject;
        p.PdfAuthor = in.Author;
        p.PdfCreator = in.Creator;
        p.PdfProducer = in.Producer;
        p.PdfKeywords = in.Keywords;
        p.PdfAutoOrient = in.AutoOrient;

        for (std::size_t i = 0; i < n; ++i) {
            const std::string& path = in.SourcePaths[i];
            if (RunFlag != 1) break;
            Call(cb.EntryStarted, path);
            const TPageProgress progress{path, static_cast<int>(i + 1), entries, 1, 1};
            const std::string ext = Upper(ExtensionOf(path));
            // A web address goes to the generic loader, whatever its name ends with.
            const bool web = IsWebAddress(path);
            const bool tiff = !web && (ext == ".TIFF" || ext == ".TIF");
            const bool gif = !web && ext == ".GIF";
            try {
                if (!tiff && !gif) {
                    Call(cb.PageStarted, progress);
                    io.LoadFromFile(path);
                    // A file that cannot be read must not become a page of the previous image.
                    if (io.Aborting)
                        result.Skipped.push_back({path, -1, FailedLoadReason(io)});
                    else
                        AddCurrentPage(path, -1, io, compression, paperIndex, result, cb);
                } else {
                    ConvertFrames(path, gif, compression, paperIndex, progressMax, position, result, cb,
                                  progress);
                }
            } catch (const EWriteError&) {
                throw;
            } catch (const std::exception& e) {
                result.Skipped.push_back({path, -1, ReasonOf(e)});
            }
            Call(cb.ProcessMessages);
            position += 10;
            Call(cb.SetProgressPosition, position);
        }

        // A stop request at any point of the run counts, even one that came during the last entry.
        const bool stopped = RunFlag != 1;
        if (result.PagesWritten == 0) {
            // Viewers reject a document without pages: leave no file rather than a broken one.
            io.AbandonPdfFile();
            DeleteFile(result.OutputPath);
            result.Outcome = TJobOutcome::NoPages;
        } else {
            io.ClosePdfFile();
            result.Outcome = stopped ? TJobOutcome::Stopped : TJobOutcome::Completed;
            Call(cb.Beep);
            Call(cb.OpenFolder, folderPath);
        }
        position = 0;
        Call(cb.SetProgressPosition, 0);
        RunFlag = 0;
    } catch (const std::exception& e) {
        // Nothing of a broken run may look like a finished document.
        io.AbandonPdfFile();
        DeleteFile(result.OutputPath);
        result.Outcome = TJobOutcome::Failed;
        result.Message = "The PDF file " + result.OutputPath + " could not be written: " + ReasonOf(e);
        Call(cb.ShowMessage, result.Message);
    }
    Call(cb.SetInputsEnabled, true);
    if (!result.Skipped.empty() || !result.Notes.empty())
        Call(cb.ReportSkipped, result.Skipped, result.Notes);
    return result;
}
