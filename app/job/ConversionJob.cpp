#include "app/job/ConversionJob.h"

#include "app/job/ConversionTables.h"
#include "imaging/bitmap/IEBitmap.h"
#include "imaging/io/IEView.h"
#include "imaging/io/KeptPageData.h"
#include "imaging/io/PictoraIO.h"
#include "imaging/params/IOParams.h"
#include "imaging/params/PageGeometry.h"
#include "platform/Exceptions.h"
#include "platform/FileSystem.h"
#include "platform/Stream.h"
#include "platform/net/WebAddress.h"

#include <algorithm>
#include <cctype>
#include <climits>

namespace {
std::string Upper(std::string s) {
    for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

// Extension from the last ".", as the list shows it (a dot inside a folder name counts too). For a
// web address the rule reads its path alone: a query or fragment says nothing about the file.
std::string ExtensionOf(const std::string& path) {
    const std::string name = IsWebAddress(path) ? WebAddressPath(path) : path;
    const auto dot = name.find_last_of('.');
    return dot == std::string::npos ? std::string() : name.substr(dot);
}

template <class F> void Call(const F& f, auto&&... args) {
    if (f) f(std::forward<decltype(args)>(args)...);
}

// While a run goes on, every download asks here whether to go on: the window's events are processed
// (so that it can be stopped or closed) and the run flag answers. Undone when the run ends.
class TDownloadWatch {
public:
    TDownloadWatch(const std::atomic<int>& runFlag, std::initializer_list<TPictoraIO*> components,
                   const TConversionCallbacks& cb) {
        for (TPictoraIO* io : components) {
            Saved.emplace_back(io, io->DownloadContinue);
            io->DownloadContinue = [&runFlag, &cb] {
                Call(cb.ProcessMessages);
                return runFlag == 1;
            };
        }
    }
    ~TDownloadWatch() {
        for (auto& [io, previous] : Saved) io->DownloadContinue = std::move(previous);
    }
    TDownloadWatch(const TDownloadWatch&) = delete;
    TDownloadWatch& operator=(const TDownloadWatch&) = delete;

private:
    std::vector<std::pair<TPictoraIO*, std::function<bool()>>> Saved;
};

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
    const TCompressionItem& item = CompressionItems[static_cast<std::size_t>(compression)];
    io.Params().PdfCompression = static_cast<std::uint8_t>(item.PdfCompression);
    std::string notKept;
    std::optional<TPdfCodedImage> kept;
    if (item.KeepOriginalData) kept = KeptData(path, frame, loader, notKept);
    const int pagesBefore = io.PdfPageCount();
    try {
        io.AddPdfPage(kept ? &*kept : nullptr);
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
    const TPdfPageStorage& storage = io.LastPdfPageStorage();
    if (storage.Coding == TPageCoding::Kept) ++result.PagesKept;
    result.Stored.push_back({path, frame, image.FileFormat, storage, item.KeepOriginalData,
                             item.KeepOriginalData && storage.Coding != TPageCoding::Kept ? notKept : ""});
    if (load.DataEndsEarly)
        result.Notes.push_back({path, frame, TNoteKind::DataMissing, MissingDataNote(load)});
    if (!resized.empty()) result.Notes.push_back({path, frame, TNoteKind::PageResized, resized});
    Call(cb.PageAdded, result.PagesWritten);
    return true;
}

std::optional<TPdfCodedImage> TConversionJob::KeptData(const std::string& path, int frame, TPictoraIO& loader,
                                                       std::string& reason) {
    const TIELoadOutcome& load = loader.LastLoad();
    if (loader.Aborting || load.DataEndsEarly || !load.Refusal.empty()) {
        reason = "the file's data is incomplete";
        return std::nullopt;
    }
    if (IsWebAddress(path)) {
        reason = "read from the web";
        return std::nullopt;
    }
    try {
        // The file is read again: readers keep pixels, not the data they came from.
        TFileStream file(path, fmOpenRead);
        TKeptPageData data = ReadKeptPageData(file, loader.Params(), frame < 0 ? 0 : frame);
        reason = data.Reason;
        return std::move(data.Image);
    } catch (const std::exception&) {
        reason = "the file could not be read again";
        return std::nullopt;
    }
}

int TConversionJob::ConvertFrames(const std::string& path, bool gif, int compression, int paperIndex,
                                  int& progressMax, int& position, TJobResult& result,
                                  const TConversionCallbacks& cb, TPageProgress progress) {
    TIOParamsVals& fp = FrameIO.Params();
    // A web address is downloaded once; its frames are then read from memory.
    const bool web = IsWebAddress(path);
    TMemoryStream download;
    if (web && !FrameIO.DownloadUrl(path, download)) {
        result.Skipped.push_back({path, -1, FailedLoadReason(FrameIO)});
        return 0;
    }
    // The key lets each GIF frame continue the composition of the one before, within this download.
    const std::string key = web ? "download " + std::to_string(++DownloadCount) + " " + path : std::string();
    const auto loadFrame = [&]() {
        if (!web) return gif ? FrameIO.LoadGifFile(path) : FrameIO.LoadTiffFile(path);
        download.SetPosition(0);
        return gif ? FrameIO.LoadGifStream(download, key) : FrameIO.LoadTiffStream(download);
    };
    // The first call serves to learn the frame count; it reads the frame the index last held.
    const int frames = loadFrame();
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
        loadFrame();
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
    // A download can take long: the window stays alive meanwhile, and a stop ends the download.
    const TDownloadWatch watch(RunFlag, {&io, &FrameIO}, cb);
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
        p.PdfKeepAlpha = in.KeepAlpha;
        p.PdfAutoOrient = in.AutoOrient;

        for (std::size_t i = 0; i < n; ++i) {
            const std::string& path = in.SourcePaths[i];
            if (RunFlag != 1) break;
            Call(cb.EntryStarted, path);
            const TPageProgress progress{path, static_cast<int>(i + 1), entries, 1, 1};
            const std::string ext = Upper(ExtensionOf(path));
            // A web address follows the same rule by the extension of its path (ExtensionOf).
            const bool tiff = ext == ".TIFF" || ext == ".TIF";
            const bool gif = ext == ".GIF";
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
