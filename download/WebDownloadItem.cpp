#include "download/WebDownloadItem.h"

namespace memoline {

void TWebDownloadItem::Assign(const TObject* source) {
    auto* other = dynamic_cast<const TWebDownloadItem*>(source);
    if (!other || other == this)
        return;
    URL = other->URL;
    Protocol = other->Protocol;
    Active = other->Active;
    TargetDir = other->TargetDir;
    TargetFilename = other->TargetFilename;
    DisplayURL = other->DisplayURL;
    Authenticate = other->Authenticate;
    HTTPUserID = other->HTTPUserID;
    HTTPPassword = other->HTTPPassword;
    CopyNewerOnly = other->CopyNewerOnly;
    FileDate = other->FileDate;
    FileSize = other->FileSize;
    NewFileDate = other->NewFileDate;
    FTPHost = other->FTPHost;
    FTPUserID = other->FTPUserID;
    FTPPassword = other->FTPPassword;
    FTPPort = other->FTPPort;
    HTTPCommand = other->HTTPCommand;
    FileList = other->FileList;
    FileDetails = other->FileDetails;
}

TWebDownloadItem* TWebDownloadItems::Add() {
    items_.push_back(std::make_unique<TWebDownloadItem>());
    return items_.back().get();
}

void TWebDownloadItems::Clear() {
    items_.clear();
}

int TWebDownloadItems::ActiveItems() const {
    int n = 0;
    for (const auto& item : items_)
        n += item->Active ? 1 : 0;
    return n;
}

int TWebDownloadItems::SuccessCount() const {
    int n = 0;
    for (const auto& item : items_)
        n += item->Success() ? 1 : 0;
    return n;
}

}  // namespace memoline
