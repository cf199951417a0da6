#include "app/window/RunTexts.h"

#include "app/window/FileListRules.h"

#include <QFile>

namespace {
QString Decoded(const std::string& path) {
    return QFile::decodeName(QByteArray::fromStdString(path));
}

QString Pages(int n) {
    return n == 1 ? QStringLiteral("1 page") : QStringLiteral("%1 pages").arg(n);
}
} // namespace

QString PageStatusText(const TPageProgress& page) {
    QString text = QStringLiteral("Converting %1 (file %2 of %3)")
                       .arg(EntryName(Decoded(page.Path)))
                       .arg(page.Entry)
                       .arg(page.Entries);
    if (page.Pages > 1) text += QStringLiteral(": page %1 of %2").arg(page.Page).arg(page.Pages);
    return text;
}

QString SkippedText(const std::vector<TSkippedInput>& skipped, const std::vector<TPageNote>& notes) {
    constexpr std::size_t shown = 20;
    const auto line = [](const std::string& path, int frame, const std::string& what) {
        QString l = QStringLiteral("\n") + Decoded(path);
        if (frame >= 0) l += QStringLiteral(" (frame %1)").arg(frame + 1);
        return l + QStringLiteral(": ") + QString::fromStdString(what);
    };
    QString text = QStringLiteral("Some files did not become complete pages of the PDF file:\n");
    std::size_t listed = 0;
    for (const TSkippedInput& s : skipped)
        if (listed++ < shown) text += line(s.Path, s.Frame, s.Reason);
    for (const TPageNote& n : notes)
        if (listed++ < shown) text += line(n.Path, n.Frame, n.Text);
    if (listed > shown) text += QStringLiteral("\n\n... and %1 more.").arg(listed - shown);
    return text;
}

TRunReport RunReport(const TJobResult& result, bool outputExists) {
    const QString path = Decoded(result.OutputPath);
    const QString name = FileNameOf(path);
    const bool stopped = result.Outcome == TJobOutcome::Stopped;
    TRunReport report;
    const bool wrote = result.Outcome != TJobOutcome::NoPages && result.PagesWritten > 0;
    report.OfferOpen = wrote && outputExists;
    if (!wrote) {
        report.Text = QStringLiteral("No page was converted; no PDF file was written.");
        report.Status = QStringLiteral("No page was converted; nothing was written");
    } else if (!outputExists) {
        // Something removed or moved the document between its writing and this report.
        report.Text = QStringLiteral("The PDF file was written (%1) but is no longer there:\n%2")
                          .arg(Pages(result.PagesWritten), path);
        report.Status = QStringLiteral("Written, but %1 is no longer there").arg(name);
    } else if (stopped) {
        report.Text = QStringLiteral("The conversion was stopped. The %1 done so far %2 written to:\n%3")
                          .arg(Pages(result.PagesWritten), result.PagesWritten == 1 ? "was" : "were", path);
        report.Status = QStringLiteral("Stopped: %1 written to %2").arg(Pages(result.PagesWritten), name);
    } else {
        report.Text =
            QStringLiteral("The PDF file is written (%1):\n%2").arg(Pages(result.PagesWritten), path);
        report.Status = QStringLiteral("Finished: %1 written to %2").arg(Pages(result.PagesWritten), name);
    }
    if (!result.Skipped.empty() || !result.Notes.empty())
        report.Text += QStringLiteral("\n\n") + SkippedText(result.Skipped, result.Notes);
    return report;
}
