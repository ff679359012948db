// Header parsing on any lines: the lines are read as UTF-8 text and parsed into a request and a
// response header. Once a header has been written out and parsed back, doing so again must give the same
// lines (the first pass normalises: an empty "Accept:" read from the input is written as nothing and
// then reads back as the default "*/*"), and the line list must survive every edit.
#include <cstdlib>
#include <string>

#include "http/Charset.h"
#include "http/HeaderFieldList.h"
#include "http/HttpHeader.h"

using namespace memoline;

namespace {

TnetStringList SplitLines(const std::wstring& text) {
    TnetStringList lines;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= text.size(); ++i) {
        if (i == text.size() || text[i] == L'\n') {
            std::wstring line = text.substr(start, i - start);
            if (!line.empty() && line.back() == L'\r')
                line.pop_back();
            lines.push_back(std::move(line));
            start = i + 1;
        }
    }
    return lines;
}

template <typename Header>
TnetStringList ParseAndWrite(const TnetStringList& lines) {
    Header header;
    header.ParseHeader(lines);
    TnetStringList written;
    header.AssignHeader(written);
    return written;
}

template <typename Header>
void RoundTrip(const TnetStringList& lines) {
    const TnetStringList once = ParseAndWrite<Header>(lines);
    const TnetStringList twice = ParseAndWrite<Header>(once);
    if (ParseAndWrite<Header>(twice) != twice)
        std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    const std::wstring text = CharsetDecode(bytes, L"utf-8");
    TnetStringList lines = SplitLines(text);
    RoundTrip<TnetHttpRequestHeader>(lines);
    RoundTrip<TnetHttpResponseHeader>(lines);

    // Edits through the line list, on the fields it found.
    TnetHeaderFieldList list;
    list.Parse(0, &lines);
    if (list.FieldCount() > 0) {
        const std::wstring name = list.FieldName(0);
        const std::wstring value = list.GetFieldValue(name);
        list.AddFieldValueItem(name, L"charset", L"utf-8");
        HeaderValueItem(value, L"charset");
        list.RemoveField(name);
        list.AddFieldIfNotExist(name, L"x");
        if (!list.FieldExists(name) || list.HeaderEnd() > lines.size())
            std::abort();
    }
    return 0;
}
