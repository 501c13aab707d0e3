// The instruction loop over the bytes: instructions cut by the end of what has arrived
// wait for their rest, and whether bytes hold HP-GL at all.

#include <algorithm>
#include <cstddef>

#include "hardcopy/hpgl/interpreter_p.h"

namespace benchcap::hpgl::detail {
namespace {

bool isOutputInstruction(int m) {
    return (m >> 8) == 'O';
}

}  // namespace

// Streaming: whether the bytes so far hold all of the instruction just found (its
// parameters end at a separator ';', the next mnemonic or an escape; a label at its
// terminator). Output instructions need no terminator, as on the plotter.
bool Interpreter::complete(int m) {
    if (isOutputInstruction(m))
        return true;
    const std::string_view rest = reader_.bytes().substr(reader_.position());
    const size_t here = consumed_ + reader_.position();
    if (pending_.at != here)
        pending_ = {here, 0, false};
    Pending& p = pending_;
    auto waiting = [&] {
        p.scanned = rest.size();
        return false;
    };
    auto found = [&](char c) {
        if (rest.find(c, p.scanned) != std::string_view::npos)
            return true;
        return waiting();
    };
    if (m == mnemonic('L', 'B') || m == mnemonic('B', 'L'))
        return found(static_cast<char>(terminator_));
    if (m == mnemonic('P', 'E'))
        return found(';');
    // DT and SM take the byte after them whatever it is.
    size_t i = std::max<size_t>(p.scanned, m == mnemonic('D', 'T') || m == mnemonic('S', 'M'));
    for (; i < rest.size(); ++i) {
        const int c = static_cast<unsigned char>(rest[i]);
        if (p.quoted || c == '"') {
            const size_t end = rest.find('"', p.quoted ? i : i + 1);
            if (end == std::string_view::npos) {
                p.quoted = true;
                return waiting();
            }
            p.quoted = false;
            i = end;
            continue;
        }
        const bool parameter = (c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.' ||
                               c == ',' || c == ' ' || (c < 0x20 && c != 0x1B) || c == 0x7F;
        if (!parameter)
            return true;
    }
    return waiting();
}

void Interpreter::process() {
    while (!stop_ || streaming_) {
        const int m = reader_.next();
        if (m == 0)
            break;
        if (reader_.moreToCome() && !complete(m)) {
            reader_.seek(reader_.position() - 2);  // back before the mnemonic
            break;
        }
        ++plot_.instructions;
        last_ = m;
        if (instruction(m) || quietlyIgnored(m) || notDrawn(m))
            ++known_;
        dispatch(m);
    }
}

std::string Interpreter::feed(std::string_view bytes) {
    const size_t consumed = reader_.position();
    bytes_.erase(0, consumed);
    consumed_ += consumed;
    bytes_.append(bytes);
    reader_.rebind(bytes_, consumed, true);
    answer_.clear();
    process();
    return answer_;
}

}  // namespace benchcap::hpgl::detail

namespace benchcap::hpgl {

using detail::Interpreter;
using detail::kEtx;
using detail::mnemonic;
using detail::notDrawn;
using detail::quietlyIgnored;
using detail::Reader;

bool looksLikeHpgl(std::string_view bytes) {
    const std::string_view head = bytes.substr(0, 512);
    const auto isBinary = [](unsigned char c) {
        return (c < 0x20 && c != '\r' && c != '\n' && c != '\t' && c != 0x1B && c != kEtx &&
                c != 0 && c != '\f') ||
               c >= 0x80;
    };
    // By content first: the first instructions must be HP-GL mnemonics. Label text may hold
    // any byte (Latin-1 letters, backspaces for overstrike), so only the bytes outside the
    // labels that end within the head count against the rule that plotter output is text.
    Reader reader(head);
    int seen = 0;
    size_t labelBinary = 0;
    int terminator = kEtx;
    for (int m = reader.next(); m != 0; m = reader.next()) {
        if (seen < 3) {
            if (!(Interpreter::instruction(m) || quietlyIgnored(m) || notDrawn(m)))
                return false;
            ++seen;
        }
        if (m == mnemonic('L', 'B')) {
            const size_t from = reader.position();
            reader.skipTo(static_cast<char>(terminator));
            const std::string_view label = head.substr(from, reader.position() - from);
            if (!label.empty() && static_cast<unsigned char>(label.back()) == terminator)
                labelBinary += static_cast<size_t>(
                    std::count_if(label.begin(), label.end(), [&](char c) { return isBinary(c); }));
            continue;
        }
        if (m == mnemonic('D', 'T')) {
            const int b = reader.peek();
            terminator = b < 0 || b == ';' || b == 0 || b == 0x1B || b == '\n' ? kEtx : b;
        }
        reader.skipParameters();
    }
    const size_t binary = static_cast<size_t>(
        std::count_if(head.begin(), head.end(), [&](char c) { return isBinary(c); }));
    return seen > 0 && (binary - labelBinary) * 20 <= head.size();
}

}  // namespace benchcap::hpgl
