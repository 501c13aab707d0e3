#pragma once

#include <optional>
#include <string>

namespace benchcap::bus {

// Modal boxes that the lower layers show (firmware check, board choice, plotter offer).
// The window implements it with Qt; tests and the command-line program script it.
// Texts are the program's 8-bit (Latin-1) texts.
enum class MessageIcon { None, Critical, Question, Exclamation, Information };
enum class MessageButtons { Ok, OkCancel, YesNo, YesNoCancel };
enum class MessageResult { Ok, Cancel, Yes, No };

// The answer that changes and overwrites nothing, for boxes nobody is there to answer.
inline MessageResult SafeAnswer(MessageButtons buttons) {
    switch (buttons) {
        case MessageButtons::Ok:
            return MessageResult::Ok;
        case MessageButtons::OkCancel:
            return MessageResult::Cancel;
        case MessageButtons::YesNo:
        case MessageButtons::YesNoCancel:
            return MessageResult::No;
    }
    return MessageResult::Cancel;
}

class UserInterface {
  public:
    virtual ~UserInterface() = default;

    // An empty title means the application's own title.
    virtual MessageResult messageBox(MessageIcon icon, const std::string& title,
                                     const std::string& text, MessageButtons buttons) = 0;

    // The entered text, or nullopt when the user cancelled.
    virtual std::optional<std::string> inputBox(const std::string& title, const std::string& prompt,
                                                const std::string& preset) = 0;
};

}  // namespace benchcap::bus
