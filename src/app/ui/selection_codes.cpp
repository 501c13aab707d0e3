#include "app/ui/selection_codes.h"

#include <array>

namespace benchcap::app {
namespace {

using enum TraceMenus;

// Codes and their families (see the model probes): 11 KLR, 12 KLVZ/RVM, 13 KLT, 14, 15 RVFE,
// 16 KLW, 17 KLB, 21 GWPZ, 22, 23, 31 HWPZ, 32 GWK, 33 JXN, 41 PBH, 61, 71 NQ, 76 GJX.
constexpr std::array kRules{
    SelectionRule{11, true, false, TraceOnTrace4On},
    SelectionRule{12, true, false, TraceOnTrace4On},
    SelectionRule{13, true, false, TraceOnTrace4Off},
    SelectionRule{14, true, false, TraceOnTrace4On},
    SelectionRule{15, true, false, TraceOnTrace4Off},
    SelectionRule{16, true, false, TraceOnTrace4Off},
    SelectionRule{17, false, false, Keep},
    SelectionRule{21, true, false, TraceOff},
    SelectionRule{22, false, true, TraceOff},
    SelectionRule{23, false, true, TraceOff},
    SelectionRule{31, false, true, TraceOff},
    SelectionRule{32, false, true, TraceOff},
    SelectionRule{33, false, false, Keep},
    SelectionRule{41, false, false, TraceOff},
    SelectionRule{61, false, true, TraceOff},
    SelectionRule{71, true, false, TraceOnTrace4On},
    SelectionRule{76, true, true, TraceOff},
};

}  // namespace

SelectionRule selectionRule(int32_t code) {
    for (const SelectionRule& r : kRules)
        if (r.code == code)
            return r;
    return {code, false, false, Keep};
}

}  // namespace benchcap::app
