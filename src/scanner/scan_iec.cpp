#include "scanner/scan_iec.h"

#include <algorithm>
#include <cctype>
#include <stdexcept>
#include <vector>

#include "bus/number.h"
#include "bus/text.h"

namespace benchcap::scanner {
namespace {

constexpr int kBoardCount = 10;
// ibdev's secondary address code 0x60 is secondary address 0 (0 would mean none); the
// session opens devices the same way.
constexpr int kSecondaryAddress0 = 0x60;
constexpr char kIdnQuery[] = "*IDN?";
constexpr char kOptQuery[] = "*OPT?";

std::string addr(int16_t address) {
    return "Addr " + std::to_string(address);
}

std::string twoDigits(int16_t address) {
    return (address < 10 ? "0" : "") + std::to_string(address);
}

// The number of bytes a read delivered, as the driver reported it, within the buffer.
size_t transferred(const bus::DriverStatus& status, size_t capacity) {
    return static_cast<size_t>(
        std::clamp<int64_t>(status.ibcntl, 0, static_cast<int64_t>(capacity)));
}

// RAII flag: set while the scan runs, cleared however it ends.
class ScanningFlag {
  public:
    explicit ScanningFlag(bool& flag) : flag_(flag) { flag_ = true; }
    ~ScanningFlag() { flag_ = false; }
    ScanningFlag(const ScanningFlag&) = delete;
    ScanningFlag& operator=(const ScanningFlag&) = delete;

