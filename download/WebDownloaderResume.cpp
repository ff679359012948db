// The download engine's answer to a connection that drops during the body: a short pause (Cancel
// still works), then a request for the rest of the same version of the file, or for all of it again.
#include "download/WebDownloader.h"

#include <wininet.h>

#include "core/WinInet.h"

#include "download/ResumeText.h"

namespace memoline {
namespace {

using download::ParseContentRange;
using download::ResumeRequestLines;
using download::ResumeValidator;

// A header's text, empty when the answer has none.
std::wstring QueryHeaderText(HINTERNET request, DWORD query) {
    wchar_t buffer[512] = {};
    DWORD size = sizeof buffer - sizeof(wchar_t);
    DWORD index = 0;
    if (!core::wininet::HttpQueryInfoW(request, query, buffer, &size, &index))
        return {};
    return std::wstring(buffer, size / sizeof(wchar_t));
}

DWORD QueryHeaderNumber(HINTERNET request, DWORD query) {
    DWORD value = 0;
    DWORD size = sizeof value;
    DWORD index = 0;
    core::wininet::HttpQueryInfoW(request, query | HTTP_QUERY_FLAG_NUMBER, &value, &size, &index);
    return value;
}

bool TruncateFile(HANDLE file) {
    LARGE_INTEGER zero{};
    return SetFilePointerEx(file, zero, nullptr, FILE_BEGIN) && SetEndOfFile(file);
}

}  // namespace

std::wstring TWebDownloader::ValidatorOf(HINTERNET request) {
    return ResumeValidator(QueryHeaderText(request, HTTP_QUERY_ETAG),
                           QueryHeaderText(request, HTTP_QUERY_LAST_MODIFIED));
}

bool TWebDownloader::PauseBeforeRetry(DWORD ms) {
    const DWORD begin = GetTickCount();
    while (!FCancelled) {
        const DWORD elapsed = GetTickCount() - begin;
        if (elapsed >= ms)
            return true;
        // Wakes for any input, so a Cancel click is handled at once rather than after the pause.
        MsgWaitForMultipleObjects(0, nullptr, FALSE, ms - elapsed, QS_ALLINPUT);
        ProcessMessages();
    }
    return false;
}

bool TWebDownloader::ResumeAfterDrop(shared_hinternet& request,
                                     HANDLE file,
                                     const std::wstring& url,
                                     const std::wstring& userID,
                                     const std::wstring& password,
                                     TTransferState& transfer,
                                     size_t& retriesUsed) {
    request.reset();  // the dropped connection is of no further use
    while (retriesUsed < ResumePauses.size()) {
        if (!PauseBeforeRetry(ResumePauses[retriesUsed++]))
            return false;
        request = OpenURL(url, userID, password, ResumeRequestLines(transfer.received, transfer.validator));
        if (FCancelled)
            return false;
        if (request && ContinueWithAnswer(request, file, transfer))
            return true;
        request.reset();
    }
    return false;
}

bool TWebDownloader::ContinueWithAnswer(const shared_hinternet& request, HANDLE file, TTransferState& transfer) {
    DWORD status = QueryHeaderNumber(request.get(), HTTP_QUERY_STATUS_CODE);
    if (status == 407)
        AnswerProxySignIn(request, status);  // with the credentials kept for this run: nobody is asked again
    if (status == 206) {
        // Only the rest that was asked for continues the file; any other part would corrupt it.
        uint64_t first = 0;
        uint64_t last = 0;
        if (!ParseContentRange(QueryHeaderText(request.get(), HTTP_QUERY_CONTENT_RANGE), first, last) ||
            first != transfer.received)
            return false;
        transfer.expectedEnd = last + 1;
        return true;
    }
    if (status == 200) {
        // The whole file: the server ignores ranges, or the file changed since the first answer.
        if (!TruncateFile(file))
            return false;
        transfer.received = 0;
        transfer.expectedEnd = QueryHeaderNumber(request.get(), HTTP_QUERY_CONTENT_LENGTH);
        if (transfer.expectedEnd > 0)
            transfer.total = static_cast<uint32_t>(transfer.expectedEnd);
        transfer.validator = ValidatorOf(request.get());
        return true;
    }
    return false;
}

}  // namespace memoline
