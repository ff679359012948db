// Answers the updater's message boxes in-process and records what they said.
#pragma once

#include <deque>
#include <string>
#include <vector>

#include "ui/MessageBox.h"

namespace memoline::test {

struct ShownMessage {
    std::wstring text;
    ui::TMsgDlgType type;
};

// While alive, every message box is answered from `answers` in order (IDOK when the list runs out
// and the box has an OK button, IDNO for a confirmation) and recorded in Shown().
class ScopedMessageAnswers {
public:
    explicit ScopedMessageAnswers(std::deque<int> answers = {});
    ~ScopedMessageAnswers();
    ScopedMessageAnswers(const ScopedMessageAnswers&) = delete;
    ScopedMessageAnswers& operator=(const ScopedMessageAnswers&) = delete;

    const std::vector<ShownMessage>& Shown() const { return shown_; }
    void Answer(int answer) { answers_.push_back(answer); }

private:
    std::deque<int> answers_;
    std::vector<ShownMessage> shown_;
    ui::MessageDlgHandler previous_;
};

}  // namespace memoline::test
