// A view over header lines that finds fields by name. It does not own the lines: it reads and edits
// the list it was given. No platform code.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace memoline {

// Lines of text, such as header lines without their CR LF.
using TnetStringList = std::vector<std::wstring>;

class TnetHeaderFieldList {
public:
    // Scans ASource from line AStartFrom up to the first empty line (the header's end). A line starting
    // with a space or a tab continues the previous field; any other line with a ":" names a field;
    // other lines are skipped. The list must outlive this view or be parsed again.
    void Parse(std::size_t AStartFrom, TnetStringList* ASource);

    bool FieldExists(std::wstring_view AName) const { return FindField(AName) != kNone; }
    // The first field of that name (any case): the text after the ":" of its line, with its
    // continuation lines appended (a leading tab as one blank, so folded words stay apart), trimmed.
    // Empty when there is no such field.
    std::wstring GetFieldValue(std::wstring_view AName) const;
    // Inserts "AName: AValue" after the last header line; an empty value adds nothing.
    void AddField(std::wstring_view AName, std::wstring_view AValue);
    void AddFieldIfNotExist(std::wstring_view AName, std::wstring_view AValue);
    // Removes the first field of that name with its continuation lines.
    void RemoveField(std::wstring_view AName);

    // Value items ("text/html; charset=utf-8"): the main value is the text up to the first ";" or ","
    // outside quotes; items are looked up by name, any case, and come back without their quotes.
    std::wstring GetFieldMainValue(std::wstring_view AName) const;
    std::wstring GetFieldValueItem(std::wstring_view AName, std::wstring_view AItemName) const;
    // Appends ";" (unless the line ends with one), a space, AItemName, "=" and AValue to the field's
    // first line, AValue quoted when it holds a separator, a blank or a quote, so that
    // GetFieldValueItem reads it back unchanged; an empty value or a missing field adds nothing.
    void AddFieldValueItem(std::wstring_view AName, std::wstring_view AItemName, std::wstring_view AValue);

    // Every field line in order, repeated names included.
    std::size_t FieldCount() const { return FFieldList.size(); }
    const std::wstring& FieldName(std::size_t AIndex) const { return FFieldList[AIndex].name; }
    std::wstring FieldNameAsWritten(std::size_t AIndex) const;
    std::wstring FieldValueAt(std::size_t AIndex) const;

    std::size_t HeaderStart() const { return FHeaderStart; }
    std::size_t HeaderEnd() const { return FHeaderEnd; }

private:
    static constexpr std::size_t kNone = static_cast<std::size_t>(-1);

    struct Field {
        std::wstring name;  // lower case
        std::size_t line;   // index of the field's first line
    };

    void Rescan();
    std::size_t FindField(std::wstring_view AName) const;
    std::size_t FieldEndLine(std::size_t AIndex) const;

    TnetStringList* FSource = nullptr;
    std::size_t FHeaderStart = 0;
    std::size_t FHeaderEnd = 0;
    std::vector<Field> FFieldList;
};

// The main value of a field value, and an item looked up in it (see TnetHeaderFieldList).
std::wstring HeaderMainValue(std::wstring_view AValue);
std::wstring HeaderValueItem(std::wstring_view AValue, std::wstring_view AItemName);

}  // namespace memoline
