#include "app/window/RunThread.h"

#include <QMetaObject>

TRunThread::TRunThread(QObject* parent) : QObject(parent) {}

TRunThread::~TRunThread() {
    {
        const std::lock_guard lock(FLock);
        FDetached = true;
        FSteps.clear();
    }
    FStepDone.notify_all();
    if (FThread.joinable()) FThread.join();
}

void TRunThread::Post(std::function<void()> step) {
    {
        const std::lock_guard lock(FLock);
        if (FDetached) return;
        FSteps.push_back(std::move(step));
        ++FPosted;
    }
    // Queued to this object: if it goes first, Qt drops the call with it.
    QMetaObject::invokeMethod(
        this, [this] { RunSteps(); }, Qt::QueuedConnection);
}

void TRunThread::PostAndWait(std::function<void()> step) {
    std::uint64_t ticket = 0;
    {
        const std::lock_guard lock(FLock);
        ticket = FPosted + 1;
    }
    Post(std::move(step));
    std::unique_lock lock(FLock);
    FStepDone.wait(lock, [&] { return FDetached || FDone >= ticket; });
}

void TRunThread::RunSteps() {
    // A step may open a box whose event loop delivers the next calls: they wait for this loop.
    if (FRunningSteps) return;
    FRunningSteps = true;
    for (;;) {
        std::function<void()> step;
        {
            const std::lock_guard lock(FLock);
            if (FSteps.empty()) break;
            step = std::move(FSteps.front());
            FSteps.pop_front();
        }
        step();
        {
            const std::lock_guard lock(FLock);
            ++FDone;
        }
        FStepDone.notify_all();
    }
    FRunningSteps = false;
}

TConversionCallbacks TRunThread::Relayed(const TConversionCallbacks& w) {
    TConversionCallbacks r;
    // Each callback the window set is posted with copies of its arguments.
    if (w.ShowMessage)
        r.ShowMessage = [this, f = w.ShowMessage](const std::string& t) { Post([f, t] { f(t); }); };
    if (w.SetProgressMax) r.SetProgressMax = [this, f = w.SetProgressMax](int m) { Post([f, m] { f(m); }); };
    if (w.SetProgressPosition)
        r.SetProgressPosition = [this, f = w.SetProgressPosition](int p) { Post([f, p] { f(p); }); };
    if (w.Beep) r.Beep = [this, f = w.Beep] { Post(f); };
    if (w.OpenFolder)
        r.OpenFolder = [this, f = w.OpenFolder](const std::string& d) { Post([f, d] { f(d); }); };
    if (w.ProcessMessages) r.ProcessMessages = [this, f = w.ProcessMessages] { PostAndWait(f); };
    if (w.SetInputsEnabled)
        r.SetInputsEnabled = [this, f = w.SetInputsEnabled](bool e) { Post([f, e] { f(e); }); };
    if (w.EntryStarted)
        r.EntryStarted = [this, f = w.EntryStarted](const std::string& p) { Post([f, p] { f(p); }); };
    if (w.PageStarted)
        r.PageStarted = [this, f = w.PageStarted](const TPageProgress& p) { Post([f, p] { f(p); }); };
    if (w.PageAdded) r.PageAdded = [this, f = w.PageAdded](int n) { Post([f, n] { f(n); }); };
    if (w.FramesCounted)
        r.FramesCounted = [this, f = w.FramesCounted](const std::string& p, int n) {
            Post([f, p, n] { f(p, n); });
        };
    if (w.ReportSkipped)
        r.ReportSkipped = [this, f = w.ReportSkipped](const std::vector<TSkippedInput>& s,
                                                      const std::vector<TPageNote>& n) {
            Post([f, s, n] { f(s, n); });
        };
    return r;
}

void TRunThread::Start(TConversionJob& job, TConversionInputs inputs, TConversionCallbacks window,
                       std::function<void(const TJobResult&)> done) {
    if (FRunning) return;
    if (FThread.joinable()) FThread.join(); // the last run's thread has ended with its last step
    FRunning = true;
    FThread = std::thread(
        [this, &job, inputs = std::move(inputs), relayed = Relayed(window), done = std::move(done)] {
            TJobResult result;
            try {
                result = job.Execute(inputs, relayed);
            } catch (const std::exception& e) {
                result.Outcome = TJobOutcome::Failed; // a callback failed; the job has cleaned up
                result.Message = e.what();
            }
            Post([this, done, result] {
                FRunning = false;
                if (done) done(result);
            });
        });
}
