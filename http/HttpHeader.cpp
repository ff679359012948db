#include "http/HttpHeader.h"

#include <algorithm>

#include "core/TextUtil.h"

namespace memoline {
namespace {

// A header object's fields are written through pointers it hands out; the const member functions
// that list them only read through those pointers.
template <typename T>
std::wstring* Mutable(const T& field) {
    return const_cast<std::wstring*>(&field);
}

void AddLineField(TnetHeaderFieldList& list, const std::wstring& line) {
    const std::size_t colon = line.find(L':');
    if (colon == std::wstring::npos)
        return;
    list.AddField(TrimView(std::wstring_view(line).substr(0, colon)),
                  TrimView(std::wstring_view(line).substr(colon + 1)));
}

}  // namespace

TnetHttpEntityHeader::TnetHttpEntityHeader() = default;

std::vector<TnetHttpEntityHeader::FieldRef> TnetHttpEntityHeader::EntityFields() const {
    // The order in which the fields are written; Content-Type is written with its items.
    return {
        {L"Content-Encoding", Mutable(FContentEncoding)},
        {L"Content-Language", Mutable(FContentLanguage)},
        {L"Content-Length", Mutable(FContentLength)},
        {L"Content-Version", Mutable(FContentVersion)},
        {L"Content-Type", Mutable(FContentType)},
        {L"Date", Mutable(FDate)},
        {L"Expires", Mutable(FExpires)},
        {L"Last-Modified", Mutable(FLastModified)},
        {L"Transfer-Encoding", Mutable(FTransferEncoding)},
        {L"Cache-Control", Mutable(FCacheControl)},
        {L"Connection", Mutable(FConnection)},
        {L"Proxy-Connection", Mutable(FProxyConnection)},
    };
}

const std::vector<std::wstring>& TnetHttpEntityHeader::KnownFields() const {
    if (!FKnownFields.empty())
        return FKnownFields;
    for (const FieldRef& field : EntityFields())
        FKnownFields.push_back(LowerAscii(field.name));
    for (const FieldRef& field : OwnFields())
        FKnownFields.push_back(LowerAscii(field.name));
    for (const wchar_t* name : SpecialFieldNames())
        FKnownFields.push_back(LowerAscii(name));
    return FKnownFields;
}

void TnetHttpEntityHeader::SetField(std::wstring& AField, std::wstring AValue) {
    if (AField == AValue)
        return;
    AField = std::move(AValue);
    Changed();
}

void TnetHttpEntityHeader::SetExtraFields(TnetStringList AFields) {
    FExtraFields = std::move(AFields);
    Changed();
}

void TnetHttpEntityHeader::Changed() {
    if (FUpdateCount == 0 && OnChange)
        OnChange(this);
}

void TnetHttpEntityHeader::EndUpdate() {
    if (FUpdateCount > 0)
        --FUpdateCount;
    Changed();
}

void TnetHttpEntityHeader::ClearEntityFields() {
    for (const FieldRef& field : EntityFields())
        field.value->clear();
    FBoundary.clear();
    FCharSet.clear();
    FExtraFields.clear();
}

void TnetHttpEntityHeader::Clear() {
    BeginUpdate();
    ClearEntityFields();
    for (const FieldRef& field : OwnFields())
        field.value->clear();
    EndUpdate();
}

void TnetHttpEntityHeader::ParseHeader(const TnetStringList& AHeader) {
    BeginUpdate();
    Clear();
    TnetStringList lines = AHeader;
    TnetHeaderFieldList list;
    list.Parse(0, &lines);

    std::vector<FieldRef> fields = EntityFields();
    const std::vector<FieldRef> own = OwnFields();
    fields.insert(fields.end(), own.begin(), own.end());
    std::vector<std::wstring> seen;
    for (std::size_t i = 0; i < list.FieldCount(); ++i) {
        const std::wstring& name = list.FieldName(i);
        // A status or request line with a colon in it is no field: names never hold blanks.
        if (name.find_first_of(L" \t") != std::wstring::npos)
            continue;
        const std::wstring value = list.FieldValueAt(i);
        if (ParseSpecialField(name, value))
            continue;
        const auto known = std::find_if(fields.begin(), fields.end(),
                                        [&](const FieldRef& field) { return SameTextAscii(field.name, name); });
        if (known == fields.end()) {
            FExtraFields.push_back(list.FieldNameAsWritten(i) + L": " + value);
            continue;
        }
        if (std::find(seen.begin(), seen.end(), name) != seen.end())
            continue;  // the first occurrence wins
        seen.push_back(name);
        if (known->value == &FContentType) {
            FContentType = HeaderMainValue(value);
            FBoundary = HeaderValueItem(value, L"boundary");
            FCharSet = HeaderValueItem(value, L"charset");
        } else {
            *known->value = value;
        }
    }
    EndUpdate();
}

void TnetHttpEntityHeader::AssignHeader(TnetStringList& AHeader) const {
    TnetHeaderFieldList list;
    list.Parse(0, &AHeader);
    for (const FieldRef& field : OwnFields())
        list.AddField(field.name, *field.value);
    AssignSpecialFields(list);
    for (const FieldRef& field : EntityFields()) {
        list.AddField(field.name, *field.value);
        if (field.value == &FContentType && !FContentType.empty()) {
            list.AddFieldValueItem(field.name, L"boundary", FBoundary);
            list.AddFieldValueItem(field.name, L"charset", FCharSet);
        }
    }
    for (const std::wstring& line : FExtraFields)
        AddLineField(list, line);
}

TnetHttpRequestHeader::TnetHttpRequestHeader() {
    FAccept = L"*/*";
}

std::vector<TnetHttpEntityHeader::FieldRef> TnetHttpRequestHeader::OwnFields() const {
    // The order in which the fields are written, ahead of the entity fields.
    return {
        {L"Accept", Mutable(FAccept)},
        {L"Accept-Charset", Mutable(FAcceptCharSet)},
        {L"Accept-Encoding", Mutable(FAcceptEncoding)},
        {L"Accept-Language", Mutable(FAcceptLanguage)},
        {L"Range", Mutable(FRange)},
        {L"Referer", Mutable(FReferer)},
        {L"Host", Mutable(FHost)},
        {L"User-Agent", Mutable(FUserAgent)},
        {L"Authorization", Mutable(FAuthorization)},
        {L"Proxy-Authorization", Mutable(FProxyAuthorization)},
    };
}

void TnetHttpRequestHeader::Clear() {
    BeginUpdate();
    TnetHttpEntityHeader::Clear();
    FAccept = L"*/*";
    EndUpdate();
}

TnetHttpResponseHeader::TnetHttpResponseHeader() {}

std::vector<TnetHttpEntityHeader::FieldRef> TnetHttpResponseHeader::OwnFields() const {
    return {
        {L"Accept-Ranges", Mutable(FAcceptRanges)},
        {L"Age", Mutable(FAge)},
        {L"Allow", Mutable(FAllow)},
        {L"Content-Range", Mutable(FContentRange)},
        {L"Content-Disposition", Mutable(FContentDisposition)},
        {L"ETag", Mutable(FETag)},
        {L"Location", Mutable(FLocation)},
        {L"Retry-After", Mutable(FRetryAfter)},
        {L"Server", Mutable(FServer)},
    };
}

std::vector<const wchar_t*> TnetHttpResponseHeader::SpecialFieldNames() const {
    return {L"WWW-Authenticate", L"Proxy-Authenticate"};
}

bool TnetHttpResponseHeader::ParseSpecialField(const std::wstring& lowerName, const std::wstring& value) {
    if (lowerName == L"www-authenticate") {
        FAuthenticate.push_back(value);
        return true;
    }
    if (lowerName == L"proxy-authenticate") {
        FProxyAuthenticate.push_back(value);
        return true;
    }
    return false;
}

void TnetHttpResponseHeader::AssignSpecialFields(TnetHeaderFieldList& list) const {
    // Each challenge is its own line; AddField appends, so repeated names are kept.
    for (const std::wstring& value : FAuthenticate)
        list.AddField(L"WWW-Authenticate", value);
    for (const std::wstring& value : FProxyAuthenticate)
        list.AddField(L"Proxy-Authenticate", value);
}

void TnetHttpResponseHeader::Clear() {
    BeginUpdate();
    TnetHttpEntityHeader::Clear();
    FAuthenticate.clear();
    FProxyAuthenticate.clear();
    EndUpdate();
}

}  // namespace memoline
