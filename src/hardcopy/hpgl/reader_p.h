#pragma once

// The byte level of HP-GL: finds the instructions among separators, blanks, device
// control escapes (HP 7475A `ESC.`), PCL wrappers (`ESC%0B` ... `ESC%0A`) and junk,
// and hands out their parameters one at a time, so that a million-point PA needs no
// buffer of its own.

#include <cstddef>
#include <string_view>

namespace benchcap::hpgl::detail {

// Largest magnitude of a parameter (the HP-GL/2 number range); larger ones are clamped.
inline constexpr double kNumberLimit = 1073741823.0;

class Reader {
  public:
    explicit Reader(std::string_view bytes) : bytes_(bytes) {}

    // Fed as the bytes arrive: the same bytes, grown or with a consumed start cut off
    // (`consumed` bytes fewer in front). With `moreToCome`, next() stops before a
    // mnemonic or escape sequence that the bytes so far end inside.
    void rebind(std::string_view bytes, size_t consumed, bool moreToCome) {
        bytes_ = bytes;
        pos_ = pos_ >= consumed ? pos_ - consumed : 0;
        more_ = moreToCome;
    }
    bool moreToCome() const { return more_; }

    // Moves to the next instruction and returns its two-letter mnemonic in upper case
    // (e.g. 'P' << 8 | 'A'), or 0 at the end of the bytes.
    int next();

    // The next numeric parameter of the current instruction; false when the
    // instruction has no more.
    bool number(double& value);
    // Like number(), as a whole number in [lo, hi].
    bool integer(int& value, int lo, int hi);

    // Raw access for instructions whose parameter is text (LB, DT, SM).
    int peek() const {
        return pos_ < bytes_.size() ? static_cast<unsigned char>(bytes_[pos_]) : -1;
    }
    void advance() { ++pos_; }
    size_t position() const { return pos_; }
    std::string_view bytes() const { return bytes_; }
    void seek(size_t pos) { pos_ = pos < bytes_.size() ? pos : bytes_.size(); }

    // Skips what is left of the current instruction's parameters.
    void skipParameters();
    // Skips past the next `terminator` (or to the end).
    void skipTo(char terminator);

    size_t junkBytes() const { return junk_; }
    size_t clampedNumbers() const { return clamped_; }
    size_t pclBytes() const { return pcl_; }

  private:
    void escape();
    bool escapeCut() const;
    void skipSeparators();

    std::string_view bytes_;
    size_t pos_ = 0;
    bool more_ = false;     // the bytes end where the sender paused, not for good
    bool pclMode_ = false;  // between ESC%#A and ESC%#B the bytes are PCL, not HP-GL
    size_t junk_ = 0;
    size_t clamped_ = 0;
    size_t pcl_ = 0;
};

constexpr int mnemonic(char a, char b) {
    return (static_cast<unsigned char>(a) << 8) | static_cast<unsigned char>(b);
}

}  // namespace benchcap::hpgl::detail
