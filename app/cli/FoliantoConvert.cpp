// folianto-convert: the conversion job from a terminal.
#include "app/cli/CliOptions.h"
#include "app/job/ConversionJob.h"
#include "app/job/ConversionTables.h"
#include "imaging/bitmap/IEBitmap.h"
#include "imaging/io/IEView.h"
#include "imaging/io/PictoraIO.h"
#include "platform/FileSystem.h"

#include <csignal>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>
#include <unistd.h>

namespace {
TConversionJob* gJob = nullptr;
volatile std::sig_atomic_t gInterrupts = 0;
char gPartialPath[4096] = {}; // removed by a second Ctrl-C, which ends the program at once

void OnInterrupt(int) {
    gInterrupts = gInterrupts + 1;
    if (gInterrupts >= 2) {
        if (gPartialPath[0]) ::unlink(gPartialPath);
        ::_exit(130);
    }
    if (gJob) gJob->RunFlag = 0; // the entry in progress finishes, then the pages so far are written
}

std::string FrameText(const TSkippedInput& s) {
    return s.Frame >= 0 ? " (frame " + std::to_string(s.Frame + 1) + ")" : "";
}

class TProgressLine {
public:
    explicit TProgressLine(bool enabled) : Enabled(enabled), Terminal(enabled && ::isatty(2)) {}
    void SetMax(int max) {
        Max = max;
        Draw();
    }
    void SetPosition(int position) {
        Position = position;
        Draw();
    }
    void Entry(const std::string& path) {
        Current = ExtractFileName(path);
        if (Enabled && !Terminal) std::fprintf(stderr, "converting %s\n", path.c_str());
        Draw();
    }
    void Page(int pages) {
        Pages = pages;
        Draw();
    }
    void Finish() {
        if (Terminal && Drawn) std::fputs("\r\033[K", stderr);
        Drawn = false;
    }

private:
    void Draw() {
        if (!Terminal) return;
        const int width = 30;
        const int filled =
            Max > 0 ? static_cast<int>(std::int64_t(width) * std::min(Position, Max) / Max) : 0;
        std::string bar(static_cast<std::size_t>(filled), '#');
        bar.resize(width, '.');
        std::fprintf(stderr, "\r\033[K[%s] %d of %d pages  %s", bar.c_str(), Pages, Max / 10,
                     Current.substr(0, 40).c_str());
        std::fflush(stderr);
        Drawn = true;
    }
    bool Enabled, Terminal;
    bool Drawn = false;
    int Max = 0, Position = 0, Pages = 0;
    std::string Current;
};

int RunInfo(const TCliOptions& o) {
    TPictoraIO io;
    bool unknown = false;
    for (const std::string& f : o.Files) {
        TIOParamsVals& p = io.Params();
        io.ReadParamsFromFile(f);
        if (p.FileFormat == 0) {
            std::printf("%s: unknown format\n", f.c_str());
            unknown = true;
            continue;
        }
        std::printf("%s: format %d, %s\n", f.c_str(), p.FileFormat, p.FormatDescription().c_str());
        std::printf("  size %d x %d, resolution %d x %d dpi, %d bits per sample, %d samples per pixel\n",
                    p.ImageWidth, p.ImageHeight, p.HorizontalDpi, p.VerticalDpi, p.BitsPerSample,
                    p.SamplesPerPixel);
        if (p.FileFormat == 1) std::printf("  frames: %d\n", p.TiffFrameCount);
        if (p.FileFormat == 2) std::printf("  frames: %d\n", p.GifFrameCount);
    }
    return unknown ? 1 : 0;
}
} // namespace

