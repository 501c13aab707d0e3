#include "scanner/board_config.h"

#include <array>

#include "bus/number.h"

namespace benchcap::scanner {
namespace {

// "Seriall_Poll_Status_Byte" is misspelt in the files already in use; keep it.
constexpr std::array<BoardOption, 30> kBoardOptions{{
    {"_BOARD", "Primary_Address", 1, true},
    {"_BOARD", "Secondary_Address", 2, true},
    {"_BOARD", "Timeout_Value", 3, true},
    {"_BOARD", "Board_Is_System_Controller", 10, true},
    {"_BOARD", "Board_Status_Bit", 32, true},
    {"_BOARD", "Event_Queue", 21, true},
    {"_BOARD", "CIC_Protocol", 8, true},
    {"_BUS", "Timing", 17, true},
    {"_BUS", "Cable_Length", 31, true},
    {"_BUS", "Auto_REN_Assert", 11, true},
    {"_BUS", "LLO_On_Device_Online", 23, true},
    {"_BUS", "Read_Byte_Order", 19, true},
    {"_BUS", "Write_Byte_Order", 20, true},
    {"_EOS", "EOI_On_EOS", 4, true},
    {"_EOS", "Ignore_EOS_On_Read", 12, true},
    {"_EOS", "EOI_On_EOS_Write", 13, true},
    {"_EOS", "EOS_Compare_Mode", 14, true},
    {"_EOS", "EOS_Character", 15, true},
    {"_EOS", "END_Without_EOI", 26, true},
    {"_POLLING", "Parallel_Poll_Mode", 16, true},
    {"_POLLING", "Auto_Serial_Polling", 7, true},
    {"_POLLING", "Parallel_Poll_Configuration", 5, true},
    {"_POLLING", "SPOLL_Bit", 22, true},
    {"_POLLING", "Parallel_Poll_Time", 25, true},
    {"_POLLING", "Seriall_Poll_Status_Byte", 33, true},
    // Base address, DMA and interrupt belong to the PC's hardware setup: recorded only.
    {"_PCINTEROP", "Base_IO_Adr", 513, false},
    {"_PCINTEROP", "DMA_Adr", 514, false},
    {"_PCINTEROP", "Use_DMA", 18, false},
    {"_PCINTEROP", "DMA_Level", 515, false},
    {"_PCINTEROP", "Use_IRQ", 9, false},
}};

}  // namespace

std::span<const BoardOption> BoardOptions() {
    return kBoardOptions;
}

Status SaveBoardStatus(bus::GpibDriver& driver, const std::string& fileName,
                       const std::string& masterKey, int16_t board) {
    IniFile file = LoadIniFile(fileName);
    // Never replace a file we could not read with one holding only this board.
    if (!file.status && !file.missing)
        return file.status;
    for (const BoardOption& row : kBoardOptions) {
        // A failed ibask leaves the value as it was: 0.
        int value = 0;
        driver.ibask(board, row.option, &value);
        const int16_t stored = bus::LongToInt16(value);
        if (Status set = file.document.set(masterKey + row.sectionSuffix, row.key,
                                           IniValue(stored).writeText());
            !set) {
            return fail("Cannot write \"" + fileName + "\": " + set.error());
        }
    }
    return SaveIniFile(fileName, file.document);
}

Status LoadBoardStatus(bus::GpibDriver& driver, const std::string& fileName,
                       const std::string& masterKey, int16_t board) {
    const IniFile file = LoadIniFile(fileName);
    // Without a file every option would become 0, time-out "none" included: refuse.
    if (!file.status)
        return file.status;
    for (const BoardOption& row : kBoardOptions) {
        if (!row.loadedBack)
            continue;
        const std::string text = file.document.read(masterKey + row.sectionSuffix, row.key, 0);
        driver.ibconfig(board, row.option, bus::ParseInt16(text));
    }
    return {};
}

}  // namespace benchcap::scanner
