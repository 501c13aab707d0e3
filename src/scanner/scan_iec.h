#pragma once

// The bus scan: the part of the scanner panel that walks bus addresses 1 to 30, asks every
// listener for its identity, recognises the maker's models and keeps the outcome per
// address. The panel widget and benchcap-cli both show this object's state (indicators and
// the two text lines) and follow it through the change hooks; nothing here knows Qt.

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "bus/clock.h"
#include "bus/gpib_driver.h"
#include "bus/user_interface.h"
#include "scanner/model_probes.h"

namespace benchcap::scanner {

// Colour of an address indicator. None: never scanned, the window background colour.
enum class LedColour { None, Red, Black, Green };

// "none", "red", "black", "green".
const char* LedColourName(LedColour colour);

struct LedState {
    LedColour colour = LedColour::None;
    std::string tooltip;
};

enum class TextLine { Address, Answer };

// Hooks the owner installs; each may be empty. They run on the scanning thread, in the
// middle of the scan, after the state they report has changed.
struct ScanHooks {
    std::function<void(int16_t address)> ledChanged;  // colour or tooltip of one indicator
    std::function<void(TextLine line)> textChanged;   // one of the two text lines
    // Lets the user interface run (repaint, hover texts, clicks), where the scan yields.
    std::function<void()> yield;
    // Asked before each address: true ends the scan there ("scan stopped"); the addresses
    // not yet judged show nothing found.
    std::function<bool()> stopRequested;
};

class ScanController {
  public:
    static constexpr int kFirstAddress = 1;
    static constexpr int kLastAddress = 30;
    static constexpr int kTableSize = 32;  // entries 0 to 31; only 1 to 30 are scanned
    static constexpr int kReadSize = 1000;
    static constexpr int64_t kAddressPauseMillis = 50;

    ScanController(bus::GpibDriver& driver, bus::Clock& clock, bus::UserInterface& ui);

    // Not to be called from inside a hook: it would replace the function that runs.
    void setHooks(ScanHooks hooks) { hooks_ = std::move(hooks); }
    // The name of the screenshot recipe that takes an identification's picture, empty when
    // none does: an instrument the maker's models do not cover but a recipe does shows as
    // known ("screen by recipe NAME"). None by default.
    void setRecipeLookup(std::function<std::string(std::string_view idnAnswer)> lookup) {
        recipeFor_ = std::move(lookup);
    }

    int16_t StartTimeOut() const { return startTimeOut_; }
    void setStartTimeOut(int16_t code) { startTimeOut_ = code; }
    int16_t StopTimeOut() const { return stopTimeOut_; }
    void setStopTimeOut(int16_t code) { stopTimeOut_ = code; }

    // Per-address results; `address` must lie in 0..31 (std::out_of_range otherwise).
    const std::string& IDAnswer(int16_t address) const { return entry(address).IDAnswer; }
    const std::string& OptionList(int16_t address) const { return entry(address).OptionList; }
    int32_t deviceType(int16_t address) const { return entry(address).DeviceTyp; }
    const std::string& DeviceInfo(int16_t address) const { return entry(address).DeviceInfo; }
    const DeviceRecord& entry(int16_t address) const;
    // Board index the last scan used, -1 when it found no usable board, 0 before any scan.
    int16_t BoardID() const { return boardId_; }
    // Why the last scan found no usable board, when the driver said so (a line from
    // bus::boardFailureText); empty otherwise, also when the user chose no board.
    const std::string& boardFailure() const { return boardFailure_; }

    // Runs one complete scan: one pass over addresses 1 to 30 for every time-out code from
    // StartTimeOut to StopTimeOut. A call made while a scan runs (from a hook, through the
    // user interface) is ignored and returns false at once; the running scan goes on.
    bool ScanIECBus();
    // True while ScanIECBus runs (other bus commands wait for it).
    bool isScanning() const { return scanning_; }

    // Indicator of `address` 1..30 (std::out_of_range otherwise) and the two text lines.
    const LedState& led(int16_t address) const;
    const std::string& addressText() const { return addressText_; }
    const std::string& answerText() const { return answerText_; }
    // Sets a text line; the panel's hover texts go through here as the scan's do, so every
    // view shows the same two lines.
    void setText(TextLine line, std::string text);

  private:
    bool chooseBoard();
    // False when the board gave no device handle for the address (nothing was sent).
    bool scanAddress(int16_t address, int timeoutCode, int16_t& found);
    // Shows `address` as known by its recipe when one takes the answer in the buffer.
    bool byRecipe(int16_t address, int16_t& found);
    void setLed(int16_t address, LedColour colour, std::string tooltip);
    void yield();

    bus::GpibDriver& driver_;
    bus::Clock& clock_;
    bus::UserInterface& ui_;
    ScanHooks hooks_;
    std::function<std::string(std::string_view)> recipeFor_;

    int16_t startTimeOut_ = bus::timeout_codes::T1s;
    int16_t stopTimeOut_ = bus::timeout_codes::T3s;
    int16_t boardId_ = 0;
    std::string boardFailure_;
    std::array<DeviceRecord, kTableSize> table_{};
    std::array<LedState, kLastAddress + 1> leds_{};  // index 0 unused
    std::string addressText_ = "00";
    std::string answerText_ = "---";
    bool scanning_ = false;
    std::string buffer_;  // the read buffer, kReadSize bytes
};

// The maker test of an identification answer: its first three characters, stripped of
// blanks, are "VEL" in any case.
bool IsMakerAnswer(std::string_view answer);

// The identification answer without its manufacturer field (everything after the first
// comma, the whole answer without one), blank-padded to `width` characters.
std::string DropManufacturer(std::string_view answer, size_t width);

// The text of the Answer line for a count of recognised instruments.
std::string FoundText(int count);

}  // namespace benchcap::scanner
