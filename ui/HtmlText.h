// The small markup of the framework's labels: <b>...</b> (either case) for bold and <BR> (either
// case, also <BR/>) for a line break. Any other text, unknown tags included, is shown as written.
#pragma once

#include <string>
#include <vector>

namespace memoline::ui {

struct THtmlRun {
    std::wstring Text;  // empty for a line break
    bool Bold = false;
    bool LineBreak = false;
};

std::vector<THtmlRun> ParseHtmlText(const std::wstring& markup);

// The text without its markup, as a screen reader reads it: a run of line breaks becomes one "\n".
std::wstring HtmlPlainText(const std::wstring& markup);

}  // namespace memoline::ui
