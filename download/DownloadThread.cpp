#include "download/DownloadThread.h"

#include <thread>

#include "download/WebDownloader.h"
#include "ui/Synchronize.h"

namespace memoline {

TDownloadThread::TDownloadThread(TWebDownloader* d) : downloader(d) {
    std::thread([this] {
        Execute();
        // The termination notification, delivered on the UI thread like everything else of the run.
        ui::Synchronize([this] { downloader->ThreadDone(); });
        delete this;
    }).detach();
}

void TDownloadThread::Execute() {
    ui::Synchronize([this] { downloader->DoCopy(); });
}

}  // namespace memoline
