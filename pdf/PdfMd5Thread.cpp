#include "pdf/PdfMd5Thread.h"

#include "platform/Allocator.h"

#include <algorithm>
#include <cstring>
#include <system_error>

TMd5Thread::TMd5Thread(bool onThread) {
    if (!onThread) return;
    Buffer = std::make_unique_for_overwrite<std::uint8_t[]>(kChunks * kChunkBytes);
    // Fresh memory: mapped in one call rather than a fault for each page as it is first written.
    PrepareForWriting(Buffer.get(), kChunks * kChunkBytes);
    try {
        Worker = std::thread([this] { Run(); });
    } catch (const std::system_error&) {
        Buffer.reset();
    }
}

TMd5Thread::~TMd5Thread() {
    {
        const std::lock_guard<std::mutex> hold(Lock);
        Closing = true;
    }
    Changed.notify_all();
    if (Worker.joinable()) Worker.join();
}

void TMd5Thread::Update(const void* data, std::size_t size) {
    if (!Worker.joinable()) return Digest.Update(data, size);
    const auto* p = static_cast<const std::uint8_t*>(data);
    while (size > 0) {
        const std::size_t n = std::min(size, kChunkBytes - Filled[Writing]);
        std::memcpy(Buffer.get() + Writing * kChunkBytes + Filled[Writing], p, n);
        Filled[Writing] += n;
        p += n;
        size -= n;
        if (Filled[Writing] == kChunkBytes) Publish();
    }
}

void TMd5Thread::Publish() {
    std::unique_lock<std::mutex> hold(Lock);
    ++Waiting;
    Changed.notify_all();
    // The next chunk is free once the thread is less than all of them behind.
    Changed.wait(hold, [this] { return Waiting < kChunks; });
    Writing = (Writing + 1) % kChunks;
    Filled[Writing] = 0;
}

void TMd5Thread::Run() {
    for (;;) {
        std::size_t chunk = 0;
        {
            std::unique_lock<std::mutex> hold(Lock);
            Changed.wait(hold, [this] { return Waiting > 0 || Closing; });
            if (Waiting == 0) return;
            chunk = Reading;
        }
        Digest.Update(Buffer.get() + chunk * kChunkBytes, Filled[chunk]);
        {
            const std::lock_guard<std::mutex> hold(Lock);
            Reading = (Reading + 1) % kChunks;
            --Waiting;
        }
        Changed.notify_all();
    }
}

std::array<std::uint8_t, 16> TMd5Thread::Finish() {
    if (!Worker.joinable()) return Digest.Finish();
    if (Filled[Writing] > 0) Publish();
    {
        const std::lock_guard<std::mutex> hold(Lock);
        Closing = true;
    }
    Changed.notify_all();
    Worker.join();
    return Digest.Finish();
}
