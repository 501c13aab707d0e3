// The emulated plotter: its models and papers, and its answers to the output
// instructions from the interpreter's state.

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>

#include "hardcopy/hpgl/interpreter_p.h"

namespace benchcap::hpgl::detail {
namespace {

PlotterTraits plotterTraits(PlotterModel model, PaperSize paper) {
    const bool a4 = paper == PaperSize::A4;
    if (model == PlotterModel::HP7475A) {
        return {model, a4 ? std::array{603, 521, 10603, 7721} : std::array{250, 596, 10250, 7796},
                a4 ? std::array{0, 0, 11040, 7721} : std::array{0, 0, 10365, 7962}};
    }
    // The 7470A sets P1/P2 alike for either paper switch setting; only its area differs.
    return {model, std::array{250, 279, 10250, 7479},
            a4 ? std::array{0, 0, 10900, 7650} : std::array{0, 0, 10300, 7650}};
}

std::string joined(std::initializer_list<long long> values) {
    std::string s;
    for (const long long v : values)
        s += (s.empty() ? "" : ",") + std::to_string(v);
    return s;
}

long long rounded(double v) {
    return std::isfinite(v) ? std::llround(std::clamp(v, -1e15, 1e15)) : 0;
}

// A user-unit coordinate for OC: whole numbers as such, others with up to three decimals.
std::string decimal(double v) {
    if (!std::isfinite(v))
        return "0";
    char text[48];
    std::snprintf(text, sizeof text, "%.3f", std::clamp(v, -1e15, 1e15));
    std::string s = text;
    while (s.back() == '0')
        s.pop_back();
    if (s.back() == '.')
        s.pop_back();
    return s == "-0" ? "0" : s;
}

}  // namespace

// The output instructions: the answer from the state as it is now, and the status bits
// that reading it clears. False for instructions that are no output instruction.
bool Interpreter::answer(int m) {
    const bool hp7475 = traits_.model == PlotterModel::HP7475A;
    const QPointF at = physical(pos_);
    std::string text;
    switch (m) {
        case mnemonic('O', 'A'):
            text = joined({rounded(at.x()), rounded(at.y()), penDown_ ? 1 : 0});
            break;
        case mnemonic('O', 'C'): {
            const QPointF user = toUser(pos_);
            text = scaled_
                       ? decimal(user.x()) + "," + decimal(user.y()) + "," + (penDown_ ? "1" : "0")
                       : joined({rounded(pos_.x()), rounded(pos_.y()), penDown_ ? 1 : 0});
            break;
        }
        case mnemonic('O', 'D'):  // no digitizing here: the point of power-up
            text = "0,0,0";
            break;
        case mnemonic('O', 'E'):
            text = std::to_string(error_);
            error_ = 0;
            status_ &= ~kStatusError;
            break;
        case mnemonic('O', 'F'):
            text = "40,40";
            break;
        case mnemonic('O', 'H'):
            if (!hp7475) {
                setError(kErrorUnknown);  // the 7470A has no OH
                return true;
            }
            text = joined({traits_.hardClip[0], traits_.hardClip[1], traits_.hardClip[2],
                           traits_.hardClip[3]});
            break;
        case mnemonic('O', 'I'):
            text = std::string(plotterModelName(traits_.model));
            break;
        case mnemonic('O', 'O'):
            text = "0,1,0,0,1,0,0,0";
            break;
        case mnemonic('O', 'P'):
            text = joined({rounded(p1_.x()), rounded(p1_.y()), rounded(p2_.x()), rounded(p2_.y())});
            status_ &= ~kStatusP1P2Changed;
            break;
        case mnemonic('O', 'S'):
            text = std::to_string(status_ | (penDown_ ? kStatusPenDown : 0));
            status_ &= ~kStatusInitialized;
            break;
        case mnemonic('O', 'W'): {
            const QRectF w = window_;
            text = windowOn_ ? joined({rounded(w.left()), rounded(w.top()), rounded(w.right()),
                                       rounded(w.bottom())})
                             : joined({traits_.hardClip[0], traits_.hardClip[1],
                                       traits_.hardClip[2], traits_.hardClip[3]});
            break;
        }
        default:
            return false;
    }
    answer_ = text + std::string(kAnswerEnd);
    return true;
}

}  // namespace benchcap::hpgl::detail

namespace benchcap::hpgl {

std::optional<PlotterModel> plotterModelNamed(std::string_view name) {
    std::string upper;
    for (const char c : name)
        upper += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (upper.starts_with("HP"))
        upper.erase(0, upper.find_first_not_of(" -", 2));
    if (upper == "7470A")
        return PlotterModel::HP7470A;
    if (upper == "7475A")
        return PlotterModel::HP7475A;
    return std::nullopt;
}

std::string_view plotterModelName(PlotterModel model) {
    return model == PlotterModel::HP7475A ? "7475A" : "7470A";
}

struct PlotterEmulator::State {
    State(PlotterModel m, PaperSize paper)
        : model(m), interpreter(detail::plotterTraits(m, paper), {}) {}
    PlotterModel model;
    detail::Interpreter interpreter;
};

PlotterEmulator::PlotterEmulator(PlotterModel model, PaperSize paper)
    : state_(std::make_unique<State>(model, paper)) {}
PlotterEmulator::~PlotterEmulator() = default;

std::string PlotterEmulator::feed(std::string_view bytes) {
    return state_->interpreter.feed(bytes);
}
PlotterModel PlotterEmulator::model() const {
    return state_->model;
}
size_t PlotterEmulator::instructions() const {
    return state_->interpreter.instructions();
}
std::string PlotterEmulator::lastInstruction() const {
    const int m = state_->interpreter.lastMnemonic();
    return m == 0 ? std::string()
                  : std::string{static_cast<char>(m >> 8), static_cast<char>(m & 0xFF)};
}

}  // namespace benchcap::hpgl
