#include <QFontMetricsF>
#include <algorithm>
#include <cmath>

#include "hardcopy/picture/player_p.h"

namespace benchcap::picture::detail {
namespace {

// Windows-1252 characters 0x80 to 0x9F (0 where the code page has none).
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

// The Symbol font's encoding, 0x20 to 0x7F, as Unicode.
constexpr char16_t kSymbolLow[96] = {
    0x0020, 0x0021, 0x2200, 0x0023, 0x2203, 0x0025, 0x0026, 0x220B, 0x0028, 0x0029, 0x2217, 0x002B,
    0x002C, 0x2212, 0x002E, 0x002F, 0x0030, 0x0031, 0x0032, 0x0033, 0x0034, 0x0035, 0x0036, 0x0037,
    0x0038, 0x0039, 0x003A, 0x003B, 0x003C, 0x003D, 0x003E, 0x003F, 0x2245, 0x0391, 0x0392, 0x03A7,
    0x0394, 0x0395, 0x03A6, 0x0393, 0x0397, 0x0399, 0x03D1, 0x039A, 0x039B, 0x039C, 0x039D, 0x039F,
    0x03A0, 0x0398, 0x03A1, 0x03A3, 0x03A4, 0x03A5, 0x03C2, 0x03A9, 0x039E, 0x03A8, 0x0396, 0x005B,
    0x2234, 0x005D, 0x22A5, 0x005F, 0x203E, 0x03B1, 0x03B2, 0x03C7, 0x03B4, 0x03B5, 0x03C6, 0x03B3,
    0x03B7, 0x03B9, 0x03D5, 0x03BA, 0x03BB, 0x03BC, 0x03BD, 0x03BF, 0x03C0, 0x03B8, 0x03C1, 0x03C3,
    0x03C4, 0x03C5, 0x03D6, 0x03C9, 0x03BE, 0x03C8, 0x03B6, 0x007B, 0x007C, 0x007D, 0x223C, 0x0020};

// The Symbol font's encoding, 0xA0 to 0xFF (0: no equivalent, drawn as a space).
constexpr char16_t kSymbolHigh[96] = {
    0x20AC, 0x03D2, 0x2032, 0x2264, 0x2044, 0x221E, 0x0192, 0x2663, 0x2666, 0x2665, 0x2660, 0x2194,
    0x2190, 0x2191, 0x2192, 0x2193, 0x00B0, 0x00B1, 0x2033, 0x2265, 0x00D7, 0x221D, 0x2202, 0x2022,
    0x00F7, 0x2260, 0x2261, 0x2248, 0x2026, 0x23D0, 0x23AF, 0x21B5, 0x2135, 0x2111, 0x211C, 0x2118,
    0x2297, 0x2295, 0x2205, 0x2229, 0x222A, 0x2283, 0x2287, 0x2284, 0x2282, 0x2286, 0x2208, 0x2209,
    0x2220, 0x2207, 0x00AE, 0x00A9, 0x2122, 0x220F, 0x221A, 0x22C5, 0x00AC, 0x2227, 0x2228, 0x21D4,
    0x21D0, 0x21D1, 0x21D2, 0x21D3, 0x25CA, 0x2329, 0x00AE, 0x00A9, 0x2122, 0x2211, 0x239B, 0x239C,
    0x239D, 0x23A1, 0x23A2, 0x23A3, 0x23A7, 0x23A8, 0x23A9, 0x23AA, 0,      0x232A, 0x222B, 0x2320,
    0x23AE, 0x2321, 0x239E, 0x239F, 0x23A0, 0x23A4, 0x23A5, 0x23A6, 0x23AB, 0x23AC, 0x23AD, 0};

QFont::StyleHint styleHint(uint8_t pitchAndFamily) {
    switch (pitchAndFamily >> 4) {
        case 1:
            return QFont::Serif;
        case 2:
            return QFont::SansSerif;
        case 3:
            return QFont::TypeWriter;
        case 4:
            return QFont::Cursive;
        case 5:
            return QFont::Decorative;
        default:
            return QFont::AnyStyle;
    }
}

bool isSymbolFace(const std::string& face) {
    return QString::fromLatin1(face).compare(QStringLiteral("Symbol"), Qt::CaseInsensitive) == 0;
}

constexpr double kFontWork = 400000;

}  // namespace

QString Player::decodeText(std::string_view bytes) const {
    const bool symbol = isSymbolFace(dc_.font.face);
    QString text;
    text.reserve(static_cast<qsizetype>(bytes.size()));
    for (char ch : bytes) {
        const auto b = static_cast<unsigned char>(ch);
        char16_t u = b;
        if (symbol && b >= 0x20 && b < 0x80) {
            u = kSymbolLow[b - 0x20];
        } else if (symbol && b >= 0xA0) {
            u = kSymbolHigh[b - 0xA0] != 0 ? kSymbolHigh[b - 0xA0] : u' ';
        } else if (b >= 0x80 && b < 0xA0) {
            u = kCp1252High[b - 0x80] != 0 ? kCp1252High[b - 0x80] : u' ';
        } else if (b < 0x20) {
            u = u' ';
        }
        text.append(QChar(u));
    }
    return text;
}

bool Player::fontReady() {
    if (!fontDirty_)
        return fontPixels_ >= 0.5;
    fontDirty_ = false;
    // Finding and loading a font of a new face or size costs about as much as filling a
    // quarter of a 1024 x 768 picture.
    if (!afford(kFontWork)) {
        fontPixels_ = 0;
        return false;
    }
    const Font& f = dc_.font;
    // Height 0 asks for the default size; negative is the character height, positive the
    // cell height (character plus internal leading).
    double px = (f.height == 0 ? 12.0 : std::abs(static_cast<double>(f.height))) * scaleY();
    const double maxPx = std::clamp(2.0 * target_.height(), 64.0, 4096.0);
    QFont font(f.face.empty() ? QStringLiteral("Arial") : QString::fromLatin1(f.face));
    font.setStyleHint(styleHint(f.pitchAndFamily));
    if (haveFonts_ && f.height > 0) {
        font.setPixelSize(100);
        const double cell = QFontMetricsF(font).height();
        if (cell > 0)
            px *= 100.0 / cell;
    }
    fontPixels_ = std::min(px, maxPx);
    if (fontPixels_ < 0.5)
        return false;
    font.setPixelSize(std::max(1, static_cast<int>(std::lround(fontPixels_))));
    const int weight = f.weight <= 0 ? 400 : std::clamp((f.weight + 50) / 100 * 100, 100, 900);
    font.setWeight(static_cast<QFont::Weight>(weight));
    font.setItalic(f.italic);
    font.setUnderline(f.underline);
    font.setStrikeOut(f.strikeout);
    if (!haveFonts_) {
        fontAscent_ = 0.8 * fontPixels_;
        fontDescent_ = 0.2 * fontPixels_;
        return true;
    }
    double stretch = stretch_;
    if (f.width != 0) {
        const double average = QFontMetricsF(font).averageCharWidth();
        if (average > 0)
            stretch = std::abs(f.width) * scaleX() / average;
    }
    if (std::abs(stretch - 1.0) > 0.01) {
        font.setStretch(std::clamp(static_cast<int>(std::lround(100 * stretch)), 1, 4000));
    }
    qfont_ = font;
    const QFontMetricsF metrics(qfont_);
    fontAscent_ = metrics.ascent();
    fontDescent_ = metrics.descent();
    return true;
}

void Player::textOut(const Params& p) {
    const size_t count = p.u16(0);
    const size_t stringWords = (count + 1) / 2;
    if (!p.has(1 + stringWords + 2)) {
        warn("damaged record: text longer than the record");
        return;
    }
    const double y = p.i16(1 + stringWords);
    const double x = p.i16(2 + stringWords);
    drawText(x, y, p.bytes(2, count), {}, {}, 0, nullptr);
}

void Player::extTextOut(const Params& p) {
    const double y = p.i16(0);
    const double x = p.i16(1);
    size_t count = p.u16(2);
    const uint16_t options = p.u16(3);
    size_t at = 8;
    QRectF rect;
    const bool hasRect = (options & (wmf::ETO_OPAQUE | wmf::ETO_CLIPPED)) != 0;
    if (hasRect) {
        if (!p.has(8)) {
            warn("damaged record: text rectangle missing");
            return;
        }
        rect = mapRect(p.i16(4), p.i16(5), p.i16(6), p.i16(7));
        at = 16;
    }
    if (at + count > p.size()) {
        warn("damaged record: text longer than the record");
        count = p.size() - std::min(p.size(), at);
    }
    const std::string_view text = p.bytes(at, count);
    // Optional advances after the (word-aligned) text: dx, or dx/dy pairs with ETO_PDY.
    std::vector<double> dx;
    std::vector<double> dy;
    const size_t dxAt = at + ((count + 1) & ~size_t{1});
    const size_t step = (options & wmf::ETO_PDY) ? 2 : 1;
    if (count > 0 && dxAt / 2 + count * step <= p.words()) {
        dx.reserve(count);
        for (size_t i = 0; i < count; ++i) {
            dx.push_back(p.i16(dxAt / 2 + i * step));
            if (step == 2)
                dy.push_back(p.i16(dxAt / 2 + i * step + 1));
        }
    }
    drawText(x, y, text, dx, dy, options, hasRect ? &rect : nullptr);
}

Player::TextLayout Player::layoutText(double x, double y, std::string_view bytes,
                                      const std::vector<double>& dx) {
    const uint16_t align = dc_.textAlign;
    const bool updateCp = (align & wmf::TA_UPDATECP) != 0;
    const QPointF ref = updateCp ? dc_.position : QPointF(x, y);
    TextLayout t;
    t.anchor = map(ref.x(), ref.y());
    t.visible = fontReady();
    t.text = decodeText(bytes);
    const double extra = dc_.charExtra * scaleX();

    // Character positions along the baseline, in device pixels.
    t.pos.assign(static_cast<size_t>(t.text.size()) + 1, 0.0);
    t.perChar = !dx.empty() || dc_.charExtra != 0 || !haveFonts_;
    std::optional<QFontMetricsF> metrics;
    if (haveFonts_ && t.visible)
        metrics.emplace(qfont_);
    for (qsizetype i = 0; i < t.text.size(); ++i) {
        double advance = 0;
        if (!dx.empty()) {
            advance = dx[static_cast<size_t>(i)] * scaleX();
        } else if (metrics) {
            advance = metrics->horizontalAdvance(t.text[i]) + extra;
        } else {
            advance = 0.55 * fontPixels_ + extra;
        }
        t.pos[static_cast<size_t>(i) + 1] = t.pos[static_cast<size_t>(i)] + advance;
    }
    t.width = t.pos.back();
    if (dx.empty() && metrics && dc_.charExtra == 0)
        t.width = metrics->horizontalAdvance(t.text);

    if ((align & wmf::TA_HORZ_MASK) == wmf::TA_CENTER) {
        t.x0 = -t.width / 2;
    } else if ((align & wmf::TA_HORZ_MASK) == wmf::TA_RIGHT) {
        t.x0 = -t.width;
    }
    t.baseline = fontAscent_;
    if ((align & wmf::TA_VERT_MASK) == wmf::TA_BASELINE) {
        t.baseline = 0;
    } else if ((align & wmf::TA_VERT_MASK) == wmf::TA_BOTTOM) {
        t.baseline = -fontDescent_;
    }
    if (updateCp) {
        const double move = (align & wmf::TA_HORZ_MASK) == wmf::TA_CENTER  ? 0
                            : (align & wmf::TA_HORZ_MASK) == wmf::TA_RIGHT ? -t.width
                                                                           : t.width;
        dc_.position.rx() += scaleX() > 0 ? move / scaleX() : 0;
    }
    return t;
}

void Player::drawText(double x, double y, std::string_view bytes, const std::vector<double>& dx,
                      const std::vector<double>& dy, uint16_t options, const QRectF* rect) {
    const TextLayout t = layoutText(x, y, bytes, dx);
    const QRectF box(t.anchor.x() + t.x0, t.anchor.y() + t.baseline - fontAscent_, t.width,
                     fontAscent_ + fontDescent_);
    if (measure(rect ? box.united(*rect) : box))
        return;
    // Each character is laid out and its glyph drawn (up to the whole target); the
    // background boxes are fills.
    const double glyph = std::min(fontPixels_ * fontPixels_, clippedArea(target_)) + 64;
    double cost = static_cast<double>(t.text.size()) * glyph;
    if (rect)
        cost += fillCost(*rect);
    if (dc_.bkMode == wmf::OPAQUE)
        cost += fillCost(box);
    if (!afford(cost))
        return;
    if (!haveFonts_) {
        warn("text not drawn: fonts need a QGuiApplication");
        return;
    }
    paintText(t, dy, options, rect);
}

void Player::paintText(const TextLayout& t, const std::vector<double>& dy, uint16_t options,
                       const QRectF* rect) {
    painter_->save();
    painter_->setCompositionMode(QPainter::CompositionMode_SourceOver);
    if (rect && (options & wmf::ETO_OPAQUE))
        painter_->fillRect(*rect, dc_.bkColour);
    if (rect && (options & wmf::ETO_CLIPPED))
        painter_->setClipRect(*rect, Qt::IntersectClip);
    if (t.visible && !t.text.isEmpty()) {
        painter_->translate(t.anchor);
        if (dc_.font.escapement != 0)
            painter_->rotate(-dc_.font.escapement / 10.0);
        if (dc_.bkMode == wmf::OPAQUE) {
            painter_->fillRect(
                QRectF(t.x0, t.baseline - fontAscent_, t.width, fontAscent_ + fontDescent_),
                dc_.bkColour);
        }
        painter_->setFont(qfont_);
        painter_->setPen(dc_.textColour);
        if (!t.perChar) {
            painter_->drawText(QPointF(t.x0, t.baseline), t.text);
        } else {
            double yOffset = 0;
            for (qsizetype i = 0; i < t.text.size(); ++i) {
                painter_->drawText(
                    QPointF(t.x0 + t.pos[static_cast<size_t>(i)], t.baseline + yOffset),
                    QString(t.text[i]));
                if (static_cast<size_t>(i) < dy.size())
                    yOffset += dy[static_cast<size_t>(i)] * ay_;
            }
        }
    }
    painter_->restore();
}

}  // namespace benchcap::picture::detail
