// Reads the body of a download ahead on a worker thread: chunk after chunk into a short queue, while
// the UI thread takes the chunks one at a time to write, show and report them. Handing every chunk
// to the worker and back cost two thread switches each, which on a busy machine wait for a free core:
// reading ahead, the worker goes on while the UI thread handles what has arrived.
//
// The reader is shared between the worker and the UI thread (std::shared_ptr): a worker that the UI
// thread has given up finishes its current platform call, sees the stop, and lets go.
#pragma once

#include <windows.h>

#include <condition_variable>
#include <deque>
#include <mutex>
#include <vector>

#include "core/Handles.h"
#include "download/SharedInternetHandle.h"

namespace memoline::download {

class TBodyReadAhead {
public:
    // The engine reads and writes in pieces of this size. Each InternetReadFile costs a fixed amount
    // besides the bytes it moves: 4096-byte pieces held a loopback transfer to about a sixth of what the
    // platform delivers with 64 KiB pieces.
    static constexpr DWORD kChunkSize = 65536;

    explicit TBodyReadAhead(shared_hinternet request);

    // On the worker: reads until the body ends, a read fails, or Stop is called.
    void Run();

    struct TTaken {
        bool hasChunk = false;
        std::vector<char> chunk;  // the oldest chunk read and not yet taken
        bool ended = false;       // nothing more comes: the body ended ...
        bool failed = false;      // ... or a read failed (after the chunks before it)
    };
    // On the UI thread: the next chunk, if one is there. The end comes once every chunk is taken.
    TTaken Take();
    // Signalled whenever a chunk or the end is handed over, and while more chunks wait.
    HANDLE Ready() const { return ready_.get(); }
    void Stop();

private:
    // The chunks read and not yet taken are at most this many: a slow disk holds the reading back.
    static constexpr size_t kMaxWaiting = 16;

    void Hand(std::vector<char>& chunk, DWORD size);

    shared_hinternet request_;
    std::mutex lock_;
    std::condition_variable room_;
    std::deque<std::vector<char>> waiting_;
    bool ended_ = false;
    bool failed_ = false;
    bool stop_ = false;
    unique_handle ready_;
};

}  // namespace memoline::download
