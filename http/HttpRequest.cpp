#include "http/HttpRequest.h"

#include "core/TextUtil.h"
#include "http/Charset.h"

namespace memoline {
namespace {

constexpr wchar_t kFormContentType[] = L"application/x-www-form-urlencoded";

// The bytes that a form field writes as "%XX": the ASCII punctuation except "*", "-", ".", "_"
// (0x21-0x29, 0x2B, 0x2C, 0x2F, 0x3A-0x40, 0x5B-0x5E, 0x60, 0x7B-0x7E), the controls below 0x20, and
// everything from 0x7F up. The space is handled apart.
bool NeedsPercent(unsigned char byte) {
    if (byte < 0x20 || byte >= 0x7F)
        return true;
    if ((byte >= 0x21 && byte <= 0x29) || byte == 0x2B || byte == 0x2C || byte == 0x2F)
        return true;
    return (byte >= 0x3A && byte <= 0x40) || (byte >= 0x5B && byte <= 0x5E) || byte == 0x60 || byte >= 0x7B;
}

}  // namespace

std::string EncodeFormFieldText(std::wstring_view AText, std::wstring_view ACharSet) {
    static const char kHex[] = "0123456789ABCDEF";
    const std::string bytes = CharsetEncode(AText, ACharSet);
    std::string out;
    out.reserve(bytes.size() * 3);
    for (const char c : bytes) {
        const unsigned char byte = static_cast<unsigned char>(c);
        if (byte == 0x20) {
            out += '+';
        } else if (NeedsPercent(byte)) {
            out += '%';
            out += kHex[byte >> 4];
            out += kHex[byte & 0x0F];
        } else {
            out += c;
        }
    }
    return out;
}

void TnetHttpRequestItem::SetCanonicalized(bool AValue) {
    BeginChange();
    FCanonicalized = AValue;
    EndChange();
}

const std::string& TnetHttpRequestItem::Data() {
    if (!FData)
        FData = BuildData();
    return *FData;
}

void TnetHttpRequestItem::BeginChange() {
    FRequest->BeginUpdate();
}

void TnetHttpRequestItem::EndChange() {
    FData.reset();
    FRequest->EndUpdate();
}

TnetFormFieldRequestItem::TnetFormFieldRequestItem(TnetHttpRequest* ARequest,
                                                   std::wstring AFieldName,
                                                   std::wstring AFieldValue)
    : TnetHttpRequestItem(ARequest), FFieldName(std::move(AFieldName)), FFieldValue(std::move(AFieldValue)) {}

void TnetFormFieldRequestItem::SetFieldName(std::wstring AValue) {
    BeginChange();
    FFieldName = std::move(AValue);
    EndChange();
}

void TnetFormFieldRequestItem::SetFieldValue(std::wstring AValue) {
    BeginChange();
    FFieldValue = std::move(AValue);
    EndChange();
}

std::string TnetFormFieldRequestItem::BuildData() const {
    const std::wstring& charSet = FRequest->Header().CharSet();
    if (!FCanonicalized)
        return CharsetEncode(FFieldName + L"=" + FFieldValue, charSet);
    // The encoded text is ASCII, so its bytes are the same in every charset a form may use.
    return EncodeFormFieldText(FFieldName, charSet) + "=" + EncodeFormFieldText(FFieldValue, charSet);
}

TnetHttpRequestItem* TnetHttpRequestItemList::Add(std::unique_ptr<TnetHttpRequestItem> AItem) {
    FRequest->BeginUpdate();
    FItems.push_back(std::move(AItem));
    ListChanged();
    FRequest->EndUpdate();
    return FItems.back().get();
}

void TnetHttpRequestItemList::Delete(std::size_t AIndex) {
    if (AIndex >= FItems.size())
        return;
    FRequest->BeginUpdate();
    FItems.erase(FItems.begin() + static_cast<std::ptrdiff_t>(AIndex));
    ListChanged();
    FRequest->EndUpdate();
}

void TnetHttpRequestItemList::Clear() {
    FRequest->BeginUpdate();
    FItems.clear();
    ListChanged();
    FRequest->EndUpdate();
}

void TnetHttpRequestItemList::ListChanged() {
    FRequest->UpdateContentType();
}

TnetHttpRequest::TnetHttpRequest(TComponent* AOwner) : TComponent(AOwner) {
    // Any change of the header (other than the request writing its own length) is a change of the
    // request: the items' bytes depend on the header's charset, so their cached sizes go too.
    FHeader.OnChange = [this](TObject*) {
        if (FIsParse)
            return;
        BeginUpdate();
        EndUpdate();
    };
}

TnetFormFieldRequestItem* TnetHttpRequest::AddFormField(std::wstring AFieldName, std::wstring AFieldValue) {
    auto item = std::make_unique<TnetFormFieldRequestItem>(this, std::move(AFieldName), std::move(AFieldValue));
    return static_cast<TnetFormFieldRequestItem*>(FItems.Add(std::move(item)));
}

void TnetHttpRequest::UpdateContentType() {
    // Only form fields exist as items here, so a non-empty list is a form; multipart bodies need file
    // items, which this request does not build.
    bool allFormFields = FItems.Count() > 0;
    for (std::size_t i = 0; i < FItems.Count(); ++i) {
        if (!dynamic_cast<TnetFormFieldRequestItem*>(FItems[i]))
            allFormFields = false;
    }
    FHeader.SetContentType(allFormFields ? kFormContentType : L"");
}

void TnetHttpRequest::ClearCaches() {
    FHeaderSource.reset();
    FRequestSource.reset();
}

void TnetHttpRequest::EndUpdate() {
    if (FUpdateCount > 0)
        --FUpdateCount;
    if (FUpdateCount > 0)
        return;
    ClearCaches();
    for (std::size_t i = 0; i < FItems.Count(); ++i)
        FItems[i]->ForgetSize();
    if (OnChange)
        OnChange(this);
}

std::int64_t TnetHttpRequest::TotalSize() {
    const std::size_t count = FItems.Count();
    if (count == 0)
        return 0;
    std::int64_t size = static_cast<std::int64_t>(count) - 1;  // the "&" separators
    for (std::size_t i = 0; i < count; ++i)
        size += FItems[i]->Size();
    return size;
}

const TnetStringList& TnetHttpRequest::HeaderSource() {
    if (!FHeaderSource) {
        const std::int64_t size = TotalSize();
        FIsParse = true;
        FHeader.SetContentLength(size > 0 ? std::to_wstring(size) : std::wstring());
        FIsParse = false;
        TnetStringList lines;
        FHeader.AssignHeader(lines);
        FHeaderSource = std::move(lines);
    }
    return *FHeaderSource;
}

const std::string& TnetHttpRequest::RequestSource() {
    if (!FRequestSource) {
        std::string body;
        for (std::size_t i = 0; i < FItems.Count(); ++i) {
            if (i > 0)
                body += '&';
            body += FItems[i]->Data();
        }
        FRequestSource = std::move(body);
    }
    return *FRequestSource;
}

std::unique_ptr<TnetStream> TnetHttpRequest::RequestStream() {
    return std::make_unique<TnetStringStream>(RequestSource());
}

bool TnetHttpRequest::IsFormFieldRequest() const {
    return SameTextAscii(FHeader.ContentType(), kFormContentType);
}

bool TnetHttpRequest::IsMultiPartContent() const {
    return LowerAscii(FHeader.ContentType()).find(L"multipart/") != std::wstring::npos;
}

}  // namespace memoline
