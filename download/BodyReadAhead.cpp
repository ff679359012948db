#include "download/BodyReadAhead.h"

#include <algorithm>
#include <stdexcept>
#include <utility>

#include "core/WinInet.h"

namespace memoline::download {

namespace {

// A chunk that is not full is handed over once this much time has passed with something in it, so a
// slow link moves the dialog several times a second instead of once per 64 KiB.
constexpr ULONGLONG kGatherMs = 200;
// The platform reports what its own buffer holds, under Wine 8 KiB at most however much the connection
// has, and each call there is a round trip to Wine's server: asking first and reading that much held a
// loopback download to a fifth of the platform's speed. A full buffer, or a read that got all it asked
// for, means the link keeps up: then the rest of the chunk is read at once, which waits at most for
// what one chunk takes on such a link.
constexpr DWORD kFullPlatformBuffer = 8192;
constexpr DWORD kReadFailed = ~DWORD{0};

}  // namespace

TBodyReadAhead::TBodyReadAhead(shared_hinternet request)
    : request_(std::move(request)), ready_(CreateEventW(nullptr, FALSE, FALSE, nullptr)) {
    if (!ready_)
        throw std::runtime_error("The download's event cannot be made");
}

void TBodyReadAhead::Run() {
    std::vector<char> chunk(kChunkSize);
    DWORD size = 0;
    bool keepsUp = false;
    ULONGLONG start = GetTickCount64();
    for (;;) {
        {
            std::unique_lock<std::mutex> guard(lock_);
            room_.wait(guard, [&] { return stop_ || waiting_.size() < kMaxWaiting; });
            if (stop_)
                return;
        }
        // While the link keeps up, the rest of the chunk is read at once; else the platform is asked
        // first what has arrived (waiting until something has; 0 at the end of the body, which a
        // plain read confirms at once), so that a slow link's bytes come in steps that never wait long.
        const DWORD room = kChunkSize - size;
        DWORD want = room;
        DWORD got = 0;
        DWORD available = 0;
        if (!keepsUp && !core::wininet::InternetQueryDataAvailable(request_.get(), &available, 0, 0))
            got = kReadFailed;
        else if (available > 0 && available < kFullPlatformBuffer)
            want = std::min(available, room);
        if (got != kReadFailed && !core::wininet::InternetReadFile(request_.get(), chunk.data() + size, want, &got))
            got = kReadFailed;
        keepsUp = got == room && got >= kFullPlatformBuffer;
        if (got == kReadFailed || got == 0) {
            std::lock_guard<std::mutex> guard(lock_);
            if (size > 0) {
                chunk.resize(size);
                waiting_.push_back(std::move(chunk));
            }
            ended_ = true;
            failed_ = got == kReadFailed;
            SetEvent(ready_.get());
            return;
        }
        size += got;
        if (size == kChunkSize || GetTickCount64() - start >= kGatherMs) {
            Hand(chunk, size);
            size = 0;
            start = GetTickCount64();
        }
    }
}

void TBodyReadAhead::Hand(std::vector<char>& chunk, DWORD size) {
    std::vector<char> next(kChunkSize);
    chunk.resize(size);
    std::lock_guard<std::mutex> guard(lock_);
    waiting_.push_back(std::exchange(chunk, std::move(next)));
    SetEvent(ready_.get());
}

TBodyReadAhead::TTaken TBodyReadAhead::Take() {
    TTaken taken;
    std::lock_guard<std::mutex> guard(lock_);
    if (!waiting_.empty()) {
        taken.hasChunk = true;
        taken.chunk = std::move(waiting_.front());
        waiting_.pop_front();
        room_.notify_one();
        // More to take: the next wake comes at once.
        if (!waiting_.empty() || ended_)
            SetEvent(ready_.get());
        return taken;
    }
    taken.ended = ended_;
    taken.failed = failed_;
    return taken;
}

void TBodyReadAhead::Stop() {
    std::lock_guard<std::mutex> guard(lock_);
    stop_ = true;
    room_.notify_one();
}

}  // namespace memoline::download
