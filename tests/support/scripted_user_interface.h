#pragma once

#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "bus/user_interface.h"

namespace benchcap::bus::testing {

// Every box a scripted run was shown, in order.
struct RecordedBox {
    enum class Kind { Message, Input };
    Kind kind = Kind::Message;
    MessageIcon icon = MessageIcon::None;
    std::string title;
    std::string text;  // message text, or the prompt of an input box
    MessageButtons buttons = MessageButtons::Ok;
    std::string preset;  // input boxes only
};

// UserInterface for tests: answers come from queues filled in
// advance, and every box is recorded. With nothing queued, a message box answers with
// its first button (what Enter would press) and an input box is cancelled, so an
// unexpected box never blocks a test; look at boxes() to catch it.
class ScriptedUserInterface final : public UserInterface {
  public:
    void queueMessageResult(MessageResult result) { messageAnswers_.push_back(result); }
    void queueInput(std::optional<std::string> answer) {
        inputAnswers_.push_back(std::move(answer));
    }

    const std::vector<RecordedBox>& boxes() const { return boxes_; }
    // The texts shown (message texts and input prompts), in order.
    std::vector<std::string> texts() const {
        std::vector<std::string> shown;
        for (const RecordedBox& box : boxes_)
            shown.push_back(box.text);
        return shown;
    }
    // The boxes of one kind, in order.
    std::vector<RecordedBox> boxes(RecordedBox::Kind kind) const {
        std::vector<RecordedBox> found;
        for (const RecordedBox& box : boxes_) {
            if (box.kind == kind)
                found.push_back(box);
        }
        return found;
    }
    void clearBoxes() { boxes_.clear(); }

    MessageResult messageBox(MessageIcon icon, const std::string& title, const std::string& text,
                             MessageButtons buttons) override {
        boxes_.push_back({RecordedBox::Kind::Message, icon, title, text, buttons, {}});
        if (!messageAnswers_.empty()) {
            MessageResult r = messageAnswers_.front();
            messageAnswers_.pop_front();
            return r;
        }
        switch (buttons) {
            case MessageButtons::Ok:
            case MessageButtons::OkCancel:
                return MessageResult::Ok;
            case MessageButtons::YesNo:
            case MessageButtons::YesNoCancel:
                return MessageResult::Yes;
        }
        return MessageResult::Ok;
    }

    std::optional<std::string> inputBox(const std::string& title, const std::string& prompt,
                                        const std::string& preset) override {
        boxes_.push_back({RecordedBox::Kind::Input, MessageIcon::None, title, prompt,
                          MessageButtons::OkCancel, preset});
        if (!inputAnswers_.empty()) {
            auto r = std::move(inputAnswers_.front());
            inputAnswers_.pop_front();
            return r;
        }
        return std::nullopt;
    }

  private:
    std::deque<MessageResult> messageAnswers_;
    std::deque<std::optional<std::string>> inputAnswers_;
    std::vector<RecordedBox> boxes_;
};

}  // namespace benchcap::bus::testing
