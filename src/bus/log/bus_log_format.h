#pragma once

// The bus log's line format (docs/bus-log.md): one line per driver call,
//   t=12034 dt=210 ibwrt ud=32 dev=0/7 count=6 data="*IDN?\n" -> ret=256 sta=CMPL err=- cnt=6
// what the program gave before "->", what the driver answered after it. Bytes are text with
// escapes; a block over 4 KiB is its length, first and last 256 bytes and SHA-256 unless
// the log keeps full data.

#include <cstdint>
#include <cstdio>
#include <istream>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/result.h"
#include "bus/gpib_driver.h"

struct evp_md_ctx_st;
using EVP_MD_CTX = evp_md_ctx_st;

namespace benchcap::bus::log {

inline constexpr const char* kLogHeader = "# benchcap bus log 1";
inline constexpr size_t kShortBlock = 4096;  // longer blocks are shortened
inline constexpr size_t kBlockEdge = 256;    // bytes kept at each end of a shortened block
// Longest line a reader takes: a 10 MB block with every byte escaped, with room to spare.
inline constexpr size_t kMaxLineBytes = 64u << 20;

// SHA-256, fed piecewise, so a block is hashed as it streams by. OpenSSL's, which uses
// the processor's SHA instructions: hashing is most of what a log costs a transfer.
class Sha256 {
  public:
    Sha256();
    void add(const void* data, size_t size);
    std::string hex();  // ends the hash

  private:
    std::unique_ptr<EVP_MD_CTX, void (*)(EVP_MD_CTX*)> context_;
};

// Bytes as the log shows them, without the quotes: printable ASCII as is, `\\`, `\"`,
// `\r`, `\n`, `\t` and `\xHH` for the rest.
std::string escapeBytes(std::string_view bytes);
// The bytes of an escaped text; nullopt for a bad escape.
std::optional<std::string> unescapeBytes(std::string_view text);

// "END|CMPL", "0" for none; and back (nullopt for an unknown name).
std::string staNames(int sta);
std::optional<int> staFromNames(std::string_view text);
// "EABO", "-" for 0 without ERR, the number for a code without a name; and back.
std::string errName(int iberr, int sta);
std::optional<int> errFromName(std::string_view text);

// Writes escapeBytes(bytes) to `out` in pieces.
void writeEscaped(std::FILE* out, std::string_view bytes);
// Writes the data fields of a block as " data=\"...\"" or, shortened,
// " len=N head=\"...\" tail=\"...\" sha256=HEX", streaming: memory stays flat.
void writeData(std::FILE* out, std::string_view bytes, bool full);
// The same fields as a string (for comparing a call with a logged one).
std::string dataText(std::string_view bytes, bool full);

// One logged call, as read back.
struct Record {
    long line = 0;
    int64_t time = 0;      // micros, on the logging program's clock
    int64_t duration = 0;  // micros
    std::string call;      // "ibwrt"
    // What the program gave, as logged, in order (without t, dt): the call's identity.
    std::vector<std::pair<std::string, std::string>> given;
    int result = 0;
    DriverStatus status;
    std::optional<int> value;  // ibask's answer
    // The data the driver gave back: all of it, or only what a shortened block keeps.
    bool hasData = false;
    bool fullData = true;
    std::string data;    // full bytes (fullData)
    int64_t length = 0;  // the block's length
    std::string sha256;  // shortened: the hash

    // The given fields as text, without the ones that may differ between runs (the
    // temporary file ibrdf writes to): what a replayed call must repeat.
    std::string identity() const;
    std::optional<std::string> givenValue(std::string_view key) const;
};

// Reads a log line by line: comment lines are skipped, every other line must be a call.
// A line longer than kMaxLineBytes, a bad field or a missing one is an error naming the
// line; memory stays within one line.
class LogReader {
  public:
    explicit LogReader(std::istream& in) : in_(in) {}
    // The next call, nullopt at the end, or the error.
    Result<std::optional<Record>> next();
    long line() const { return line_; }

  private:
    bool readLine(std::string& line, bool& tooLong);
    std::istream& in_;
    long line_ = 0;
};

// Parses one call line (`lineNumber` for the messages).
Result<Record> parseRecord(std::string_view line, long lineNumber);

// The tokens of a line: a bare word or key=value, where value may be "quoted".
std::optional<std::vector<std::pair<std::string, std::string>>> splitFields(std::string_view line);

}  // namespace benchcap::bus::log
