// Arbitrary bytes as an instrument's trace answer, decoded in every format and byte order:
// values or a refusal that says why, never a crash; binary answers of whole values decode
// to exactly one value per value size.

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "trace/trace_recipe.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using benchcap::recipes::Trace;
    const std::string_view payload(reinterpret_cast<const char*>(data), size);
    for (const Trace::Format format :
         {Trace::Format::Ascii, Trace::Format::Real32, Trace::Format::Real64}) {
        for (const bool big : {false, true}) {
            Trace trace;
            trace.format = format;
            trace.bigEndian = big;
            const auto values = benchcap::trace::DecodeTraceAnswer(payload, trace);
            if (!values) {
                if (values.error().empty())
                    __builtin_trap();  // a refusal always says why
                continue;
            }
            const std::size_t width = format == Trace::Format::Real64   ? 8
                                      : format == Trace::Format::Real32 ? 4
                                                                        : 0;
            if (width && values->size() != size / width)
                __builtin_trap();
        }
    }
    return 0;
}
