#include "app/cli/RunReport.h"

#include <algorithm>

namespace {
std::string FrameText(int frame) {
    return frame >= 0 ? " (frame " + std::to_string(frame + 1) + ")" : "";
}
} // namespace

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
