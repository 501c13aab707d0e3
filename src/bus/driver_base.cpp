#include "bus/driver_base.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <utility>
#include <vector>

namespace benchcap::bus {

using namespace ibsta_bits;
namespace err = iberr_codes;

namespace {
constexpr int kBoardDefaultTimeout = timeout_codes::T10s;
constexpr long kChunkBytes = 64 * 1024;

DriverStatus failure(int errCode) {
    return DriverStatus{LongToInt16(ERR), static_cast<int16_t>(errCode), 0, 0};
}
}  // namespace

CallOutcome readToFile(const std::string& fileName,
                       const std::function<CallOutcome(char*, long)>& readChunk,
                       const GpibDriver* progress) {
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(fileName.c_str(), "wb"),
                                                         &std::fclose);
    if (!file)
        return {ERR, failure(err::EFSO)};
    std::vector<char> buffer(kChunkBytes);
    CallOutcome last;
    int64_t total = 0;
    bool writeFailed = false;
    for (;;) {
        last = readChunk(buffer.data(), kChunkBytes);
        // A count outside the buffer would be a driver fault; never write beyond it.
        const int64_t got = std::clamp<int64_t>(last.status.ibcntl, 0, kChunkBytes);
        if (got > 0 && std::fwrite(buffer.data(), 1, static_cast<size_t>(got), file.get()) !=
                           static_cast<size_t>(got)) {
            writeFailed = true;
        }
        total += got;
        if (progress)
            progress->reportProgress(total, -1);
        if (writeFailed || (last.result & (ERR | END | TIMO)) || got == 0)
            break;
    }
    if (std::fclose(file.release()) != 0)
        writeFailed = true;
    last.status.ibcntl = static_cast<int32_t>(total);
    last.status.ibcnt = LongToInt16(static_cast<long>(total));
    if (writeFailed) {
        last.result |= ERR;
        last.status.ibsta = LongToInt16(last.status.ibsta | ERR);
        last.status.iberr = err::EFSO;
    }
    return last;
}

int DriverBase::finish(int sta, int errCode, long count) {
    problem_ = std::move(note_);
    note_.clear();
    status_.ibsta = LongToInt16(sta);
    status_.iberr = static_cast<int16_t>(errCode);
    status_.ibcnt = LongToInt16(count);
    status_.ibcntl = static_cast<int32_t>(count);
    return sta;
}

int DriverBase::finish(const CallOutcome& outcome) {
    return finish(outcome.result, outcome.status.iberr, outcome.status.ibcntl);
}

int DriverBase::ibrdf(int ud, const std::string& fileName) {
    if (!device(ud))
        return fail(err::EDVR);
    problem_.clear();
    const CallOutcome outcome = readToFile(
        fileName,
        [&](char* buffer, long size) {
            const int result = ibrd(ud, buffer, size);
            return CallOutcome{result, status()};
        },
        this);
    note_ = problem_;
    return finish(outcome);
}

int DriverBase::openDevice(const DeviceHandle& handle) {
    if (!validPrimaryAddress(handle.pad) || !validTimeoutCode(handle.tmo) ||
        static_cast<int>(devices_.size()) >= kMaxDevices) {
        finish(ERR, err::EARG, 0);
        return -1;
    }
    const int ud = nextDescriptor_++;
    devices_[ud] = handle;
    finish(CMPL, 0, 0);
    return ud;
}

int DriverBase::findOnlyBoard(const std::string& name, bool& online) {
    if (name == "GPIB0" || name == "gpib0") {
        online = true;
        finish(CMPL, 0, 0);
        return 0;
    }
    finish(ERR, err::ENEB, 0);
    return -1;
}

int DriverBase::openOnOnlyBoard(const DeviceHandle& handle) {
    if (handle.board != 0) {
        finish(ERR, err::ENEB, 0);
        return -1;
    }
    return openDevice(handle);
}

DeviceHandle* DriverBase::device(int ud) {
    auto it = devices_.find(ud);
    return it == devices_.end() ? nullptr : &it->second;
}

int DriverBase::boardOption(int board, int option) const {
    auto it = boardOptions_.find({board, option});
    if (it != boardOptions_.end())
        return it->second;
    switch (option) {
        case ibc::TMO:
            return kBoardDefaultTimeout;
        case ibc::SC:
            return 1;
        default:
            return 0;
    }
}

bool DriverBase::configureDevice(DeviceHandle& handle, int option, int value) {
    switch (option) {
        case ibc::TMO:
            if (!validTimeoutCode(value)) {
                fail(err::EARG);
                return false;
            }
            handle.tmo = value;
            break;
        case ibc::PAD:
            if (!validPrimaryAddress(value)) {
                fail(err::EARG);
                return false;
            }
            handle.pad = value;
            break;
        case ibc::EOT:
            handle.eot = value;
            break;
        default:
            break;
    }
    return true;
}

bool DriverBase::configureBoard(int board, int option, int value) {
    if ((option == ibc::TMO && !validTimeoutCode(value)) ||
        (option == ibc::PAD && !validPrimaryAddress(value))) {
        fail(err::EARG);
        return false;
    }
    setBoardOption(board, option, value);
    return true;
}

int DriverBase::ibpad(int ud, int pad) {
    if (!validPrimaryAddress(pad))
        return fail(err::EARG);
    return ibconfig(ud, ibc::PAD, pad);
}

int DriverBase::ibrsc(int ud, int request) {
    if (!isBoard(ud))
        return fail(err::EARG);
    return ibconfig(ud, ibc::SC, request);
}

int DriverBase::ibtmo(int ud, int code) {
    return ibconfig(ud, ibc::TMO, code);
}

int DriverBase::ibask(int ud, int option, int* value) {
    if (!value)
        return fail(err::EARG);
    if (const DeviceHandle* dev = device(ud)) {
        switch (option) {
            case ibc::PAD:
                *value = dev->pad;
                break;
            case ibc::SAD:
                *value = dev->sad;
                break;
            case ibc::TMO:
                *value = dev->tmo;
                break;
            case ibc::EOT:
                *value = dev->eot;
                break;
            default:
                *value = 0;
        }
        return finish(CMPL, 0, 0);
    }
    if (isBoard(ud)) {
        *value = boardOption(ud, option);
        return finish(CMPL, 0, 0);
    }
    return fail(err::EDVR);
}

}  // namespace benchcap::bus
