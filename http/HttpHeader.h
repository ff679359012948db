// The header objects of the HTTP client: named fields read from header lines (ParseHeader) and written
// back to them (AssignHeader). An empty value means the field is absent. No platform code.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "core/Component.h"
#include "http/HeaderFieldList.h"

namespace memoline {

// One text field F<Name> with the property pair Name() / SetName(); setting a new value signals a change.
#define MEMOLINE_HEADER_FIELD(Name)           \
public:                                       \
    const std::wstring& Name() const {        \
        return F##Name;                       \
    }                                         \
    void Set##Name(std::wstring AValue) {     \
        SetField(F##Name, std::move(AValue)); \
    }                                         \
                                              \
protected:                                    \
    std::wstring F##Name;

// The fields every HTTP message may carry, and the lines of fields the object does not know.
class TnetHttpEntityHeader : public TObject {
    MEMOLINE_HEADER_FIELD(CacheControl)
    MEMOLINE_HEADER_FIELD(Connection)
    MEMOLINE_HEADER_FIELD(ContentEncoding)
    MEMOLINE_HEADER_FIELD(ContentLanguage)
    MEMOLINE_HEADER_FIELD(ContentLength)
    MEMOLINE_HEADER_FIELD(ContentType)  // the main value only; its items are Boundary and CharSet
    MEMOLINE_HEADER_FIELD(Boundary)
    MEMOLINE_HEADER_FIELD(CharSet)
    MEMOLINE_HEADER_FIELD(ContentVersion)
    MEMOLINE_HEADER_FIELD(Date)
    MEMOLINE_HEADER_FIELD(Expires)
    MEMOLINE_HEADER_FIELD(LastModified)
    MEMOLINE_HEADER_FIELD(ProxyConnection)
    MEMOLINE_HEADER_FIELD(TransferEncoding)

public:
    TnetHttpEntityHeader();
    TnetHttpEntityHeader(const TnetHttpEntityHeader&) = delete;
    TnetHttpEntityHeader& operator=(const TnetHttpEntityHeader&) = delete;

    // Clears the object and fills it from header lines: a known field takes its first occurrence, an
    // unknown one goes to ExtraFields as "name: value". A first line without a field (a status or
    // request line) is ignored.
    void ParseHeader(const TnetStringList& AHeader);
    // Writes the non-empty fields as lines after the last header line of AHeader.
    void AssignHeader(TnetStringList& AHeader) const;
    // Empties every field.
    virtual void Clear();

    void BeginUpdate() { ++FUpdateCount; }
    void EndUpdate();

    const TnetStringList& ExtraFields() const { return FExtraFields; }
    void SetExtraFields(TnetStringList AFields);
    // The lower-cased names of the fields this object knows (listed on first use: most headers are
    // made, parsed and dropped without anybody asking).
    const std::vector<std::wstring>& KnownFields() const;

    // Raised after a change (once per outermost BeginUpdate/EndUpdate bracket).
    TNotifyEvent OnChange;

protected:
    struct FieldRef {
        const wchar_t* name;
        std::wstring* value;
    };
    // The simple text fields of the derived class, in the order they are written.
    virtual std::vector<FieldRef> OwnFields() const { return {}; }
    // Fields a derived class reads in its own way (several occurrences); true if it took the field.
    virtual bool ParseSpecialField(const std::wstring& /*lowerName*/, const std::wstring& /*value*/) { return false; }
    virtual void AssignSpecialFields(TnetHeaderFieldList& /*list*/) const {}
    virtual std::vector<const wchar_t*> SpecialFieldNames() const { return {}; }

    void SetField(std::wstring& AField, std::wstring AValue);
    void Changed();

    TnetStringList FExtraFields;
    mutable std::vector<std::wstring> FKnownFields;
    int FUpdateCount = 0;

private:
    std::vector<FieldRef> EntityFields() const;
    void ClearEntityFields();
};

class TnetHttpRequestHeader : public TnetHttpEntityHeader {
    MEMOLINE_HEADER_FIELD(Accept)
    MEMOLINE_HEADER_FIELD(AcceptCharSet)
    MEMOLINE_HEADER_FIELD(AcceptEncoding)
    MEMOLINE_HEADER_FIELD(AcceptLanguage)
    MEMOLINE_HEADER_FIELD(Authorization)
    MEMOLINE_HEADER_FIELD(Host)
    MEMOLINE_HEADER_FIELD(ProxyAuthorization)
    MEMOLINE_HEADER_FIELD(Range)
    MEMOLINE_HEADER_FIELD(Referer)
    MEMOLINE_HEADER_FIELD(UserAgent)

public:
    TnetHttpRequestHeader();
    // Empties every field; Accept becomes "*/*" again.
    void Clear() override;

protected:
    std::vector<FieldRef> OwnFields() const override;
};

class TnetHttpResponseHeader : public TnetHttpEntityHeader {
    MEMOLINE_HEADER_FIELD(AcceptRanges)
    MEMOLINE_HEADER_FIELD(Age)
    MEMOLINE_HEADER_FIELD(Allow)
    MEMOLINE_HEADER_FIELD(ContentDisposition)
    MEMOLINE_HEADER_FIELD(ContentRange)
    MEMOLINE_HEADER_FIELD(ETag)
    MEMOLINE_HEADER_FIELD(Location)
    MEMOLINE_HEADER_FIELD(RetryAfter)
    MEMOLINE_HEADER_FIELD(Server)

public:
    TnetHttpResponseHeader();
    void Clear() override;

    // Every "WWW-Authenticate" and every "Proxy-Authenticate" value, in order.
    const TnetStringList& Authenticate() const { return FAuthenticate; }
    const TnetStringList& ProxyAuthenticate() const { return FProxyAuthenticate; }

protected:
    std::vector<FieldRef> OwnFields() const override;
    bool ParseSpecialField(const std::wstring& lowerName, const std::wstring& value) override;
    void AssignSpecialFields(TnetHeaderFieldList& list) const override;
    std::vector<const wchar_t*> SpecialFieldNames() const override;

    TnetStringList FAuthenticate;
    TnetStringList FProxyAuthenticate;
};

#undef MEMOLINE_HEADER_FIELD

}  // namespace memoline
