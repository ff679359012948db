// One transfer job of the download engine, and the ordered collection of them that the engine owns.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/Component.h"

namespace memoline {

// Transfer kinds; only wpHttp is carried out, the others name roads this program never takes.
enum class TWebDownloadProtocol : uint8_t {
    wpHttp,
    wpFtp,
    wpFile,
    wpFtpUpload,
    wpHttpUpload,
    wpMultiFtp,
    wpMultiFtpUpload,
    wpFtpDelete,
    wpFtpList,
    wpFtpTest,
};

// When the login dialog asks for credentials.
enum class TWebDownloadAuthentication : uint8_t {
    waNever,   // never; a 401 is an ordinary error
    waAlways,  // before the request when a credential is missing, and after every 401
    waAuto,    // after every 401
};

using TDateTime = double;

class TWebDownloader;

class TWebDownloadItem : public TObject {
public:
    TWebDownloadItem() = default;
    ~TWebDownloadItem() override = default;

    // Copies every published property from another item; any other source is ignored.
    void Assign(const TObject* source);

    std::wstring URL;
    TWebDownloadProtocol Protocol = TWebDownloadProtocol::wpHttp;
    bool Active = true;
    std::wstring TargetDir;
    std::wstring TargetFilename;  // empty: derived from the URL
    std::wstring DisplayURL;      // shown in the file line instead of the URL's last segment
    TWebDownloadAuthentication Authenticate = TWebDownloadAuthentication::waNever;
    std::wstring HTTPUserID;
    std::wstring HTTPPassword;
    bool CopyNewerOnly = false;  // newer-only mode: not carried out by this engine
    TDateTime FileDate = 0;
    uint32_t FileSize = 0;  // size to assume when the server sends no length
    TDateTime NewFileDate = 0;
    // Properties of the other protocols, kept so Assign copies a whole job.
    std::wstring FTPHost;
    std::wstring FTPUserID;
    std::wstring FTPPassword;
    int FTPPort = 21;
    std::wstring HTTPCommand;
    std::vector<std::wstring> FileList;
    std::vector<std::wstring> FileDetails;

    // Results of the last run.
    bool Success() const { return FSuccess; }
    bool Cancelled() const { return FCancelled; }
    bool NoNewVersion() const { return FNoNewVersion; }

private:
    friend class TWebDownloader;
    bool FSuccess = false;
    bool FCancelled = false;
    bool FNoNewVersion = false;
};

class TWebDownloadItems : public TObject {
public:
    TWebDownloadItem* Add();
    void Clear();
    int Count() const { return static_cast<int>(items_.size()); }
    TWebDownloadItem* operator[](int index) const { return items_.at(static_cast<size_t>(index)).get(); }
    int ActiveItems() const;
    int SuccessCount() const;

private:
    std::vector<std::unique_ptr<TWebDownloadItem>> items_;
};

}  // namespace memoline
