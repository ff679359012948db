#include "download/DownloadThread.h"

#include <exception>
#include <thread>

#include "download/WebDownloader.h"
#include "ui/ExceptionReport.h"
#include "core/Synchronize.h"

namespace memoline {

TDownloadThread::TDownloadThread(TWebDownloader* d) : downloader(d) {
    std::thread([this] {
        // Nothing may leave a thread body: an event handler's exception, carried back from the UI
        // thread, is taken here and handed to the UI thread again to be reported there.
        std::exception_ptr failure;
        try {
            Execute();
        } catch (...) {
            failure = std::current_exception();
        }
        try {
            // The termination notification, delivered on the UI thread like everything else of the run.
            core::Synchronize([this, failure] {
                downloader->ThreadDone();
                ui::ShowException(failure);
            });
        } catch (...) {
            // Nothing is left to tell.
        }
        delete this;
    }).detach();
}

void TDownloadThread::Execute() {
    core::Synchronize([this] { downloader->DoCopy(); });
}

}  // namespace memoline
