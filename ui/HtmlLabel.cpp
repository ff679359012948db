#include "ui/HtmlLabel.h"

#include "ui/Accessible.h"
#include "ui/HtmlText.h"
#include "ui/Style.h"

namespace memoline::ui {

TControl::CreateParams THtmlLabel::GetCreateParams() {
    return CreateParams{L"THtmlLabel", 0, 0, true};
}

std::wstring THtmlLabel::AccessibleText() const {
    return HtmlPlainText(Caption());
}

LRESULT THtmlLabel::WndProc(UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_GETOBJECT) {
        const HWND hwnd = handle_;
        TAccessibleDetails details;
        details.Name = [hwnd] {
            const auto* label = dynamic_cast<const THtmlLabel*>(FromHandle(hwnd));
            return label ? label->AccessibleText() : std::wstring();
        };
        if (LRESULT answer = AnswerGetObject(handle_, wp, lp, std::move(details)))
            return answer;
    }
    return TControl::WndProc(msg, wp, lp);
}

void THtmlLabel::Paint(HDC dc) {
    RECT r = ClientRect();
    PaintBackground(dc, r);
    boldFont_ = Font();
    boldFont_.SetBold(true);
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, TStyleManager::Engine().Color(TStyleColor::WindowText));
    HGDIOBJ old = SelectObject(dc, Font().Handle());
    TEXTMETRICW tm{};
    GetTextMetricsW(dc, &tm);
    const int lineHeight = tm.tmHeight;
    int x = 0, y = 0;
    for (const THtmlRun& run : ParseHtmlText(Caption())) {
        if (run.LineBreak) {
            x = 0;
            y += lineHeight;
            continue;
        }
        SelectObject(dc, run.Bold ? boldFont_.Handle() : Font().Handle());
        // Word by word, each with the blank that follows it, wrapping before a word that would
        // cross the right edge.
        size_t pos = 0;
        while (pos < run.Text.size()) {
            size_t end = run.Text.find(L' ', pos);
            end = end == std::wstring::npos ? run.Text.size() : end + 1;
            std::wstring word = run.Text.substr(pos, end - pos);
            SIZE size{};
            GetTextExtentPoint32W(dc, word.c_str(), static_cast<int>(word.size()), &size);
            if (x > 0 && x + size.cx > r.right) {
                x = 0;
                y += lineHeight;
                if (word == L" ")
                    word.clear();
            }
            TextOutW(dc, x, y, word.c_str(), static_cast<int>(word.size()));
            x += size.cx;
            pos = end;
        }
    }
    SelectObject(dc, old);
}

}  // namespace memoline::ui
