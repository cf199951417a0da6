#include "app/cli/Interrupt.h"

#include "app/job/ConversionJob.h"

#include <csignal>
#include <cstring>
#include <unistd.h>

namespace {
constexpr int kInterruptedStatus = 130; // 128 + SIGINT, as shells report it

TConversionJob* gJob = nullptr;
volatile std::sig_atomic_t gInterrupts = 0;
// Fixed buffers: the handler may only make async-signal-safe calls.
char gWorkFile[4096] = {};
char gFolder[4096] = {};

void OnInterrupt(int) {
    gInterrupts = gInterrupts + 1;
    if (gInterrupts >= 2) {
        if (gWorkFile[0]) ::unlink(gWorkFile);
        if (gFolder[0]) ::rmdir(gFolder);
        ::_exit(kInterruptedStatus);
    }
    if (gJob) gJob->RequestStop(); // lock-free atomic stores
}

void Keep(char (&buffer)[4096], const std::string& text) {
    std::strncpy(buffer, text.c_str(), sizeof buffer - 1);
    buffer[sizeof buffer - 1] = '\0';
}
} // namespace

void CatchInterrupts(TConversionJob& job, const std::string& workFile, const std::string& folder) {
    Keep(gWorkFile, workFile);
    Keep(gFolder, folder);
    gJob = &job;
    std::signal(SIGINT, OnInterrupt);
}

void ReleaseInterrupts() {
    std::signal(SIGINT, SIG_DFL);
    gJob = nullptr;
    gWorkFile[0] = '\0';
    gFolder[0] = '\0';
}
