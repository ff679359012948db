#include "download/DownloadThread.h"

#include <windows.h>

#include <exception>

#include "core/Synchronize.h"
#include "download/WebDownloader.h"
#include "ui/ExceptionReport.h"

namespace memoline {

TDownloadThread::TDownloadThread(TWebDownloader& d) : downloader(d), thread_([this] { Run(); }) {}

void TDownloadThread::Run() {
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
            downloader.ThreadDone();
            ui::ShowException(failure);
        });
    } catch (...) {
        // Nothing is left to tell.
    }
    ended_ = true;
}

TDownloadThread::~TDownloadThread() {
    WaitForEnd();
    if (thread_.joinable())
        thread_.join();
}

void TDownloadThread::WaitForEnd() {
    // The worker's calls arrive as sent messages, which PeekMessage delivers; nothing else is taken
    // from the queue.
    while (!ended_) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_SENDMESSAGE);
        MSG msg;
        PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
}

void TDownloadThread::Execute() {
    core::Synchronize([this] { downloader.DoCopy(); });
}

}  // namespace memoline
