#include "http/HeaderFieldList.h"

#include "core/TextUtil.h"

namespace memoline {
namespace {

bool IsContinuation(const std::wstring& line) {
    return !line.empty() && (line[0] == L' ' || line[0] == L'\t');
}

// Position of the first ";" or "," outside double or single quotes, or npos.
std::size_t FindItemBreak(std::wstring_view value, std::size_t from) {
    wchar_t quote = 0;
    for (std::size_t i = from; i < value.size(); ++i) {
        const wchar_t c = value[i];
        if (quote != 0) {
            if (c == quote)
                quote = 0;
        } else if (c == L'"' || c == L'\'') {
            quote = c;
        } else if (c == L';' || c == L',') {
            return i;
        }
    }
    return std::wstring_view::npos;
}

bool IsQuote(wchar_t c) {
    return c == L'"' || c == L'\'';
}

// True when the whole text is one quoted string: its first quote closes at its last character.
bool IsOneQuotedString(std::wstring_view text) {
    return text.size() >= 2 && IsQuote(text.front()) && text.find(text.front(), 1) == text.size() - 1;
}

std::wstring Unquoted(std::wstring_view text) {
    text = TrimView(text);
    if (IsOneQuotedString(text))
        text = text.substr(1, text.size() - 2);
    return std::wstring(text);
}

// An item value as it must be written to read back the same: quoted when it holds a separator, a
// blank or a quote, with a quote character the value does not contain.
std::wstring QuotedIfNeeded(std::wstring_view value) {
    const bool plain = value.find_first_of(L";, \t\"'") == std::wstring_view::npos;
    if (plain || IsOneQuotedString(value))
        return std::wstring(value);
    for (const wchar_t quote : {L'"', L'\''}) {
        if (value.find(quote) == std::wstring_view::npos)
            return quote + std::wstring(value) + quote;
    }
    return std::wstring(value);  // both quotes inside: no way to write it that reads back the same
}

}  // namespace

std::wstring HeaderMainValue(std::wstring_view AValue) {
    const std::size_t end = FindItemBreak(AValue, 0);
    return Trim(AValue.substr(0, end == std::wstring_view::npos ? AValue.size() : end));
}

std::wstring HeaderValueItem(std::wstring_view AValue, std::wstring_view AItemName) {
    std::size_t start = FindItemBreak(AValue, 0);
    while (start != std::wstring_view::npos) {
        ++start;
        const std::size_t end = FindItemBreak(AValue, start);
        const std::wstring_view item =
            AValue.substr(start, end == std::wstring_view::npos ? std::wstring_view::npos : end - start);
        const std::size_t equals = item.find(L'=');
        if (equals != std::wstring_view::npos && SameTextAscii(TrimView(item.substr(0, equals)), AItemName))
            return Unquoted(item.substr(equals + 1));
        start = end;
    }
    return {};
}

void TnetHeaderFieldList::Parse(std::size_t AStartFrom, TnetStringList* ASource) {
    FSource = ASource;
    FHeaderStart = AStartFrom;
    Rescan();
}

void TnetHeaderFieldList::Rescan() {
    FFieldList.clear();
    FHeaderEnd = FHeaderStart;
    if (!FSource)
        return;
    const TnetStringList& lines = *FSource;
    std::size_t i = FHeaderStart;
    for (; i < lines.size() && !lines[i].empty(); ++i) {
        if (IsContinuation(lines[i]))
            continue;
        const std::size_t colon = lines[i].find(L':');
        if (colon == std::wstring::npos)
            continue;
        FFieldList.push_back({LowerAscii(lines[i].substr(0, colon)), i});
    }
    FHeaderEnd = i < lines.size() ? i : lines.size();
}

std::size_t TnetHeaderFieldList::FindField(std::wstring_view AName) const {
    const std::wstring name = LowerAscii(AName);
    for (std::size_t i = 0; i < FFieldList.size(); ++i) {
        if (FFieldList[i].name == name)
            return i;
    }
    return kNone;
}

std::size_t TnetHeaderFieldList::FieldEndLine(std::size_t AIndex) const {
    std::size_t line = FFieldList[AIndex].line + 1;
    while (line < FHeaderEnd && IsContinuation((*FSource)[line]))
        ++line;
    return line;
}

std::wstring TnetHeaderFieldList::FieldNameAsWritten(std::size_t AIndex) const {
    const std::wstring& line = (*FSource)[FFieldList[AIndex].line];
    return line.substr(0, line.find(L':'));
}

std::wstring TnetHeaderFieldList::FieldValueAt(std::size_t AIndex) const {
    const std::size_t first = FFieldList[AIndex].line;
    const std::wstring& line = (*FSource)[first];
    std::wstring value = line.substr(line.find(L':') + 1);
    for (std::size_t i = first + 1; i < FieldEndLine(AIndex); ++i) {
        const std::wstring& more = (*FSource)[i];
        // A fold is one blank: a leading tab becomes a space, so folded words stay apart.
        if (more[0] == L'\t')
            value += L' ' + more.substr(1);
        else
            value += more;
    }
    return Trim(value);
}

std::wstring TnetHeaderFieldList::GetFieldValue(std::wstring_view AName) const {
    const std::size_t index = FindField(AName);
    return index == kNone ? std::wstring() : FieldValueAt(index);
}

void TnetHeaderFieldList::AddField(std::wstring_view AName, std::wstring_view AValue) {
    if (AValue.empty() || !FSource)
        return;
    std::wstring line(AName);
    line += L": ";
    line += AValue;
    // Only the new line needs a look: the fields before it stay where they were. (A full rescan per
    // added field made writing a header quadratic in its length.)
    if (!IsContinuation(line))
        FFieldList.push_back({LowerAscii(line.substr(0, line.find(L':'))), FHeaderEnd});
    FSource->insert(FSource->begin() + static_cast<std::ptrdiff_t>(FHeaderEnd), std::move(line));
    ++FHeaderEnd;
}

void TnetHeaderFieldList::AddFieldIfNotExist(std::wstring_view AName, std::wstring_view AValue) {
    if (!FieldExists(AName))
        AddField(AName, AValue);
}

void TnetHeaderFieldList::RemoveField(std::wstring_view AName) {
    const std::size_t index = FindField(AName);
    if (index == kNone)
        return;
    const auto first = FSource->begin() + static_cast<std::ptrdiff_t>(FFieldList[index].line);
    const auto last = FSource->begin() + static_cast<std::ptrdiff_t>(FieldEndLine(index));
    FSource->erase(first, last);
    Rescan();
}

std::wstring TnetHeaderFieldList::GetFieldMainValue(std::wstring_view AName) const {
    return HeaderMainValue(GetFieldValue(AName));
}

std::wstring TnetHeaderFieldList::GetFieldValueItem(std::wstring_view AName, std::wstring_view AItemName) const {
    return HeaderValueItem(GetFieldValue(AName), AItemName);
}

void TnetHeaderFieldList::AddFieldValueItem(std::wstring_view AName,
                                            std::wstring_view AItemName,
                                            std::wstring_view AValue) {
    const std::size_t index = FindField(AName);
    if (AValue.empty() || index == kNone)
        return;
    std::wstring& line = (*FSource)[FFieldList[index].line];
    if (TrimView(line).back() != L';')
        line += L';';
    line += L' ';
    line += AItemName;
    line += L'=';
    line += QuotedIfNeeded(AValue);  // after the ":", so the field's name and place stay
}

}  // namespace memoline
