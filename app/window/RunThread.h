#pragma once
// A conversion run on a thread of its own, so that the window keeps answering while pages are made.
// What the job reports reaches the GUI thread as queued calls, run there one at a time in the order
// the job made them: a step that shows a box holds back the steps behind it. The job's event
// processing call becomes a meeting point: the job waits there until the window has run every step
// before it, so the window's view of the run is never more than a page behind, and a stop takes
// effect as it did when the run shared the window's thread.
#include "app/job/ConversionJob.h"

#include <QObject>

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

class TRunThread : public QObject {
public:
    explicit TRunThread(QObject* parent = nullptr);
    // Stops waiting for the window, drops the steps not yet run, and waits for the thread.
    ~TRunThread() override;
    TRunThread(const TRunThread&) = delete;
    TRunThread& operator=(const TRunThread&) = delete;

    // Runs job.Execute(inputs, ...) on the thread. Each callback set in window runs on the GUI thread;
    // done is the last step, with the result. Nothing happens while a run is going.
    void Start(TConversionJob& job, TConversionInputs inputs, TConversionCallbacks window,
               std::function<void(const TJobResult&)> done);
    // From Start until done has run.
    bool Running() const { return FRunning; }

private:
    // On the job's thread.
    void Post(std::function<void()> step);
    void PostAndWait(std::function<void()> step);
    TConversionCallbacks Relayed(const TConversionCallbacks& window);
    // On the GUI thread.
    void RunSteps();

    std::mutex FLock;
    std::condition_variable FStepDone;
    std::deque<std::function<void()>> FSteps;
    std::uint64_t FPosted = 0, FDone = 0; // steps posted and run, for the meeting point
    bool FDetached = false;
    bool FRunningSteps = false;
    bool FRunning = false;
    std::thread FThread;
};
