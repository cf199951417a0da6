// The main window's side of a conversion run: the inputs it hands the job, the controls it disables,
// the live progress, the Stop button and the report at the end.
#include "app/window/MainWindow.h"

#include "app/window/FileListBox.h"
#include "app/window/RunTexts.h"
#include "app/window/RunThread.h"
#include "app/window/WindowText.h"
#include "platform/FileSystem.h"
#include "shell/pathedit/ShellPathEdit.h"

#include <QAction>
#include <QComboBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>

#include <algorithm>

TConversionInputs TForm1::Inputs() const {
    TConversionInputs in;
    in.OutputFolder = ShellPathEdit1->Path();
    in.OutputName = Encoded(OutputFile->text());
    for (int i = 0; i < ListBox1->count(); ++i) in.SourcePaths.push_back(Encoded(ListBox1->item(i)->text()));
    in.CompressionIndex = CompresBox->currentIndex();
    in.PaperIndex = FormatBox->currentIndex();
    in.KeepAlpha = ActKeepTransparency->isChecked();
    in.AutoOrient = !ActKeepAsStored->isChecked();
    in.Title = TitleEd->text().toStdString();
    in.Subject = SubjectEd->text().toStdString();
    in.Author = AuthorEd->text().toStdString();
    in.Creator = CreatorEd->text().toStdString();
    in.Producer = ProducerEd->text().toStdString();
    in.Keywords = Keywords->toPlainText().toStdString();
    in.Jobs = DefaultJobCount();
    return in;
}

// The output panel stays enabled during a run so its progress bar and Stop button stay live; only its
// two fields are locked.
void TForm1::SetInputsEnabled(bool enabled) {
    FileList->setEnabled(enabled);
    OutputFile->setEnabled(enabled);
    ShellPathEdit1->SetEnabled(enabled);
    StopButton->setEnabled(!enabled);
    GroupBox1->setEnabled(enabled);
    GroupBox2->setEnabled(enabled);
    GroupBox3->setEnabled(enabled);
    const bool any = ListBox1->count() > 0;
    ActAddFiles->setEnabled(enabled);
    ActConvert->setEnabled(enabled && any);
    ActClear->setEnabled(enabled && any);
    ActClearProperties->setEnabled(enabled);
    ActKeepTransparency->setEnabled(enabled);
    ActDelete->setEnabled(enabled && FileList->ItemIndex() >= 0);
}

void TForm1::StopRun() {
    if (!RunActive()) return;
    FJob->RequestStop();
    StopButton->setEnabled(false);
    statusBar()->showMessage(QStringLiteral("Stopping after the current page..."));
}

void TForm1::SetProgressMax(int max) {
    ProgressBar1->setMaximum(std::max(max, 1));
}

void TForm1::SetProgressPosition(int position) {
    ProgressBar1->setValue(std::clamp(position, ProgressBar1->minimum(), ProgressBar1->maximum()));
}

void TForm1::PageStarted(const TPageProgress& page) {
    // After Stop the status line keeps saying that the run is ending.
    if (RunActive()) statusBar()->showMessage(PageStatusText(page));
}

void TForm1::RunFinished(const TJobResult& result) {
    switch (result.Outcome) {
    case TJobOutcome::NotStarted:
        SetInputsEnabled(true); // as they were before the run was asked for
        return;
    case TJobOutcome::Failed:
        // The job's message said why; the files it could not read are listed as before.
        statusBar()->showMessage(QStringLiteral("The conversion failed; no PDF file was written"));
        if (!result.Skipped.empty() && FHooks.ShowMessage)
            FHooks.ShowMessage(this, SkippedText(result.Skipped));
        return;
    case TJobOutcome::Completed:
    case TJobOutcome::Stopped:
    case TJobOutcome::NoPages:
        break;
    }
    const TRunReport report = RunReport(result, FileExists(result.OutputPath));
    statusBar()->showMessage(report.Status);
    // A run stopped by closing the window ends with the program: no report then.
    if (!isVisible() || !FHooks.ShowRunReport) return;
    if (FHooks.ShowRunReport(this, report.Text, report.OfferOpen) && report.OfferOpen && FHooks.OpenFile)
        FHooks.OpenFile(Decoded(result.OutputPath));
}

bool TForm1::Converting() const {
    return FRun->Running();
}

void TForm1::ActConvertExecute() {
    if (!ActConvert->isEnabled() || Converting()) return;
    TConversionInputs inputs = Inputs();
    // A message about the output comes before anything is disabled, as the job would show it.
    std::string folder, output;
    if (const std::string message = TConversionJob::Validate(inputs, folder, output); !message.empty()) {
        if (FHooks.ShowMessage) FHooks.ShowMessage(this, Decoded(message));
        return;
    }
    // Locked at once, not when the job's first step arrives: nothing may start a second run or touch
    // the job's components meanwhile.
    SetInputsEnabled(false);
    // These run on this thread, in the job's order (see TRunThread).
    TConversionCallbacks cb;
    cb.ShowMessage = [this](const std::string& text) {
        if (FHooks.ShowMessage) FHooks.ShowMessage(this, Decoded(text));
    };
    cb.SetProgressMax = [this](int max) { SetProgressMax(max); };
    cb.SetProgressPosition = [this](int position) { SetProgressPosition(position); };
    cb.PageStarted = [this](const TPageProgress& page) { PageStarted(page); };
    cb.Beep = FHooks.Beep;
    cb.OpenFolder = [this](const std::string& folder) {
        if (FHooks.OpenFolder) FHooks.OpenFolder(Decoded(folder));
    };
    // The window's own events need no help now; the call remains the job's meeting point with it.
    cb.ProcessMessages = [this] {
        if (FHooks.ProcessMessages) FHooks.ProcessMessages();
    };
    cb.SetInputsEnabled = [this](bool enabled) { SetInputsEnabled(enabled); };
    // The skipped files are part of the end-of-run report (RunFinished).
    FJob->StopRequested = false;
    FRun->Start(*FJob, std::move(inputs), std::move(cb), [this](const TJobResult& result) {
        RunFinished(result);
        // Closed during the run: the program ends now that the pages are written.
        if (FClosePending) {
            FClosePending = false;
            emit Closed();
        }
    });
}
