// folianto-convert: the conversion job from a terminal.
#include "app/cli/CliOptions.h"
#include "app/cli/ConsoleProgress.h"
#include "app/cli/FileInfo.h"
#include "app/cli/FolderOpener.h"
#include "app/cli/FrameNote.h"
#include "app/cli/InputList.h"
#include "app/cli/Interrupt.h"
#include "app/cli/OutputTarget.h"
#include "app/cli/RunReport.h"
#include "app/job/ConversionJob.h"
#include "app/job/ConversionTables.h"
#include "imaging/io/IEView.h"
#include "imaging/io/PictoraIO.h"
#include "platform/Allocator.h"
#include "platform/DateTime.h"

#include <cstdint>
#include <cstdio>
#include <iostream>
#include <string>
#include <unistd.h>

namespace {
int Usage(const std::string& error) {
    std::fprintf(stderr, "folianto-convert: %s\nTry 'folianto-convert --help' for more information.\n",
                 error.c_str());
    return exitUsage;
}

std::string Replaced(std::string text, const std::string& from, const std::string& to) {
    for (std::size_t at = text.find(from); !from.empty() && at != std::string::npos;
         at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

TConversionInputs JobInputs(const TCliOptions& o, const TOutputTarget& target,
                            std::vector<std::string> paths) {
    TConversionInputs in;
    in.OutputFolder = target.WorkFolder();
    in.OutputName = target.WorkName();
    in.SourcePaths = std::move(paths);
    in.CompressionIndex = o.CompressionIndex;
    in.PaperIndex = o.PaperIndex;
    in.KeepAlpha = o.KeepAlpha;
    in.AutoOrient = o.AutoOrient;
    in.Jobs = o.Jobs > 0 ? o.Jobs : DefaultJobCount();
    in.Title = o.Title;
    in.Subject = o.Subject;
    in.Author = o.Author;
    in.Keywords = o.Keywords;
    in.Creator = std::string(CreatorText);
    in.Producer = std::string(ProducerText);
    return in;
}

int Convert(const TCliOptions& o, std::vector<std::string> paths) {
    TOutputTarget target;
    std::string error;
    if (!target.Plan(o.Output, o.Force, error)) return Usage(error);

    TIEView view;
    TPictoraIO frameIO;
    frameIO.SetAttachedPictora(&view);
    frameIO.SetBackground(clBtnFace);
    TConversionJob job(view, frameIO);

    TConsoleProgress progress(stderr, !o.Quiet, ::isatty(STDERR_FILENO) != 0, static_cast<int>(paths.size()));
    TConversionCallbacks cb;
    // The job names the file it writes; the user knows the document by its final name.
    cb.ShowMessage = [&](const std::string& text) {
        progress.Note(Replaced(text, target.WorkPath(), target.DisplayName()));
    };
    cb.EntryStarted = [&](const std::string& path) {
        progress.EntryStarted(path);
        if (const std::string note = FirstFrameOnlyNote(path); !note.empty()) progress.Note(note);
    };
    cb.FramesCounted = [&](const std::string&, int frames) { progress.FramesCounted(frames); };
    cb.PageAdded = [&](int pages) { progress.PageAdded(pages); };

    CatchInterrupts(job, target.WorkPath(), target.TemporaryFolder());
    const TJobResult r = job.Execute(JobInputs(o, target, std::move(paths)), cb);
    ReleaseInterrupts();
    progress.Finish();

    if (r.Outcome == TJobOutcome::NotStarted) return exitUsage;
    if (r.Outcome == TJobOutcome::Failed) return exitFailed;
    for (const TSkippedInput& s : r.Skipped)
        std::fprintf(stderr, "folianto-convert: %s\n", SkippedLine(s).c_str());
    for (const TPageNote& n : r.Notes) std::fprintf(stderr, "folianto-convert: %s\n", NoteLine(n).c_str());
    if (r.Outcome == TJobOutcome::NoPages) {
        std::fprintf(stderr, "folianto-convert: no page was converted, nothing written\n");
        return exitFailed;
    }
    if (!target.Deliver(error)) {
        std::fprintf(stderr, "folianto-convert: %s\n", error.c_str());
        return exitFailed;
    }
    // Only now, so that the folder shows the finished document under its name.
    if (std::string why; o.Open && !OpenFolder(target.WorkFolder(), why))
        std::fprintf(stderr, "folianto-convert: cannot open %s: %s\n", target.WorkFolder().c_str(),
                     why.c_str());
    if (r.Outcome == TJobOutcome::Stopped) std::fprintf(stderr, "folianto-convert: stopped\n");
    if (o.Verbose) {
        int page = 0;
        for (const TPageStored& stored : r.Stored)
            std::fprintf(stderr, "%s\n", StoredLine(++page, stored).c_str());
        if (const std::string kept = KeptSummary(r); !kept.empty())
            std::fprintf(stderr, "%s\n", kept.c_str());
    }
    if (!o.Quiet)
        std::fprintf(stderr, "%s: %d page%s\n", target.DisplayName().c_str(), r.PagesWritten,
                     r.PagesWritten == 1 ? "" : "s");
    return WrittenRunStatus(r);
}
} // namespace

int main(int argc, char** argv) {
    KeepPixelBlocksForReuse();
    TCliOptions o;
    std::string error;
    if (!ParseCliOptions(std::vector<std::string>(argv + 1, argv + argc), o, error)) return Usage(error);
    if (o.Help) {
        std::fputs(CliUsage().c_str(), stdout);
        return exitComplete;
    }
    if (o.Version) {
        std::fputs(CliVersion().c_str(), stdout);
        return exitComplete;
    }
    std::int64_t epoch = 0;
    if (ReadSourceDateEpoch(epoch) == TSourceDateEpoch::Malformed)
        return Usage("SOURCE_DATE_EPOCH must be a number of seconds since 1970 up to the year 9999");
    try {
        std::vector<std::string> paths;
        if (!BuildInputList(o, std::cin, paths, error)) return Usage(error);
        if (o.Info) return DescribeFiles(paths, stdout, stderr);
        return Convert(o, std::move(paths));
    } catch (const std::exception& e) {
        std::fprintf(stderr, "folianto-convert: %s\n", e.what());
        return exitFailed;
    }
}