  private:
    bool& flag_;
};

}  // namespace

const char* LedColourName(LedColour colour) {
    switch (colour) {
        case LedColour::None:
            return "none";
        case LedColour::Red:
            return "red";
        case LedColour::Black:
            return "black";
        case LedColour::Green:
            return "green";
    }
    return "none";
}

bool IsMakerAnswer(std::string_view answer) {
    const std::string_view head = bus::TrimBlanks(answer.substr(0, 3));
    if (head.size() != 3)
        return false;
    return std::toupper(static_cast<unsigned char>(head[0])) == 'V' &&
           std::toupper(static_cast<unsigned char>(head[1])) == 'E' &&
           std::toupper(static_cast<unsigned char>(head[2])) == 'L';
}

std::string DropManufacturer(std::string_view answer, size_t width) {
    const size_t comma = answer.find(',');
    std::string rest(comma == std::string_view::npos ? answer : answer.substr(comma + 1));
    if (rest.size() < width)
        rest.resize(width, ' ');
    return rest;
}

std::string FoundText(int count) {
    if (count == 0)
        return "NO VTK-DEVICE FOUND";
    if (count == 1)
        return "1 VTK-DEVICE FOUND";
    return std::to_string(count) + " VTK-DEVICES FOUND";
}

ScanController::ScanController(bus::GpibDriver& driver, bus::Clock& clock, bus::UserInterface& ui)
    : driver_(driver), clock_(clock), ui_(ui) {
    buffer_.reserve(kReadSize);
}

const DeviceRecord& ScanController::entry(int16_t address) const {
    if (address < 0 || address >= kTableSize) {
        throw std::out_of_range("device table address " + std::to_string(address) +
                                " outside 0..31");
    }
    return table_[static_cast<size_t>(address)];
}

const LedState& ScanController::led(int16_t address) const {
    if (address < kFirstAddress || address > kLastAddress) {
        throw std::out_of_range("indicator address " + std::to_string(address) + " outside 1..30");
    }
    return leds_[static_cast<size_t>(address)];
}

void ScanController::setLed(int16_t address, LedColour colour, std::string tooltip) {
    LedState& led = leds_[static_cast<size_t>(address)];
    if (led.colour == colour && led.tooltip == tooltip)
        return;
    led.colour = colour;
    led.tooltip = std::move(tooltip);
    if (hooks_.ledChanged)
        hooks_.ledChanged(address);
}

void ScanController::setText(TextLine line, std::string text) {
    std::string& target = line == TextLine::Address ? addressText_ : answerText_;
    if (target == text)
        return;
    target = std::move(text);
    if (hooks_.textChanged)
        hooks_.textChanged(line);
}

void ScanController::yield() {
    if (hooks_.yield)
        hooks_.yield();
}

bool ScanController::ScanIECBus() {
    // The scan yields to the user interface, which may ask for another scan: a second walk
    // of the bus inside the first would interleave both on the same device handles.
    if (scanning_)
        return false;
    const ScanningFlag running(scanning_);

    for (int a = 1; a < kTableSize; ++a)
        table_[static_cast<size_t>(a)].DeviceTyp = kTypeNothing;
    boardFailure_.clear();
    if (!chooseBoard())
        return true;

    // The bounds are taken once: a hook that changes them affects the next scan only.
    const int first = startTimeOut_;
    const int last = stopTimeOut_;
    for (int t = first; t <= last; ++t) {
        int16_t found = 0;
        for (int16_t a = kFirstAddress; a <= kLastAddress; ++a) {
            if (hooks_.stopRequested && hooks_.stopRequested()) {
                setText(TextLine::Address, "scan stopped");
                return true;
            }
            if (!scanAddress(a, t, found)) {
                // The board found by name gives no device handles: no address can answer.
                setText(TextLine::Address, "no GPIB card found!");
                boardId_ = -1;
                return true;
            }
        }
        setText(TextLine::Address, "move over LED to get more infos");
    }
    return true;
}

bool ScanController::chooseBoard() {
    std::array<int, kBoardCount> boards{};
    int present = 0;
    bus::DriverStatus firstBoard;
    for (int n = 0; n < kBoardCount; ++n) {
        boards[static_cast<size_t>(n)] = driver_.ibfind("GPIB" + std::to_string(n));
        if (n == 0)
            firstBoard = driver_.status();
        if (boards[static_cast<size_t>(n)] != -1)
            ++present;
    }
    if (present == 0) {
        // Board 0 is the one a bench is normally set up with: its error says the most.
        boardFailure_ = bus::boardFailureText(0, "ibfind", firstBoard);
        setText(TextLine::Address, "no GPIB card found!");
        boardId_ = -1;
        return false;
    }
    if (present == 1) {
        for (int n = 0; n < kBoardCount; ++n) {
            if (boards[static_cast<size_t>(n)] != -1) {
                boardId_ = static_cast<int16_t>(n);
                break;
            }
        }
        return true;
    }
    std::string list;
    for (int n = 0; n < kBoardCount; ++n) {
        if (boards[static_cast<size_t>(n)] == -1)
            continue;
        if (!list.empty())
            list += ',';
        list += "GPIB" + std::to_string(n);
    }
    // A cancelled box gives the empty entry, as OK on an empty field does.
    const std::string entered =
        ui_.inputBox("SELECT BOARD INDEX",
                     "Please enter board number (available boards: " + list + ")", "")
            .value_or(std::string());
    bool overflow = false;
    const int16_t n = bus::ParseInt16(entered, &overflow);
    if (overflow || n < 0 || n >= kBoardCount || boards[static_cast<size_t>(n)] == -1) {
        setText(TextLine::Address, "no valid board index selected!");
        boardId_ = -1;
        return false;
    }
    boardId_ = n;
    return true;
}

bool ScanController::byRecipe(int16_t a, int16_t& found) {
    const std::string& answer = table_[static_cast<size_t>(a)].IDAnswer;
    const std::string recipe = recipeFor_ ? recipeFor_(answer) : std::string();
    if (recipe.empty())
        return false;
    ++found;
    setLed(a, LedColour::Green, addr(a) + ": screen by recipe " + recipe);
    return true;
}

bool ScanController::scanAddress(int16_t a, int timeoutCode, int16_t& found) {
    DeviceRecord& e = table_[static_cast<size_t>(a)];
    const int b = boardId_;
    e.DeviceTyp = kTypeNothing;
    const std::string unknown = addr(a) + ": unknown device";
    setLed(a, LedColour::Red, unknown);
    yield();
    e.DeviceInfo = "-----";
    setText(TextLine::Address, "scanning adress " + twoDigits(a));
    yield();

    buffer_.assign(kReadSize, ' ');
    driver_.SendIFC(b);
    const int h = driver_.ibdev(b, a, kSecondaryAddress0, timeoutCode, 1, 0);
    if (h < 0) {
        boardFailure_ = bus::boardFailureText(b, "ibdev", driver_.status());
        return false;
    }
    driver_.ibsre(b, 0);
    driver_.SendIFC(b);
    driver_.ibwrt(h, kIdnQuery, 5);
    const bus::DriverStatus written = driver_.status();
    clock_.sleepMillis(kAddressPauseMillis);

    // iberr is only meaningful together with ERR: a driver may leave an old code there.
    const bool noListener =
        (written.ibsta & bus::ibsta_bits::ERR) != 0 && written.iberr == bus::iberr_codes::ENOL;
    if (!noListener) {
        driver_.ibrd(h, buffer_.data(), kReadSize);
        const size_t n = transferred(driver_.status(), kReadSize);
        std::fill(buffer_.begin() + static_cast<std::ptrdiff_t>(n), buffer_.end(), ' ');
        e.IDAnswer.assign(buffer_, 0, n);

        if (buffer_.find_first_not_of(' ') == std::string::npos) {
            setLed(a, LedColour::Red, addr(a) + ": no response to *IDN?");
        } else if (!IsMakerAnswer(buffer_)) {
            e.DeviceTyp = kTypeOtherMaker;
            if (!byRecipe(a, found))
                setLed(a, LedColour::Black, unknown);
            yield();
        } else {
            const std::string answer = DropManufacturer(buffer_, kReadSize);
            const int16_t before = found;
            std::string tooltip = unknown;
            for (const ModelProbe& probe : ModelProbes()) {
                if (RunProbe(probe, answer, a, e, tooltip))
                    ++found;
            }
            if (found == before + 1) {
                setLed(a, LedColour::Green, tooltip);
                if (e.OptionsSupported) {
                    driver_.ibwrt(h, kOptQuery, 5);
                    driver_.ibrd(h, buffer_.data(), kReadSize);
                    e.OptionList.assign(buffer_, 0, transferred(driver_.status(), kReadSize));
                }
                yield();
            } else if (found != before) {
                setLed(a, LedColour::Red, tooltip);  // the probes wrote the tooltip
            } else if (byRecipe(a, found)) {
                yield();
            }
        }
        setText(TextLine::Answer, FoundText(found));
    }
    driver_.ibloc(h);
    driver_.ibonl(h, 0);
    yield();
    return true;
}

}  // namespace benchcap::scanner
