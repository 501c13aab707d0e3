#include "bus/log/bus_log_format.h"

#include <algorithm>
#include <new>

#include <openssl/evp.h>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <exception>

namespace benchcap::bus::log {

namespace {

constexpr const char* kStaNames[16] = {"ERR",   "TIMO", "END",  "SRQI", "RQS", "SPOLL",
                                       "EVENT", "CMPL", "LOK",  "REM",  "CIC", "ATN",
                                       "TACS",  "LACS", "DTAS", "DCAS"};

constexpr std::pair<int, const char*> kErrNames[] = {
    {0, "EDVR"},  {1, "ECIC"},  {2, "ENOL"},  {3, "EADR"},  {4, "EARG"},  {5, "ESAC"},
    {6, "EABO"},  {7, "ENEB"},  {8, "EDMA"},  {10, "EOIP"}, {11, "ECAP"}, {12, "EFSO"},
    {14, "EBUS"}, {15, "ESTB"}, {16, "ESRQ"}, {20, "ETAB"}};

bool plain(unsigned char c) {
    return c >= 0x20 && c < 0x7f && c != '\\' && c != '"';
}

// The escaped form of every byte, built once: escaping is a table look-up and one 4-byte
// copy per byte, fast enough for megabyte blocks in a full-data log.
struct EscapeTable {
    char text[256][4];
    unsigned char length[256];
    EscapeTable() {
        static constexpr char kHex[] = "0123456789abcdef";
        for (int c = 0; c < 256; ++c) {
            char* t = text[c];
            const char named = c == '\\'   ? '\\'
                               : c == '"'  ? '"'
                               : c == '\r' ? 'r'
                               : c == '\n' ? 'n'
                               : c == '\t' ? 't'
                                           : 0;
            if (plain(static_cast<unsigned char>(c))) {
                t[0] = static_cast<char>(c);
                length[c] = 1;
            } else if (named) {
                t[0] = '\\', t[1] = named;
                length[c] = 2;
            } else {
                t[0] = '\\', t[1] = 'x', t[2] = kHex[c >> 4], t[3] = kHex[c & 15];
                length[c] = 4;
            }
        }
    }
};
const EscapeTable kEscapes;

inline char* escapeInto(char* out, unsigned char c) {
    std::memcpy(out, kEscapes.text[c], 4);
    return out + kEscapes.length[c];
}

}  // namespace

void writeEscaped(std::FILE* out, std::string_view bytes) {
    char buffer[16 * 1024];
    char* end = buffer;
    for (const char byte : bytes) {
        if (end > buffer + sizeof buffer - 4) {
            std::fwrite(buffer, 1, static_cast<size_t>(end - buffer), out);
            end = buffer;
        }
        end = escapeInto(end, static_cast<unsigned char>(byte));
    }
    std::fwrite(buffer, 1, static_cast<size_t>(end - buffer), out);
}

namespace {

template <class T>
std::optional<T> number(std::string_view text) {
    T value{};
    const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || ptr != text.data() + text.size() || text.empty())
        return std::nullopt;
    return value;
}

std::string quotedBody(const std::string& value, bool& ok) {
    ok = value.size() >= 2 && value.front() == '"' && value.back() == '"';
    return ok ? value.substr(1, value.size() - 2) : std::string();
}

std::string lineError(long line, const std::string& what) {
    return "bus log line " + std::to_string(line) + ": " + what;
}

}  // namespace

Sha256::Sha256() : context_(EVP_MD_CTX_new(), &EVP_MD_CTX_free) {
    if (!context_ || EVP_DigestInit_ex(context_.get(), EVP_sha256(), nullptr) != 1)
        throw std::bad_alloc();
}

void Sha256::add(const void* data, size_t size) {
    EVP_DigestUpdate(context_.get(), data, size);
}

std::string Sha256::hex() {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_DigestFinal_ex(context_.get(), digest, &length);
    static constexpr char kHex[] = "0123456789abcdef";
    std::string text;
    for (unsigned int i = 0; i < length; ++i) {
        text += kHex[digest[i] >> 4];
        text += kHex[digest[i] & 15];
    }
    return text;
}

std::string escapeBytes(std::string_view bytes) {
    std::string text(bytes.size() * 4, '\0');
    char* end = text.data();
    for (const char byte : bytes)
        end = escapeInto(end, static_cast<unsigned char>(byte));
    text.resize(static_cast<size_t>(end - text.data()));
    return text;
}

std::optional<std::string> unescapeBytes(std::string_view text) {
    std::string bytes;
    bytes.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            bytes += text[i];
            continue;
        }
        if (++i == text.size())
            return std::nullopt;
        switch (text[i]) {
            case '\\':
                bytes += '\\';
                break;
            case '"':
                bytes += '"';
                break;
            case 'r':
                bytes += '\r';
                break;
            case 'n':
                bytes += '\n';
                break;
            case 't':
                bytes += '\t';
                break;
            case 'x': {
                if (i + 2 >= text.size())
                    return std::nullopt;
                unsigned value = 0;
                const auto [ptr, ec] =
                    std::from_chars(text.data() + i + 1, text.data() + i + 3, value, 16);
                if (ec != std::errc() || ptr != text.data() + i + 3)
                    return std::nullopt;
                bytes += static_cast<char>(value);
                i += 2;
                break;
            }
            default:
                return std::nullopt;
        }
    }
    return bytes;
}

