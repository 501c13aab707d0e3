#pragma once

#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "bus/user_interface.h"

namespace benchcap::test {

// A user interface for tests: records every box and answers from queues (default: the
// box's first button, an empty entry).
class RecordingUi final : public bus::UserInterface {
  public:
    struct Box {
        bus::MessageIcon icon;
        std::string title;
        std::string text;
        bus::MessageButtons buttons;
    };

    bus::MessageResult messageBox(bus::MessageIcon icon, const std::string& title,
                                  const std::string& text, bus::MessageButtons buttons) override {
        boxes.push_back({icon, title, text, buttons});
        if (!answers.empty()) {
            const auto a = answers.front();
            answers.pop_front();
            return a;
        }
        return buttons == bus::MessageButtons::YesNo || buttons == bus::MessageButtons::YesNoCancel
                   ? bus::MessageResult::Yes
                   : bus::MessageResult::Ok;
    }

    std::optional<std::string> inputBox(const std::string& title, const std::string& prompt,
                                        const std::string&) override {
        inputs.push_back({bus::MessageIcon::None, title, prompt, bus::MessageButtons::OkCancel});
        if (entries.empty())
            return std::string();
        auto e = entries.front();
        entries.pop_front();
        return e;
    }

    std::vector<Box> boxes;
    std::vector<Box> inputs;
    std::deque<bus::MessageResult> answers;
    std::deque<std::optional<std::string>> entries;
};

}  // namespace benchcap::test
