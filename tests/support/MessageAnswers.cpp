#include "tests/support/MessageAnswers.h"

#include <windows.h>

namespace memoline::test {

ScopedMessageAnswers::ScopedMessageAnswers(std::deque<int> answers) : answers_(std::move(answers)) {
    previous_ = ui::SetMessageDlgHandler([this](const std::wstring& text, ui::TMsgDlgType type) {
        shown_.push_back({text, type});
        if (!answers_.empty()) {
            int answer = answers_.front();
            answers_.pop_front();
            return answer;
        }
        return type == ui::TMsgDlgType::Confirmation ? IDNO : IDOK;
    });
}

ScopedMessageAnswers::~ScopedMessageAnswers() {
    ui::SetMessageDlgHandler(std::move(previous_));
}

}  // namespace memoline::test