std::string staNames(int sta) {
    std::string text;
    for (int bit = 0; bit < 16; ++bit) {
        if (sta & (0x8000 >> bit)) {
            if (!text.empty())
                text += '|';
            text += kStaNames[bit];
        }
    }
    return text.empty() ? "0" : text;
}

std::optional<int> staFromNames(std::string_view text) {
    if (text == "0")
        return 0;
    int sta = 0;
    while (!text.empty()) {
        const size_t bar = text.find('|');
        const std::string_view name = text.substr(0, bar);
        const auto* found = std::find(std::begin(kStaNames), std::end(kStaNames), name);
        if (found == std::end(kStaNames))
            return std::nullopt;
        sta |= 0x8000 >> (found - std::begin(kStaNames));
        if (bar == std::string_view::npos)
            break;
        text.remove_prefix(bar + 1);
        if (text.empty())
            return std::nullopt;
    }
    return sta;
}

std::string errName(int iberr, int sta) {
    if (iberr == 0 && !(sta & ibsta_bits::ERR))
        return "-";
    for (const auto& [code, name] : kErrNames)
        if (code == iberr)
            return name;
    return std::to_string(iberr);
}

std::optional<int> errFromName(std::string_view text) {
    if (text == "-")
        return 0;
    for (const auto& [code, name] : kErrNames)
        if (text == name)
            return code;
    return number<int>(text);
}

void writeData(std::FILE* out, std::string_view bytes, bool full) {
    if (full || bytes.size() <= kShortBlock) {
        std::fputs(" data=\"", out);
        writeEscaped(out, bytes);
        std::fputc('"', out);
        return;
    }
    Sha256 hash;
    hash.add(bytes.data(), bytes.size());
    std::fprintf(out, " len=%zu head=\"", bytes.size());
    writeEscaped(out, bytes.substr(0, kBlockEdge));
    std::fputs("\" tail=\"", out);
    writeEscaped(out, bytes.substr(bytes.size() - kBlockEdge));
    std::fprintf(out, "\" sha256=%s", hash.hex().c_str());
}

std::string dataText(std::string_view bytes, bool full) {
    if (full || bytes.size() <= kShortBlock)
        return " data=\"" + escapeBytes(bytes) + '"';
    Sha256 hash;
    hash.add(bytes.data(), bytes.size());
    return " len=" + std::to_string(bytes.size()) + " head=\"" +
           escapeBytes(bytes.substr(0, kBlockEdge)) + "\" tail=\"" +
           escapeBytes(bytes.substr(bytes.size() - kBlockEdge)) + "\" sha256=" + hash.hex();
}

std::optional<std::vector<std::pair<std::string, std::string>>> splitFields(std::string_view line) {
    std::vector<std::pair<std::string, std::string>> fields;
    size_t i = 0;
    while (i < line.size()) {
        if (line[i] == ' ') {
            ++i;
            continue;
        }
        const size_t start = i;
        while (i < line.size() && line[i] != ' ' && line[i] != '=')
            ++i;
        std::string key(line.substr(start, i - start));
        if (i == line.size() || line[i] == ' ') {
            fields.emplace_back(std::move(key), std::string());
            continue;
        }
        ++i;  // '='
        const size_t valueStart = i;
        if (i < line.size() && line[i] == '"') {
            for (++i; i < line.size() && line[i] != '"'; ++i)
                if (line[i] == '\\')
                    ++i;
            if (i >= line.size())
                return std::nullopt;  // no closing quote
            ++i;
        } else {
            while (i < line.size() && line[i] != ' ')
                ++i;
        }
        fields.emplace_back(std::move(key), std::string(line.substr(valueStart, i - valueStart)));
    }
    return fields;
}

std::string Record::identity() const {
    std::string text = call;
    for (const auto& [key, value] : given)
        if (key != "file")
            text += ' ' + key + '=' + value;
    return text;
}

std::optional<std::string> Record::givenValue(std::string_view key) const {
    for (const auto& [k, v] : given)
        if (k == key)
            return v;
    return std::nullopt;
}

