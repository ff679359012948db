// The short-lived worker of one download run. It hands the whole copy back to the UI thread and waits
// for it, so the transfer, the dialog and every event run where the windows live.
#pragma once

namespace memoline {

class TWebDownloader;

class TDownloadThread {
public:
    // Starts at once; the object deletes itself when the thread ends. Before it ends it calls the
    // downloader's ThreadDone on the UI thread.
    explicit TDownloadThread(TWebDownloader* downloader);

    TWebDownloader* downloader;

private:
    ~TDownloadThread() = default;
    void Execute();
};

}  // namespace memoline
