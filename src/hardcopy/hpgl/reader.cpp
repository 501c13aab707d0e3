#include <algorithm>
#include <cmath>

#include "hardcopy/hpgl/reader_p.h"

namespace benchcap::hpgl::detail {
namespace {

constexpr int kEsc = 0x1B;

bool isLetter(int c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}
bool isDigit(int c) {
    return c >= '0' && c <= '9';
}
int upper(int c) {
    return (c >= 'a' && c <= 'z') ? c - 'a' + 'A' : c;
}

}  // namespace

int Reader::next() {
    while (pos_ < bytes_.size()) {
        const int c = peek();
        if (c == kEsc) {
            if (more_ && escapeCut())
                return 0;
            escape();
            continue;
        }
        if (pclMode_) {
            ++pos_;
            ++pcl_;
            continue;
        }
        if (more_ && isLetter(c) && pos_ + 1 == bytes_.size())
            return 0;  // the second letter is still on its way
        if (isLetter(c) && pos_ + 1 < bytes_.size()) {
            const int d = static_cast<unsigned char>(bytes_[pos_ + 1]);
            if (isLetter(d)) {
                pos_ += 2;
                return mnemonic(static_cast<char>(upper(c)), static_cast<char>(upper(d)));
            }
        }
        // Separators, blanks, line ends, NUL, ETX and form feeds are normal between
        // instructions; anything else is junk worth a warning.
        if (!(c == ';' || c == ' ' || c == ',' || c < 0x20 || c == 0x7F))
            ++junk_;
        ++pos_;
    }
    return 0;
}

// An escape sequence the bytes so far may end inside: nothing after the ESC that could end
// one (a letter or the ':' of a device control) yet. Sequences are short: past 64 bytes
// the escape is taken as it stands, so a stream of junk after an ESC is not scanned again
// with every piece.
bool Reader::escapeCut() const {
    const size_t end = std::min(bytes_.size(), pos_ + 64);
    if (end == pos_ + 64)
        return false;
    for (size_t i = pos_ + 2; i < end; ++i) {
        const int c = static_cast<unsigned char>(bytes_[i]);
        if ((c >= 0x40 && c <= 0x7E) || c == ':')
            return false;
    }
    return true;
}

void Reader::skipSeparators() {
    while (pos_ < bytes_.size()) {
        const int c = peek();
        if (c == ' ' || c == ',' || (c < 0x20 && c != kEsc) || c == 0x7F)
            ++pos_;
        else
            break;
    }
}

bool Reader::number(double& value) {
    for (;;) {
        skipSeparators();
        const int c = peek();
        if (!(isDigit(c) || c == '+' || c == '-' || c == '.'))
            return false;
        double sign = 1;
        if (c == '+' || c == '-') {
            sign = c == '-' ? -1 : 1;
            ++pos_;
        }
        double v = 0;
        bool digits = false;
        while (isDigit(peek())) {
            v = v * 10 + (peek() - '0');
            digits = true;
            ++pos_;
        }
        if (peek() == '.') {
            ++pos_;
            double scale = 0.1;
            while (isDigit(peek())) {
                v += (peek() - '0') * scale;
                scale *= 0.1;
                digits = true;
                ++pos_;
            }
        }
        if (!digits)
            continue;  // a lone sign or point: junk between parameters
        if (!std::isfinite(v) || v > kNumberLimit) {
            v = kNumberLimit;
            ++clamped_;
        }
        value = sign * v;
        return true;
    }
}

bool Reader::integer(int& value, int lo, int hi) {
    double v = 0;
    if (!number(v))
        return false;
    v = std::round(v);
    value = v < lo ? lo : v > hi ? hi : static_cast<int>(v);
    return true;
}

void Reader::skipParameters() {
    while (pos_ < bytes_.size()) {
        const int c = peek();
        if (c == ';') {
            ++pos_;
            return;
        }
        if (isLetter(c) || c == kEsc)
            return;
        if (c == '"') {
            // Quoted text (BP, CO): to the closing quote.
            const size_t end = bytes_.find('"', pos_ + 1);
            pos_ = end == std::string_view::npos ? bytes_.size() : end + 1;
            continue;
        }
        if (!(isDigit(c) || c == '+' || c == '-' || c == '.' || c == ',' || c == ' ' || c < 0x20 ||
              c == 0x7F))
            ++junk_;
        ++pos_;
    }
}

void Reader::skipTo(char terminator) {
    const size_t end = bytes_.find(terminator, pos_);
    pos_ = end == std::string_view::npos ? bytes_.size() : end + 1;
}

// ESC sequences: HP 7475A device control `ESC . x [params] [:]`, and PCL in its
// general form `ESC c1 [group] (value letter)*` where a lower-case letter continues
// the sequence and an upper-case one ends it. `ESC%#B` enters HP-GL/2, `ESC%#A`,
// `ESC E` and the universal exit `ESC%-12345X` leave it. Data-carrying PCL sequences
// (`...W`, `ESC&p#X`) have their bytes skipped.
void Reader::escape() {
    ++pos_;  // ESC
    if (pos_ >= bytes_.size())
        return;
    const int c1 = peek();
    if (c1 == '.') {
        pos_ += 2;  // ESC . x
        while (isDigit(peek()) || peek() == ';')
            ++pos_;
        if (peek() == ':')
            ++pos_;
        return;
    }
    if (c1 == 'E') {
        ++pos_;
        pclMode_ = true;
        return;
    }
    if (c1 < 0x21 || c1 > 0x2F) {
        // Two-character escape or junk: the ESC alone is dropped.
        if (c1 >= 0x30 && c1 <= 0x7E)
            ++pos_;
        return;
    }
    ++pos_;
    if (peek() >= 0x60 && peek() <= 0x7E)
        ++pos_;  // group character
    for (int parts = 0; parts < 64 && pos_ < bytes_.size(); ++parts) {
        double value = 0;
        bool negative = false;
        if (peek() == '+' || peek() == '-') {
            negative = peek() == '-';
            ++pos_;
        }
        while (isDigit(peek()) || peek() == '.') {
            if (isDigit(peek()) && value < 1e9)
                value = value * 10 + (peek() - '0');
            ++pos_;
        }
        const int t = peek();
        if (t < 0x40 || t > 0x7E)
            return;  // not a PCL sequence after all
        ++pos_;
        const int T = upper(t);
        if (c1 == '%' && (T == 'B' || T == 'A')) {
            pclMode_ = T == 'A';
        } else if (c1 == '%' && T == 'X') {
            pclMode_ = true;  // universal exit: PJL or PCL follows
        } else if (T == 'W' || (c1 == '&' && T == 'X')) {
            const size_t n = negative ? 0 : static_cast<size_t>(value);
            pos_ = n > bytes_.size() - pos_ ? bytes_.size() : pos_ + n;
        }
        if (t >= 0x40 && t <= 0x5E)
            return;  // upper case ends the sequence
    }
}

}  // namespace benchcap::hpgl::detail
