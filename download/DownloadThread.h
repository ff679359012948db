// The short-lived worker of one download run. It hands the whole copy back to the UI thread and waits
// for it, so the transfer, the dialog and every event run where the windows live.
#pragma once

#include <atomic>
#include <thread>

namespace memoline {

class TWebDownloader;

// Owned by the downloader it serves, which joins it once it has ended.
class TDownloadThread {
public:
    // Starts at once. Before the thread ends it calls the downloader's ThreadDone on the UI thread.
    explicit TDownloadThread(TWebDownloader& downloader);
    // Joins the thread; call only once it has ended (Ended) or from the UI thread (see WaitForEnd).
    ~TDownloadThread();
    TDownloadThread(const TDownloadThread&) = delete;
    TDownloadThread& operator=(const TDownloadThread&) = delete;

    // The thread body has returned: joining costs nothing.
    bool Ended() const { return ended_; }
    // On the UI thread: lets the worker's last calls to it run until the worker has ended. Must not be
    // called from inside the run itself (its DoCopy).
    void WaitForEnd();

    TWebDownloader& downloader;

private:
    void Run();  // the thread body
    void Execute();

    std::atomic<bool> ended_{false};
    std::thread thread_;  // last: starts once the fields above are set
};

}  // namespace memoline
