#include "trace/trace_text.h"

#include <algorithm>
#include <cstdint>
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
        case CellKind::F64:
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
        case CellKind::F64:
            return WriteGeneral(out, column.F64(row), separator);
        case CellKind::Bit:
            *out = column.Bit(row) != 0 ? '1' : '0';
            return out + 1;
    }
    return out;
}

}  // namespace

std::string TraceText(const TraceField& field, char decimalSeparator) {
    std::string text;
    const std::size_t columns = field.ColumnCount();
    if (field.rows == 0 || columns == 0) {
        return text;
    }
    std::size_t maxRow = 1;  // TABs between cells and CR LF: one more than the cells
    for (const TraceColumn& c : field.columns) {
        maxRow += MaxCellText(c.kind) + 1;
    }
    // An upper bound: capacity that is never written costs address space, not memory.
    text.reserve(field.rows * maxRow);
    AdviseHugePages(text.data(), text.capacity());

    // Rows are written into a small buffer and appended in blocks, so the text is
    // built in place without per-cell allocations or a zero-filled oversize string.
    std::vector<char> block(std::max<std::size_t>(64 * 1024, 2 * maxRow + kGeneralTextRoom));
    char* const begin = block.data();
    char* const flushAt = begin + block.size() - maxRow - kGeneralTextRoom;
    char* p = begin;
    for (std::size_t row = 0; row < field.rows; ++row) {
        p = WriteCell(p, field.columns[0], row, decimalSeparator);
        for (std::size_t c = 1; c < columns; ++c) {
            *p++ = '\t';
            p = WriteCell(p, field.columns[c], row, decimalSeparator);
        }
        *p++ = '\r';
        *p++ = '\n';
        if (p > flushAt) {
            text.append(begin, p);
            p = begin;
        }
    }
    text.append(begin, p);

    const std::size_t last = text.find_last_not_of(' ');
    text.resize(last == std::string::npos ? 0 : last + 1);
    const std::size_t first = text.find_first_not_of(' ');
    if (first != 0 && first != std::string::npos) {
        text.erase(0, first);
    }
    return text;
}

std::string TraceFileContent(std::string_view traceText) {
    std::string content;
    content.reserve(traceText.size() + 2);
    content.append(traceText);
    content.append("\r\n");
    return content;
}

}  // namespace benchcap::trace