int main(int argc, char** argv) {
    TCliOptions o;
    std::string error;
    if (!ParseCliOptions(std::vector<std::string>(argv + 1, argv + argc), o, error)) {
        std::fprintf(stderr, "folianto-convert: %s\n\n%s", error.c_str(), CliUsage().c_str());
        return 2;
    }
    if (o.Help) {
        std::fputs(CliUsage().c_str(), stdout);
        return 0;
    }
    if (o.Version) {
        std::printf("folianto-convert 1.0.0\n");
        return 0;
    }
    try {
        if (o.Info) return RunInfo(o);

        TConversionInputs in;
        std::string finalName;
        SplitOutputPath(o.Output, in.OutputFolder, finalName);
        std::string folderPath, finalPath;
        TConversionInputs probe;
        probe.OutputFolder = in.OutputFolder;
        probe.OutputName = finalName;
        const std::string refused = TConversionJob::Validate(probe, folderPath, finalPath);
        const bool replacing =
            o.Force && refused == "Change the name of the output file!" && FileExists(finalPath);
        // With --force the document goes to a hidden file first and replaces the old one only when
        // complete, so a failed run never costs the user the file they had.
        in.OutputName = replacing ? "." + finalName + ".partial-" + std::to_string(::getpid()) : finalName;
        in.SourcePaths = o.Files;
        in.CompressionIndex = o.CompressionIndex;
        in.PaperIndex = o.PaperIndex;
        in.Title = o.Title;
        in.Subject = o.Subject;
        in.Author = o.Author;
        in.Keywords = o.Keywords;
        in.Creator = std::string(CreatorText);
        in.Producer = std::string(ProducerText);

        TIEView view;
        TPictoraIO frameIO;
        frameIO.SetAttachedPictora(&view);
        frameIO.SetBackground(clBtnFace);
        TConversionJob job(view, frameIO);
        gJob = &job;
        const std::string partial = IncludeTrailingPathDelimiter(in.OutputFolder) + in.OutputName + ".pdf";
        std::strncpy(gPartialPath, partial.c_str(), sizeof gPartialPath - 1);
        std::signal(SIGINT, OnInterrupt);

        TProgressLine progress(!o.Quiet);
        TConversionCallbacks cb;
        cb.ShowMessage = [&](const std::string& text) {
            progress.Finish();
            std::fprintf(stderr, "folianto-convert: %s\n", text.c_str());
        };
        cb.SetProgressMax = [&](int m) { progress.SetMax(m); };
        cb.SetProgressPosition = [&](int p) { progress.SetPosition(p); };
        cb.EntryStarted = [&](const std::string& p) { progress.Entry(p); };
        cb.PageAdded = [&](int n) { progress.Page(n); };
        if (o.Open)
            cb.OpenFolder = [](const std::string& folder) {
                const std::string cmd = "xdg-open '" + folder + "' >/dev/null 2>&1 &";
                if (std::system(cmd.c_str()) != 0)
                    std::fprintf(stderr, "folianto-convert: cannot open %s\n", folder.c_str());
            };

        TJobResult r = job.Execute(in, cb);
        gJob = nullptr;
        std::signal(SIGINT, SIG_DFL);
        gPartialPath[0] = '\0';
        progress.Finish();

        if (r.Outcome == TJobOutcome::NotStarted) return 2;
        if (r.Outcome == TJobOutcome::Failed) return 3;
        for (const TSkippedInput& s : r.Skipped)
            std::fprintf(stderr, "folianto-convert: skipped %s%s: %s\n", s.Path.c_str(), FrameText(s).c_str(),
                         s.Reason.c_str());
        if (r.Outcome == TJobOutcome::NoPages) {
            std::fprintf(stderr, "folianto-convert: no page was converted, nothing written\n");
            return 3;
        }
        if (replacing && std::rename(r.OutputPath.c_str(), finalPath.c_str()) != 0) {
            std::fprintf(stderr, "folianto-convert: cannot replace %s: %s\n", finalPath.c_str(),
                         std::strerror(errno));
            DeleteFile(r.OutputPath);
            return 3;
        }
        const std::string written = replacing ? finalPath : r.OutputPath;
        if (r.Outcome == TJobOutcome::Stopped) std::fprintf(stderr, "folianto-convert: stopped\n");
        if (!o.Quiet)
            std::fprintf(stderr, "%s: %d page%s\n", written.c_str(), r.PagesWritten,
                         r.PagesWritten == 1 ? "" : "s");
        return (r.Skipped.empty() && r.Outcome == TJobOutcome::Completed) ? 0 : 1;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "folianto-convert: %s\n", e.what());
        return 3;
    }
}
