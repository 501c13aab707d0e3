#pragma once

// The configuration of a GPIB board kept in a profile file: 30 ibask options written under
// five sections named master key + suffix (LAB1_BOARD, LAB1_BUS, ...), so several boards
// or setups can share one file; 25 of them can be set on a board again.

#include <cstdint>
#include <span>
#include <string>

#include "bus/gpib_driver.h"
#include "scanner/ini_file.h"

namespace benchcap::scanner {

struct BoardOption {
    const char* sectionSuffix;  // "_BOARD", "_BUS", "_EOS", "_POLLING", "_PCINTEROP"
    const char* key;            // key name in the file, spelled as existing files have it
    int option;                 // NI-488.2 ibask / ibconfig option code
    bool loadedBack;            // LoadBoardStatus sets it on the board
};

// The 30 options in the order they are written and read.
std::span<const BoardOption> BoardOptions();

// Asks the board for every option and writes each as 16-bit signed decimal text. The
// file is rewritten once, as a whole, so a failure leaves the old file as it was; other
// sections and master keys in it are kept. An error names the file and the reason.
Status SaveBoardStatus(bus::GpibDriver& driver, const std::string& fileName,
                       const std::string& masterKey, int16_t board);

// Sets the 25 loadable options from the file, in table order. A missing section or key
// sets its option to 0; the "_PCINTEROP" options (bus hardware resources) are never set.
// A file that is missing or cannot be read is an error and the board is left untouched.
Status LoadBoardStatus(bus::GpibDriver& driver, const std::string& fileName,
                       const std::string& masterKey, int16_t board);

}  // namespace benchcap::scanner
