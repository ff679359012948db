// The request object of the HTTP client: form fields in order, and from them the URL-encoded body, its
// length, its content type and the entity header lines. No platform code.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/Component.h"
#include "http/HttpHeader.h"
#include "http/Stream.h"

namespace memoline {

class TnetHttpRequest;

// One piece of the body. Its bytes are cached until anything in the request changes.
class TnetHttpRequestItem : public TObject {
public:
    explicit TnetHttpRequestItem(TnetHttpRequest* ARequest) : FRequest(ARequest) {}

    // True from construction: the item's text is percent-encoded when sent.
    bool Canonicalized() const { return FCanonicalized; }
    void SetCanonicalized(bool AValue);

    // The bytes sent for this item, and their count.
    const std::string& Data();
    std::int64_t Size() { return static_cast<std::int64_t>(Data().size()); }
    void ForgetSize() { FData.reset(); }

protected:
    virtual std::string BuildData() const = 0;
    void BeginChange();
    void EndChange();

    TnetHttpRequest* FRequest;
    bool FCanonicalized = true;

private:
    std::optional<std::string> FData;
};

// "name=value", both encoded with the request's charset and then percent-encoded.
class TnetFormFieldRequestItem : public TnetHttpRequestItem {
public:
    TnetFormFieldRequestItem(TnetHttpRequest* ARequest, std::wstring AFieldName, std::wstring AFieldValue);

    const std::wstring& FieldName() const { return FFieldName; }
    void SetFieldName(std::wstring AValue);
    const std::wstring& FieldValue() const { return FFieldValue; }
    void SetFieldValue(std::wstring AValue);

protected:
    std::string BuildData() const override;

private:
    std::wstring FFieldName;
    std::wstring FFieldValue;
};

// The ordered items of a request; owns them. Every change recomputes the request's content type.
class TnetHttpRequestItemList {
public:
    explicit TnetHttpRequestItemList(TnetHttpRequest* ARequest) : FRequest(ARequest) {}

    TnetHttpRequestItem* Add(std::unique_ptr<TnetHttpRequestItem> AItem);
    void Delete(std::size_t AIndex);
    void Clear();
    std::size_t Count() const { return FItems.size(); }
    TnetHttpRequestItem* operator[](std::size_t AIndex) const { return FItems[AIndex].get(); }

private:
    void ListChanged();

    TnetHttpRequest* FRequest;
    std::vector<std::unique_ptr<TnetHttpRequestItem>> FItems;
};

// The percent-encoding of a form field's text: each byte of the text in the charset, with the ASCII
// punctuation other than "*", "-", ".", "_", the controls and the bytes from 0x7F up written as "%XX",
// and a space as "+".
std::string EncodeFormFieldText(std::wstring_view AText, std::wstring_view ACharSet);

class TnetHttpRequest : public TComponent {
public:
    explicit TnetHttpRequest(TComponent* AOwner = nullptr);

    // Appends a form field at the end of the items; equal names are allowed and all sent.
    TnetFormFieldRequestItem* AddFormField(std::wstring AFieldName, std::wstring AFieldValue);

    // The entity header lines, cached until the next change.
    const TnetStringList& HeaderSource();
    // A new stream that reads the body from its start; the caller owns it.
    std::unique_ptr<TnetStream> RequestStream();
    // The body length in bytes.
    std::int64_t TotalSize();

    bool IsFormFieldRequest() const;
    bool IsMultiPartContent() const;

    // Brackets several changes; the outermost EndUpdate empties the caches, forgets every item's size
    // and raises OnChange.
    void BeginUpdate() { ++FUpdateCount; }
    void EndUpdate();

    TnetHttpRequestHeader& Header() { return FHeader; }
    TnetHttpRequestItemList& Items() { return FItems; }
    int BatchSize() const { return FBatchSize; }

    TNotifyEvent OnChange;

private:
    friend class TnetHttpRequestItemList;
    void UpdateContentType();
    void ClearCaches();
    const std::string& RequestSource();

    TnetHttpRequestItemList FItems{this};
    TnetHttpRequestHeader FHeader;
    std::optional<TnetStringList> FHeaderSource;
    std::optional<std::string> FRequestSource;
    int FBatchSize = 8192;
    int FUpdateCount = 0;
    bool FIsParse = false;  // the request is writing its own header: not a change
};

}  // namespace memoline