Result<Record> parseRecord(std::string_view line, long lineNumber) {
    auto fields = splitFields(line);
    if (!fields)
        return fail(lineError(lineNumber, "a quoted text has no closing quote"));
    Record r;
    r.line = lineNumber;
    auto& f = *fields;
    if (f.size() < 4 || f[0].first != "t" || f[1].first != "dt" || !number<int64_t>(f[0].second) ||
        !number<int64_t>(f[1].second) || !f[2].second.empty())
        return fail(lineError(lineNumber, "not a call: expected t=MICROS dt=MICROS CALL ..."));
    r.time = *number<int64_t>(f[0].second);
    r.duration = *number<int64_t>(f[1].second);
    r.call = f[2].first;
    size_t i = 3;
    for (; i < f.size() && f[i].first != "->"; ++i)
        r.given.push_back(f[i]);
    if (i == f.size())
        return fail(lineError(lineNumber, "the call has no result (\"->\" missing)"));
    bool haveRet = false, haveSta = false, haveErr = false, haveCnt = false;
    std::optional<int64_t> length;
    std::optional<std::string> head;
    for (++i; i < f.size(); ++i) {
        const auto& [key, value] = f[i];
        bool ok = true;
        if (key == "ret") {
            const auto v = number<int>(value);
            ok = haveRet = v.has_value();
            r.result = v.value_or(0);
        } else if (key == "sta") {
            const auto v = staFromNames(value);
            ok = haveSta = v.has_value();
            r.status.ibsta = LongToInt16(v.value_or(0));
        } else if (key == "err") {
            const auto v = errFromName(value);
            ok = haveErr = v.has_value();
            r.status.iberr = static_cast<int16_t>(v.value_or(0));
        } else if (key == "cnt") {
            const auto v = number<int32_t>(value);
            ok = haveCnt = v.has_value() && *v >= 0;
            r.status.ibcntl = v.value_or(0);
            r.status.ibcnt = LongToInt16(r.status.ibcntl);
        } else if (key == "value") {
            r.value = number<int>(value);
            ok = r.value.has_value();
        } else if (key == "data") {
            std::string body = quotedBody(value, ok);
            std::optional<std::string> bytes = ok ? unescapeBytes(body) : std::nullopt;
            ok = bytes.has_value();
            r.hasData = true;
            r.data = std::move(bytes).value_or("");
            r.length = static_cast<int64_t>(r.data.size());
        } else if (key == "len") {
            length = number<int64_t>(value);
            ok = length && *length > static_cast<int64_t>(kShortBlock);
        } else if (key == "head" || key == "tail") {
            std::string body = quotedBody(value, ok);
            ok = ok && unescapeBytes(body).has_value();
            if (key == "head")
                head = body;
        } else if (key == "sha256") {
            ok = value.size() == 64 &&
                 value.find_first_not_of("0123456789abcdef") == std::string::npos;
            r.sha256 = value;
        } else {
            ok = false;
        }
        if (!ok)
            return fail(lineError(lineNumber, "bad field '" + key + "=" + value.substr(0, 40) +
                                                  (value.size() > 40 ? "...'" : "'")));
    }
    if (!haveRet || !haveSta || !haveErr || !haveCnt)
        return fail(lineError(lineNumber, "the result needs ret, sta, err and cnt"));
    if (length) {
        if (r.hasData || r.sha256.empty() || !head)
            return fail(lineError(lineNumber,
                                  "a shortened block needs len, head, tail and "
                                  "sha256, and no data"));
        r.hasData = true;
        r.fullData = false;
        r.length = *length;
    }
    // ibrdf's data is the file it wrote, which a failed write leaves short of the count.
    if (r.hasData && r.call != "ibrdf" && r.length != r.status.ibcntl)
        return fail(lineError(lineNumber, "the data holds " + std::to_string(r.length) +
                                              " bytes, but cnt says " +
                                              std::to_string(r.status.ibcntl)));
    return r;
}

bool LogReader::readLine(std::string& line, bool& tooLong) {
    line.clear();
    tooLong = false;
    std::streambuf* buffer = in_.rdbuf();
    for (;;) {
        const int c = buffer->sbumpc();
        if (c == std::char_traits<char>::eof())
            return !line.empty() || tooLong;
        if (c == '\n')
            return true;
        if (line.size() >= kMaxLineBytes) {
            tooLong = true;  // skip the rest of it, keeping nothing
            continue;
        }
        line += static_cast<char>(c);
    }
}

Result<std::optional<Record>> LogReader::next() {
    std::string line;
    bool tooLong = false;
    for (;;) {
        // A file stream throws from a read error (a failing disk, a file pulled away).
        try {
            errno = 0;
            if (!readLine(line, tooLong))
                return std::optional<Record>();
        } catch (const std::exception& e) {
            return fail(lineError(line_ + 1, std::string("the log cannot be read: ") +
                                                 (errno ? std::strerror(errno) : e.what())));
        }
        ++line_;
        if (tooLong) {
            return fail(lineError(line_, "the line is longer than " +
                                             std::to_string(kMaxLineBytes >> 20) +
                                             " MiB; the log is damaged"));
        }
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.empty() || line[0] == '#')
            continue;
        Result<Record> record = parseRecord(line, line_);
        if (!record)
            return fail(record.error());
        return std::optional<Record>(std::move(record.value()));
    }
}

}  // namespace benchcap::bus::log
