#include "ui/HtmlText.h"

#include "core/TextUtil.h"

namespace memoline::ui {
namespace {

enum class Tag {
    None,       // not one of ours: the text stays as written
    BoldOn,     // <b>
    BoldOff,    // </b>
    LineBreak,  // <br>, <br/>
};

Tag ReadTag(const std::wstring& s, size_t at, size_t& length) {
    size_t close = s.find(L'>', at);
    if (close == std::wstring::npos)
        return Tag::None;
    std::wstring name;
    for (size_t i = at + 1; i < close; ++i)
        name += LowerAscii(s[i]);
    length = close - at + 1;
    if (name == L"b")
        return Tag::BoldOn;
    if (name == L"/b")
        return Tag::BoldOff;
    if (name == L"br" || name == L"br/" || name == L"br /")
        return Tag::LineBreak;
    return Tag::None;
}

}  // namespace

std::vector<THtmlRun> ParseHtmlText(const std::wstring& markup) {
    std::vector<THtmlRun> runs;
    bool bold = false;
    std::wstring text;
    auto flush = [&] {
        if (!text.empty())
            runs.push_back(THtmlRun{text, bold, false});
        text.clear();
    };
    for (size_t i = 0; i < markup.size();) {
        size_t length = 0;
        Tag tag = markup[i] == L'<' ? ReadTag(markup, i, length) : Tag::None;
        if (tag == Tag::None) {
            text += markup[i++];
            continue;
        }
        flush();
        if (tag == Tag::LineBreak)
            runs.push_back(THtmlRun{L"", bold, true});
        else
            bold = tag == Tag::BoldOn;
        i += length;
    }
    flush();
    return runs;
}

std::wstring HtmlPlainText(const std::wstring& markup) {
    std::wstring plain;
    for (const THtmlRun& run : ParseHtmlText(markup)) {
        if (!run.LineBreak)
            plain += run.Text;
        else if (!plain.empty() && plain.back() != L'\n')
            plain += L'\n';
    }
    return plain;
}

}  // namespace memoline::ui
