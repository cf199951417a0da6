#include "app/job/PageWorker.h"

#include "app/job/ConversionTables.h"
#include "app/job/PageHelpBoard.h"
#include "imaging/bitmap/AlphaFlatten.h"
#include "imaging/bitmap/IEBitmap.h"
#include "imaging/io/FormatRegistry.h"
#include "imaging/io/IEView.h"
#include "imaging/io/KeptPageData.h"
#include "imaging/io/PictoraIO.h"
#include "imaging/params/IOParams.h"
#include "imaging/params/PageGeometry.h"
#include "pdf/PdfDctPageSink.h"
#include "platform/Ascii.h"
#include "platform/Exceptions.h"
#include "platform/Stream.h"
#include "platform/net/WebAddress.h"

namespace {
// Extension from the last ".", as the list shows it (a dot inside a folder name counts too). For a
// web address the rule reads its path alone: a query or fragment says nothing about the file.
std::string ExtensionOf(const std::string& path) {
    const std::string name = IsWebAddress(path) ? WebAddressPath(path) : path;
    const auto dot = name.find_last_of('.');
    return dot == std::string::npos ? std::string() : name.substr(dot);
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

TJobEvent Skipped(const std::string& path, int frame, std::string reason) {
    TJobEvent e;
    e.Kind = TJobEventKind::Skipped;
    e.Skip = {path, frame, std::move(reason)};
    return e;
}

TJobEvent Plain(TJobEventKind kind) {
    TJobEvent e;
    e.Kind = kind;
    return e;
}

// The current bitmap as a page of no document yet, as the component would add it.
TIEPDFEncodedPage EncodeCurrentBitmap(TPictoraIO& io, const TPdfCodedImage* kept) {
    PreparePageBitmap(*io.IEBitmap(), io.Params().PdfKeepAlpha);
    io.Aborting = false;
    TIEProgressRecord progress(io.OnProgress, &io, io.Aborting);
    return EncodePdfPage(*io.IEBitmap(), io.Params(), progress, kept);
}

// What a worker's own components take over from the model's.
void CopySettings(TPictoraIO& from, TPictoraIO& to) {
    to.WebProxy = from.WebProxy;
    to.WebUserName = from.WebUserName;
    to.WebPassword = from.WebPassword;
    to.DownloadLimits = from.DownloadLimits;
    to.StreamHeaders = from.StreamHeaders;
    to.AutoAdjustDPI = from.AutoAdjustDPI;
    to.FilteredAdjustDPI = from.FilteredAdjustDPI;
    to.Params().CopyFrom(from.Params()); // encoder settings such as the JPEG quality
}
} // namespace

std::string JobFailureReason(const std::exception& e) {
    if (const auto* open = dynamic_cast<const EFOpenError*>(&e)) return "cannot be opened: " + open->Reason;
    return e.what();
}

TPageWorker::TPageWorker(TIEView& view, TPictoraIO& frameIO) : FView(&view), FFrameIO(&frameIO) {}

TPageWorker::~TPageWorker() = default;

std::unique_ptr<TPageWorker> TPageWorker::Like(TPageWorker& model) {
    std::unique_ptr<TPageWorker> w(new TPageWorker());
    w->FOwnView = std::make_unique<TIEView>();
    w->FOwnFrameIO = std::make_unique<TPictoraIO>();
    w->FView = w->FOwnView.get();
    w->FFrameIO = w->FOwnFrameIO.get();
    w->FView->Background = model.View().Background;
    w->FFrameIO->SetAttachedPictora(w->FView);
    CopySettings(model.PageIO(), w->PageIO());
    CopySettings(model.FrameIO(), w->FrameIO());
    return w;
}

TPictoraIO& TPageWorker::PageIO() {
    return *FView->IOComponent();
}

void TPageWorker::SetPaper(int paperIndex, int paperHeight, int paperWidth) {
    SetPaperFor(paperIndex, paperHeight, paperWidth, FView->BitmapWidth(), FView->BitmapHeight());
}

void TPageWorker::SetPaperFor(int paperIndex, int paperHeight, int paperWidth, int width, int height) {
    TIOParamsVals& p = PageIO().Params();
    // The picture as its page will show it: upright, and in its physical proportions.
    const TUprightSize picture = UprightImageSize(p, width, height);
    if (paperIndex == PaperFitIndex) {
        p.PdfPaperWidth = picture.Width;
        p.PdfPaperHeight = picture.Height;
    } else if (paperIndex == PaperImageSizeIndex) {
        const TUprightSize physical = PhysicalImageSize(p, width, height);
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

std::optional<TPdfCodedImage> KeptPageImage(const std::string& path, int frame, TPictoraIO& loader,
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

bool TPageWorker::MakePage(const std::string& path, int frame, TPictoraIO& loader,
                           const TPageSettings& settings, const std::function<bool(TJobEvent)>& emit,
                           TDctPageSink* rows) {
    TPictoraIO& io = PageIO();
    // The page is described by the load that filled the bitmap: a frame loaded through the other
    // component must not go out with the resolution or JPEG markers of the last single image.
    const TIOParamsVals& image = loader.Params();
    const TIELoadOutcome& load = loader.LastLoad();
    if (&image != &io.Params()) io.Params().CopyImageDescription(image);
    io.Params().PdfKeepAlpha = settings.KeepAlpha;
    io.Params().PdfAutoOrient = settings.AutoOrient;
    const TPaperItem& paper = PaperItems[static_cast<std::size_t>(settings.PaperIndex)];
    if (rows)
        SetPaperFor(settings.PaperIndex, paper.Height, paper.Width, image.ImageWidth, image.ImageHeight);
    else
        SetPaper(settings.PaperIndex, paper.Height, paper.Width);
    const std::string resized =
        TConversionJob::BoundPageSize(io.Params().PdfPaperWidth, io.Params().PdfPaperHeight);
    const TCompressionItem& item = CompressionItems[static_cast<std::size_t>(settings.Compression)];
    io.Params().PdfCompression = item.PdfCompression;
    std::string notKept;
    std::optional<TPdfCodedImage> kept;
    if (item.KeepOriginalData) kept = KeptPageImage(path, frame, loader, notKept);

    auto made = std::make_unique<TMadePage>();
    try {
        made->Encoded = rows ? rows->Finish(io.Params()) : EncodeCurrentBitmap(io, kept ? &*kept : nullptr);
    } catch (const EWriteError&) {
        throw;
    } catch (const std::exception& e) {
        return emit(Skipped(path, frame, std::string("cannot be made into a page: ") + e.what()));
    }
    // The writer refuses a bitmap without pixels: no page.
    if (!made->Encoded.Image) return emit(Skipped(path, frame, "the image has no pixels"));
    made->Incomplete = io.Aborting;
    const TPdfPageStorage& storage = made->Encoded.Storage;
    made->Stored = {path,
                    frame,
                    image.FileFormat,
                    storage,
                    item.KeepOriginalData,
                    item.KeepOriginalData && storage.Coding != TPageCoding::Kept ? notKept : ""};
    if (load.DataEndsEarly)
        made->Notes.push_back({path, frame, TNoteKind::DataMissing, MissingDataNote(load)});
    if (!resized.empty()) made->Notes.push_back({path, frame, TNoteKind::PageResized, resized});
    if (FPageSpool) SpoolPageImage(made->Encoded, *FPageSpool);
    TJobEvent e = Plain(TJobEventKind::Page);
    e.Page = std::move(made);
    return emit(std::move(e));
}

bool TPageWorker::MakeFrame(const std::string& path, int frame, int frames, TPageProgress progress,
                            const TPageSettings& settings, const std::function<int()>& load,
                            const std::function<bool(TJobEvent)>& emit) {
    TPictoraIO& io = *FFrameIO;
    progress.Page = frame + 1;
    progress.Pages = frames;
    TJobEvent started = Plain(TJobEventKind::PageStarted);
    started.Progress = progress;
    if (!emit(std::move(started))) return false;
    bool go = true;
    try {
        load();
        go = io.Aborting ? emit(Skipped(path, frame, FailedLoadReason(io)))
                         : MakePage(path, frame, io, settings, emit);
    } catch (const EWriteError&) {
        FView->ResetToBlank();
        throw; // the output itself failed: the run cannot go on
    } catch (const std::exception& e) {
        // A frame that cannot be read costs that frame alone, whichever worker made it.
        go = emit(Skipped(path, frame, JobFailureReason(e)));
    }
    FView->ResetToBlank();
    return go && emit(Plain(TJobEventKind::FrameDone));
}

bool TPageWorker::MakeFrames(const std::string& path, bool gif, const TPageSettings& settings,
                             TPageProgress progress, const std::atomic<int>& runFlag,
                             const std::function<bool(TJobEvent)>& emit,
                             const std::function<void(int frames)>& shareFrames) {
    TPictoraIO& frames = *FFrameIO;
    TIOParamsVals& fp = frames.Params();
    // A web address is downloaded once; its frames are then read from memory.
    const bool web = IsWebAddress(path);
    TMemoryStream download;
    if (web && !frames.DownloadUrl(path, download)) return emit(Skipped(path, -1, FailedLoadReason(frames)));
    // The key lets each GIF frame continue the composition of the one before, within this download.
    const std::string key = web ? "download " + std::to_string(++FDownloadCount) + " " + path : std::string();
    const auto loadFrame = [&]() {
        if (!web) return gif ? frames.LoadGifFile(path) : frames.LoadTiffFile(path);
        download.SetPosition(0);
        return gif ? frames.LoadGifStream(download, key) : frames.LoadTiffStream(download);
    };
    // A TIFF file's frames are counted by walking its directories, without decoding one; otherwise,
    // and for the reason of a file that holds none, the first load serves to learn the frame count (it
    // reads the frame the index last held).
    const bool tiffOnDisk = !web && !gif;
    int count = tiffOnDisk ? CountImagesInFile(path, ioTIFF) : 0;
    if (count <= 0) count = loadFrame();
    if (count <= 0) return emit(Skipped(path, -1, FailedLoadReason(frames)));
    TJobEvent counted = Plain(TJobEventKind::FramesCounted);
    counted.Frames = count;
    if (!emit(std::move(counted))) return false;
    // A TIFF file's frames stand alone, so other workers may make some; a GIF frame is composed
    // over the one before, and a download is held by this worker alone.
    if (tiffOnDisk && count > 1 && shareFrames) {
        TJobEvent shared = Plain(TJobEventKind::FramesShared);
        shared.Frames = count;
        if (!emit(std::move(shared))) return false;
        shareFrames(count);
        return true;
    }
    for (int k = 0; k < count; ++k) {
        if (runFlag != 1) break;
        if (gif)
            fp.GifFrameIndex = k;
        else
            fp.TiffFrameIndex = k;
        if (!MakeFrame(path, k, count, progress, settings, loadFrame, emit)) return false;
    }
    return true;
}

void TPageWorker::MakeSharedFrame(const std::string& path, int frame, int frames,
                                  const TPageProgress& progress, const TPageSettings& settings,
                                  const std::atomic<int>& runFlag, const TJobEventSink& sink) {
    if (runFlag == 1) {
        FFrameIO->Params().TiffFrameIndex = frame;
        const auto load = [&] { return FFrameIO->LoadTiffFile(path); };
        MakeFrame(path, frame, frames, progress, settings, load, sink); // ends with FrameDone
        return;
    }
    sink(Plain(TJobEventKind::FrameDone));
}

void TPageWorker::MakeImagePage(const std::string& path, const TPageSettings& settings,
                                const std::function<bool(TJobEvent)>& emit) {
    TPictoraIO& io = PageIO();
    const TCompressionItem& item = CompressionItems[static_cast<std::size_t>(settings.Compression)];
    // A colour photo bound for a DCT page is encoded as it is decoded: no bitmap of the whole picture,
    // whose fresh memory costs more than the decoding on some machines. A grey picture or a file cut
    // short loads again into the bitmap, which gives the page and its notes as it always has; a file
    // the reader refused is skipped with the reason it gave, as the bitmap's load would give it.
    std::optional<TDctPageSink> rows;
    if (item.PdfCompression == pdfDct && !item.KeepOriginalData && !IsWebAddress(path)) rows.emplace();
    std::optional<TOfferedPage> offered;
    if (rows) offered.emplace(FHelpBoard, *rows);
    io.RowSink = rows ? &*rows : nullptr;
    try {
        io.LoadFromFile(path);
    } catch (...) {
        io.RowSink = nullptr;
        throw;
    }
    io.RowSink = nullptr;
    offered.reset();
    if (rows) rows->Settle();
    if (rows && rows->Began() && !io.Aborting) {
        if (!io.LastLoad().DataEndsEarly && rows->Complete()) {
            MakePage(path, -1, io, settings, emit, &*rows);
            return;
        }
        io.LoadFromFile(path);
    }
    // A file that cannot be read must not become a page of the previous image.
    if (io.Aborting)
        emit(Skipped(path, -1, FailedLoadReason(io)));
    else
        MakePage(path, -1, io, settings, emit);
}

void TPageWorker::MakeEntry(const std::string& path, const TPageProgress& progress,
                            const TPageSettings& settings, const std::atomic<int>& runFlag,
                            const TJobEventSink& sink, const std::function<void(int frames)>& shareFrames) {
    bool go = true;
    const std::function<bool(TJobEvent)> emit = [&](TJobEvent e) {
        if (go) go = sink(std::move(e));
        return go;
    };
    if (runFlag == 1) {
        const std::string ext = AsciiUpper(ExtensionOf(path));
        // A web address follows the same rule by the extension of its path (ExtensionOf).
        const bool tiff = ext == ".TIFF" || ext == ".TIF";
        const bool gif = ext == ".GIF";
        if (!tiff && shareFrames) shareFrames(0);
        try {
            if (!tiff && !gif) {
                TJobEvent started = Plain(TJobEventKind::PageStarted);
                started.Progress = progress;
                if (emit(std::move(started))) MakeImagePage(path, settings, emit);
            } else {
                MakeFrames(path, gif, settings, progress, runFlag, emit, shareFrames);
            }
        } catch (const EWriteError&) {
            throw; // the output itself failed: the run cannot go on
        } catch (const std::exception& e) {
            emit(Skipped(path, -1, JobFailureReason(e)));
        }
    }
    emit(Plain(TJobEventKind::EntryDone));
}
