#include "app/job/ConversionJob.h"

#include "app/job/ConversionTables.h"
#include "app/job/EntryQueue.h"
#include "app/job/PageHelpBoard.h"
#include "app/job/PageWorker.h"
#include "imaging/io/IEView.h"
#include "imaging/io/PictoraIO.h"
#include "imaging/params/IOParams.h"
#include "platform/Exceptions.h"
#include "platform/FileSystem.h"
#include "platform/Stream.h"

#include <algorithm>
#include <climits>
#include <thread>

namespace {
template <class F> void Call(const F& f, auto&&... args) {
    if (f) f(std::forward<decltype(args)>(args)...);
}

// While a run goes on, every download asks here whether to go on: the run flag answers, and on the
// caller's thread the window's events are processed meanwhile (so that it can be stopped or closed).
// Undone when the run ends.
class TDownloadWatch {
public:
    TDownloadWatch(const std::atomic<int>& runFlag, const std::vector<TPictoraIO*>& components,
                   const std::function<void()>& processMessages) {
        for (TPictoraIO* io : components) {
            Saved.emplace_back(io, io->DownloadContinue);
            io->DownloadContinue = [&runFlag, &processMessages] {
                Call(processMessages);
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

// Takes the events of each entry, in list order: adds its pages to the document, keeps the result and
// makes the callbacks.
class TRunCollector {
public:
    TRunCollector(TIEPDFBuilder& document, TJobResult& result, const TConversionCallbacks& cb,
                  int& progressMax, int& position)
        : Document(document), Result(result), Cb(cb), ProgressMax(progressMax), Position(position) {}

    void EntryStarted(const std::string& path) { Call(Cb.EntryStarted, path); }

    // True for the entry's last event.
    bool Take(const std::string& path, TJobEvent e) {
        switch (e.Kind) {
        case TJobEventKind::PageStarted:
            Call(Cb.PageStarted, e.Progress);
            return false;
        case TJobEventKind::FramesCounted:
            Call(Cb.FramesCounted, path, e.Frames);
            ProgressMax += 10 * e.Frames;
            Call(Cb.SetProgressMax, ProgressMax);
            return false;
        case TJobEventKind::Skipped:
            Result.Skipped.push_back(std::move(e.Skip));
            return false;
        case TJobEventKind::Page:
            AddPage(*e.Page);
            return false;
        case TJobEventKind::FramesShared: // the run reads the frames' own events
            return false;
        case TJobEventKind::FrameDone:
            Position += 10;
            Call(Cb.SetProgressPosition, Position);
            // A long multi-page file must not freeze the window: a stop takes effect at the next frame.
            Call(Cb.ProcessMessages);
            return false;
        case TJobEventKind::EntryDone:
            Call(Cb.ProcessMessages);
            Position += 10;
            Call(Cb.SetProgressPosition, Position);
            return true;
        }
        return false;
    }

private:
    void AddPage(TMadePage& page) {
        AddEncodedPage(Document, std::move(page.Encoded)); // EWriteError: the run cannot go on
        const TPageStored& stored = page.Stored;
        // The encoder could not finish this page, but the page is in the document: say so.
        if (page.Incomplete)
            Result.Skipped.push_back({stored.Path, stored.Frame, "the page could not be encoded completely"});
        ++Result.PagesWritten;
        if (stored.Storage.Coding == TPageCoding::Kept) ++Result.PagesKept;
        Result.Stored.push_back(stored);
        for (TPageNote& note : page.Notes) Result.Notes.push_back(std::move(note));
        Call(Cb.PageAdded, Result.PagesWritten);
    }

    TIEPDFBuilder& Document;
    TJobResult& Result;
    const TConversionCallbacks& Cb;
    int& ProgressMax;
    int& Position;
};

// While a run lasts, a worker spools the images of the pages it makes, so that the thread taking the
// pages into the document writes no image data, and offers its photos for help.
class TWorkerInRun {
public:
    TWorkerInRun(TPageWorker& worker, TIEPDFSpool* spool, TPageHelpBoard& help) : Worker(worker) {
        Worker.SpoolPagesTo(spool);
        Worker.OfferPagesOn(&help);
    }
    ~TWorkerInRun() {
        Worker.SpoolPagesTo(nullptr);
        Worker.OfferPagesOn(nullptr);
    }
    TWorkerInRun(const TWorkerInRun&) = delete;
    TWorkerInRun& operator=(const TWorkerInRun&) = delete;

private:
    TPageWorker& Worker;
};

// Cancels the queue when the run leaves, normally or by an exception, so that the workers stop and
// can be joined.
class TCancelOnExit {
public:
    explicit TCancelOnExit(TEntryQueue& queue) : Queue(queue) {}
    ~TCancelOnExit() { Queue.Cancel(); }
    TCancelOnExit(const TCancelOnExit&) = delete;
    TCancelOnExit& operator=(const TCancelOnExit&) = delete;

private:
    TEntryQueue& Queue;
};

// Reads the events of an entry's shared frames, frame by frame. As with frames made in turn, a stop
// takes effect at the next frame, though a worker may have made it already.
void TakeSharedFrames(TEntryQueue& queue, std::size_t entry, int frames, const std::atomic<int>& runFlag,
                      const std::function<void(TJobEvent)>& take) {
    for (int k = 0; k < frames && runFlag == 1; ++k) {
        bool dropping = false;
        while (std::optional<TJobEvent> e = queue.Next(TQueueTask{entry, k})) {
            const bool done = e->Kind == TJobEventKind::FrameDone;
            dropping = dropping || (e->Kind == TJobEventKind::PageStarted && runFlag != 1);
            if (!dropping) take(std::move(*e));
            if (done) break;
        }
    }
}

TPageProgress ProgressOf(const std::vector<std::string>& paths, std::size_t i) {
    const int entries = static_cast<int>(std::min<std::size_t>(paths.size(), INT_MAX));
    return {paths[i], static_cast<int>(std::min<std::size_t>(i + 1, INT_MAX)), entries, 1, 1};
}
} // namespace

int DefaultJobCount() {
    return static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
}

TConversionJob::TConversionJob(TIEView& view, TPictoraIO& frameIO)
    : View(view), FWorker(std::make_unique<TPageWorker>(view, frameIO)) {}

TConversionJob::~TConversionJob() = default;

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
    FWorker->SetPaper(paperIndex, paperHeight, paperWidth);
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
    const auto points = [](int x, int y) { return std::to_string(x) + " \u00d7 " + std::to_string(y); };
    if (scale < 1.0)
        return "page of " + points(w, h) + " points scaled down to " + points(width, height) +
               ", the largest PDF viewers show";
    return "page of " + points(w, h) + " points scaled up to " + points(width, height) +
           ", the smallest PDF viewers show";
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
    TPageSettings settings;
    settings.Compression = std::clamp(in.CompressionIndex, 0, int(CompressionItems.size()) - 1);
    settings.PaperIndex = std::clamp(in.PaperIndex, 0, int(PaperItems.size()) - 1);
    settings.KeepAlpha = in.KeepAlpha;
    settings.AutoOrient = in.AutoOrient;
    const std::vector<std::string>& paths = in.SourcePaths;
    const std::size_t n = paths.size();
    // More workers than entries would have nothing to do.
    const std::size_t jobs = std::clamp<std::size_t>(static_cast<std::size_t>(std::max(in.Jobs, 1)), 1,
                                                     std::max<std::size_t>(n, 1));

    RunFlag = 1;
    if (StopRequested) RunFlag = 0;
    Call(cb.SetInputsEnabled, false);
    int position = 0;
    std::unique_ptr<TFileStream> output;
    std::unique_ptr<TIEPDFBuilder> document;
    try {
        std::vector<std::unique_ptr<TPageWorker>> more;
        for (std::size_t w = 1; w < jobs; ++w) more.push_back(TPageWorker::Like(*FWorker));
        std::vector<TPageWorker*> workers{FWorker.get()};
        std::vector<TPictoraIO*> components{&FWorker->PageIO(), &FWorker->FrameIO()};
        for (const auto& w : more) {
            workers.push_back(w.get());
            components.insert(components.end(), {&w->PageIO(), &w->FrameIO()});
        }
        // A download can take long: a stop ends it. Only a download on this thread may keep the
        // window alive meanwhile.
        const std::function<void()> noMessages;
        const TDownloadWatch watch(RunFlag, components, jobs == 1 ? cb.ProcessMessages : noMessages);

        int progressMax = static_cast<int>(std::min<std::size_t>(n, 200000000) * 10);
        Call(cb.SetProgressMax, progressMax);
        Call(cb.SetProgressPosition, 0);

        output = std::make_unique<TFileStream>(result.OutputPath, fmCreate);
        // The spool goes beside the output: it takes the document's own disk, which it gives back as
        // the document is written, rather than a temporary folder that may be small or held in memory.
        const std::string folder = ExtractFilePath(result.OutputPath);
        document = CreatePdfDocument(folder.empty() ? "." : folder);
        TIOParamsVals info;
        info.PdfTitle = in.Title;
        info.PdfSubject = in.Subject;
        info.PdfAuthor = in.Author;
        info.PdfCreator = in.Creator;
        info.PdfProducer = in.Producer;
        info.PdfKeywords = in.Keywords;

        TRunCollector collect(*document, result, cb, progressMax, position);
        if (jobs == 1) {
            for (std::size_t i = 0; i < n; ++i) {
                if (RunFlag != 1) break;
                collect.EntryStarted(paths[i]);
                FWorker->MakeEntry(paths[i], ProgressOf(paths, i), settings, RunFlag, [&](TJobEvent e) {
                    collect.Take(paths[i], std::move(e));
                    return true;
                });
            }
        } else {
            // Each worker holds at most a couple of encoded pages the document has not taken.
            TEntryQueue queue(n, {2, 2 * jobs, 2 * jobs});
            TPageHelpBoard help;
            std::vector<std::jthread> threads;
            const TCancelOnExit cancel(queue); // before the threads are joined
            for (TPageWorker* worker : workers) {
                TIEPDFSpool* spool = nullptr;
                try {
                    spool = &AddPageSpool(*document);
                } catch (const EFOpenError&) {
                    // The document's own spool takes this worker's pages then.
                }
                threads.emplace_back([&, worker, spool] {
                    const TWorkerInRun inRun(*worker, spool, help);
                    while (const std::optional<TQueueTask> task = queue.Take()) {
                        const std::size_t i = task->Entry;
                        const bool whole = task->Frame == TQueueTask::kWholeEntry;
                        const auto sink = [&](TJobEvent e) { return queue.Push(*task, std::move(e)); };
                        const auto share = [&](int frames) { queue.ShareFrames(i, frames); };
                        try {
                            if (whole)
                                worker->MakeEntry(paths[i], ProgressOf(paths, i), settings, RunFlag, sink,
                                                  share);
                            else
                                worker->MakeSharedFrame(paths[i], task->Frame, task->Frames,
                                                        ProgressOf(paths, i), settings, RunFlag, sink);
                        } catch (const std::exception& e) {
                            TJobEvent skipped;
                            skipped.Kind = TJobEventKind::Skipped;
                            skipped.Skip = {paths[i], whole ? -1 : task->Frame, JobFailureReason(e)};
                            sink(std::move(skipped));
                            TJobEvent last;
                            last.Kind = whole ? TJobEventKind::EntryDone : TJobEventKind::FrameDone;
                            sink(std::move(last));
                        }
                        if (whole) queue.EntryMade(i);
                    }
                    // Nothing left to take: rather than wait for the others, take over the encoding
                    // of a photo one of them is still decoding.
                    while (help.HelpOne()) {
                    }
                });
            }
            for (std::size_t i = 0; i < n; ++i) {
                if (RunFlag != 1) break;
                collect.EntryStarted(paths[i]);
                bool frames = false, dropping = false;
                while (std::optional<TJobEvent> e = queue.Next(i)) {
                    if (e->Kind == TJobEventKind::FramesShared) {
                        TakeSharedFrames(queue, i, e->Frames, RunFlag,
                                         [&](TJobEvent f) { collect.Take(paths[i], std::move(f)); });
                        continue;
                    }
                    frames = frames || e->Kind == TJobEventKind::FramesCounted;
                    // As on one thread, a stop takes effect at the next frame, though the worker may
                    // have made it already.
                    dropping = dropping || (frames && e->Kind == TJobEventKind::PageStarted && RunFlag != 1);
                    if (dropping && e->Kind != TJobEventKind::EntryDone) continue;
                    if (collect.Take(paths[i], std::move(*e))) break;
                }
                queue.Finish(i);
            }
        }

        // A stop request at any point of the run counts, even one that came during the last entry.
        const bool stopped = RunFlag != 1;
        if (result.PagesWritten == 0) {
            // Viewers reject a document without pages: leave no file rather than a broken one.
            document.reset();
            output.reset();
            DeleteFile(result.OutputPath);
            result.Outcome = TJobOutcome::NoPages;
        } else {
            WritePdfDocument(document, *output, info);
            output.reset();
            result.Outcome = stopped ? TJobOutcome::Stopped : TJobOutcome::Completed;
            Call(cb.Beep);
            Call(cb.OpenFolder, folderPath);
        }
        position = 0;
        Call(cb.SetProgressPosition, 0);
        RunFlag = 0;
    } catch (const std::exception& e) {
        // Nothing of a broken run may look like a finished document.
        document.reset();
        output.reset();
        DeleteFile(result.OutputPath);
        result.Outcome = TJobOutcome::Failed;
        result.Message =
            "The PDF file " + result.OutputPath + " could not be written: " + JobFailureReason(e);
        Call(cb.ShowMessage, result.Message);
    }
    Call(cb.SetInputsEnabled, true);
    if (!result.Skipped.empty() || !result.Notes.empty())
        Call(cb.ReportSkipped, result.Skipped, result.Notes);
    return result;
}
