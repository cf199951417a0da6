#pragma once
// MD5 of a long run of bytes, computed on a thread of its own while the caller goes on producing them:
// the digest of a whole document then costs the writing little more than a copy.
#include "pdf/PdfMd5.h"

#include <array>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>

class TMd5Thread {
public:
    // onThread false, or a system that cannot start one more thread: the bytes are digested as they
    // come, on the caller's thread.
    explicit TMd5Thread(bool onThread = true);
    // Stops the thread; a digest not finished is dropped.
    ~TMd5Thread();
    TMd5Thread(const TMd5Thread&) = delete;
    TMd5Thread& operator=(const TMd5Thread&) = delete;

    // Adds bytes, in order. They are copied: the caller may reuse its buffer at once. Waits while the
    // thread is a few chunks behind, so memory stays bounded however many bytes come.
    void Update(const void* data, std::size_t size);
    // The digest of everything added; the object is spent afterwards.
    std::array<std::uint8_t, 16> Finish();

private:
    static constexpr std::size_t kChunkBytes = std::size_t(128) << 10;
    static constexpr std::size_t kChunks = 4;

    void Run();
    // Hands the chunk being filled to the thread and moves on to the next free one.
    void Publish();

    std::unique_ptr<std::uint8_t[]> Buffer; // kChunks chunks of kChunkBytes
    std::array<std::size_t, kChunks> Filled{};
    std::size_t Writing = 0; // the chunk being filled, which the thread never reads
    std::size_t Reading = 0; // the oldest chunk handed over
    std::size_t Waiting = 0; // chunks handed over and not yet digested (guarded by Lock)
    bool Closing = false;    // no more chunks come (guarded by Lock)
    std::mutex Lock;
    std::condition_variable Changed;
    TMd5 Digest; // the thread's until it is joined
    std::thread Worker;
};
