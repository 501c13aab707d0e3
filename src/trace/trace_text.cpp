#include "trace/trace_text.h"

#include <algorithm>
#include <cstdint>
#include <exception>
#include <optional>
#include <system_error>
#include <thread>
#include <vector>

#include "trace/general_number.h"

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace benchcap::trace {
namespace {

std::size_t MaxCellText(CellKind kind) {
    switch (kind) {
        case CellKind::F32:
            return kMaxGeneralFloatText;
        case CellKind::Axis:
            return kMaxGeneralDoubleText;
        case CellKind::Bit:
            return 1;
    }
    return kMaxGeneralDoubleText;
}

// A big text is written once from front to back; on Linux, transparent huge pages cut
// the page faults of that first touch by a factor of 512. Only a hint.
void AdviseHugePages([[maybe_unused]] char* data, [[maybe_unused]] std::size_t size) {
#if defined(__linux__) && defined(MADV_HUGEPAGE)
    constexpr std::uintptr_t kHuge = 2 * 1024 * 1024;
    const auto begin = (reinterpret_cast<std::uintptr_t>(data) + kHuge - 1) & ~(kHuge - 1);
    const auto end = (reinterpret_cast<std::uintptr_t>(data) + size) & ~(kHuge - 1);
    if (end > begin) {
        madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
    }
#endif
}

char* WriteCell(char* out, const TraceColumn& column, std::size_t row, char separator) {
    if (!column.HasCell(row)) {
        return out;
    }
    switch (column.kind) {
        case CellKind::F32:
            return WriteGeneral(out, column.F32(row), separator);
        case CellKind::Axis:
            return WriteGeneral(out, column.Axis(row), separator);
        case CellKind::Bit:
            *out = column.Bit(row) != 0 ? '1' : '0';
            return out + 1;
    }
    return out;
}

// Rows below `end` whose cells all exist, for a column layout known at compile time:
// no per-cell test of the kind or of HasCell, and unit strides become plain pointer
// steps. Appends to `text` through the block buffer like the general loop.
template <CellKind... Kinds>
struct RowWriter {
    static char* Cell(char* out, const TraceColumn& column, std::size_t row, CellKind kind,
                      char separator) {
        // `kind` is a constant in every instantiation, so this folds to one call.
        if (kind == CellKind::F32) {
            return WriteGeneral(out, column.F32(row), separator);
        }
        if (kind == CellKind::Axis) {
            return WriteGeneral(out, column.Axis(row), separator);
        }
        *out = column.Bit(row) != 0 ? '1' : '0';
        return out + 1;
    }

    static bool Matches(const TraceField& field) {
        constexpr CellKind kinds[] = {Kinds...};
        if (field.columns.size() != sizeof...(Kinds)) {
            return false;
        }
        for (std::size_t c = 0; c < sizeof...(Kinds); ++c) {
            if (field.columns[c].kind != kinds[c]) {
                return false;
            }
        }
        return true;
    }

    static char* Row(char* p, const TraceColumn* columns, std::size_t row, char separator) {
        std::size_t c = 0;
        ((p = Cell(p, columns[c], row, Kinds, separator), *p++ = '\t', ++c), ...);
        p[-1] = '\r';  // the TAB after the last cell
        *p++ = '\n';
        return p;
    }
};

// Appends rows [from, to) through `block`; flushes whenever a further row might not fit.
template <class WriteRow>
void AppendRows(std::string& text, std::vector<char>& block, std::size_t maxRow, std::size_t from,
                std::size_t to, WriteRow writeRow) {
    char* const begin = block.data();
    char* const flushAt = begin + block.size() - maxRow - kGeneralTextRoom;
    char* p = begin;
    for (std::size_t row = from; row < to; ++row) {
        p = writeRow(p, row);
        if (p > flushAt) {
            text.append(begin, p);
            p = begin;
        }
    }
    text.append(begin, p);
}

template <class Writer>
bool AppendFullRows(std::string& text, std::vector<char>& block, std::size_t maxRow,
                    const TraceField& field, std::size_t from, std::size_t to, char separator) {
    if (!Writer::Matches(field)) {
        return false;
    }
    const TraceColumn* columns = field.columns.data();
    AppendRows(text, block, maxRow, from, to,
               [&](char* p, std::size_t row) { return Writer::Row(p, columns, row, separator); });
    return true;
}

// What every part of one text shares: the field, the separator, the longest row and the
// rows before the first empty cell.
struct TextJob {
    const TraceField& field;
    char separator;
    std::size_t maxRow;
    std::size_t full;
};

// Appends the text of rows [from, to) to `text`.
void AppendRowRange(std::string& text, const TextJob& job, std::size_t from, std::size_t to) {
    const TraceField& field = job.field;
    const char sep = job.separator;
    const std::size_t maxRow = job.maxRow;
    // Rows are written into a small buffer and appended in blocks, so the text is
    // built in place without per-cell allocations or a zero-filled oversize string.
    std::vector<char> block(std::max<std::size_t>(64 * 1024, 2 * maxRow + kGeneralTextRoom));

    // The layouts of analyzer and network traces get a loop of their own; symbol tables
    // and the rows with empty cells (an odd count of paired values) take the general one.
    constexpr auto f32 = CellKind::F32;
    constexpr auto axis = CellKind::Axis;
    const std::size_t fullEnd = std::clamp(job.full, from, to);
    const bool special =
        AppendFullRows<RowWriter<axis, f32>>(text, block, maxRow, field, from, fullEnd, sep) ||
        AppendFullRows<RowWriter<axis, f32, f32>>(text, block, maxRow, field, from, fullEnd, sep) ||
        AppendFullRows<RowWriter<f32, f32>>(text, block, maxRow, field, from, fullEnd, sep) ||
        AppendFullRows<RowWriter<f32, f32, f32>>(text, block, maxRow, field, from, fullEnd, sep);
    const std::size_t columns = field.ColumnCount();
    AppendRows(text, block, maxRow, special ? fullEnd : from, to, [&](char* p, std::size_t row) {
        p = WriteCell(p, field.columns[0], row, sep);
        for (std::size_t c = 1; c < columns; ++c) {
            *p++ = '\t';
            p = WriteCell(p, field.columns[c], row, sep);
        }
        *p++ = '\r';
        *p++ = '\n';
        return p;
    });
}

// Long traces are written on two cores: the rows go in chunks, the calling thread writes
// the first chunk of each pair into `even` while a helper thread writes the second into
// `odd`; `pairDone` then takes both. The extra memory is a chunk's text, and the bytes are
// the same as a single pass gives. Without a helper (short traces, one core, no thread to
// be had) the calling thread writes both chunks.
constexpr std::size_t kChunkRows = 64 * 1024;

bool WorthTwoCores(const TextJob& job) {
    return job.field.rows >= 2 * kChunkRows && std::thread::hardware_concurrency() >= 2;
}

template <class PairDone>
Status WriteChunkPairs(const TextJob& job, bool twoCores, std::string& even, std::string& odd,
                       PairDone pairDone) {
    const std::size_t rows = job.field.rows;
    for (std::size_t from = 0; from < rows; from += 2 * kChunkRows) {
        const std::size_t mid = std::min(rows, from + kChunkRows);
        const std::size_t to = std::min(rows, mid + kChunkRows);
        odd.clear();
        std::exception_ptr failure;  // an exception must not end the helper thread's process
        std::jthread helper;
        if (twoCores && mid < to) {
            try {
                helper = std::jthread([&odd, &failure, &job, mid, to] {
                    try {
                        AppendRowRange(odd, job, mid, to);
                    } catch (...) {
                        failure = std::current_exception();
                    }
                });
            } catch (const std::system_error&) {
                // no thread to be had: written below
            }
        }
        AppendRowRange(even, job, from, mid);
        if (helper.joinable()) {
            helper.join();
        } else if (mid < to) {
            AppendRowRange(odd, job, mid, to);
        }
        if (failure) {
            std::rethrow_exception(failure);
        }
        if (Status done = pairDone(); !done) {
            return done;
        }
    }
    return {};
}

// What every text starts with: the longest row and the rows before the first empty cell.
std::optional<TextJob> MakeJob(const TraceField& field, char decimalSeparator) {
    if (field.rows == 0 || field.ColumnCount() == 0) {
        return std::nullopt;
    }
    std::size_t maxRow = 1;         // TABs between cells and CR LF: one more than the cells
    std::size_t full = field.rows;  // rows before the first empty cell
    for (const TraceColumn& c : field.columns) {
        maxRow += MaxCellText(c.kind) + 1;
        full = std::min(full, c.filled);
    }
    return TextJob{field, decimalSeparator, maxRow, full};
}

}  // namespace

std::string TraceText(const TraceField& field, char decimalSeparator) {
    std::string text;
    const std::optional<TextJob> job = MakeJob(field, decimalSeparator);
    if (!job) {
        return text;
    }
    // An upper bound: capacity that is never written costs address space, not memory.
    text.reserve(field.rows * job->maxRow);
    AdviseHugePages(text.data(), text.capacity());

    if (WorthTwoCores(*job)) {
        std::string odd;
        odd.reserve(kChunkRows * job->maxRow);
        [[maybe_unused]] const Status done =
            WriteChunkPairs(*job, true, text, odd, [&]() -> Status {
                text.append(odd);
                return {};
            });
    } else {
        AppendRowRange(text, *job, 0, field.rows);
    }

    const std::size_t last = text.find_last_not_of(' ');
    text.resize(last == std::string::npos ? 0 : last + 1);
    const std::size_t first = text.find_first_not_of(' ');
    if (first != 0 && first != std::string::npos) {
        text.erase(0, first);
    }
    return text;
}

Status WriteTraceText(const TraceField& field, char decimalSeparator, const TraceTextSink& sink) {
    const std::optional<TextJob> job = MakeJob(field, decimalSeparator);
    if (!job) {
        return {};
    }
    // No cell ever starts or ends in a blank, so the pieces need none of TraceText's
    // trimming to be the same bytes.
    std::string even;
    std::string odd;
    even.reserve(std::min(field.rows, kChunkRows) * job->maxRow);
    odd.reserve(even.capacity());
    return WriteChunkPairs(*job, WorthTwoCores(*job), even, odd, [&]() -> Status {
        Status sent = sink(even);
        even.clear();
        if (sent && !odd.empty()) {
            sent = sink(odd);
        }
        return sent;
    });
}

std::string TraceFileContent(std::string_view traceText) {
    std::string content;
    content.reserve(traceText.size() + 2);
    content.append(traceText);
    content.append("\r\n");
    return content;
}

}  // namespace benchcap::trace
