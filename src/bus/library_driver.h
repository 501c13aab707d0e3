#pragma once

#include <memory>
#include <string>
#include <vector>

#include "bus/gpib_driver.h"

namespace benchcap::bus {

// The NI-488.2 driver library, loaded at run time (never linked at build time): linux-gpib,
// NI-488.2 for Linux, or NI-488.2 on Windows. Each call is resolved under the names the
// library exports it by; calls a library only has as macros over ibconfig (ibpad, ibrsc,
// ibsre, ibtmo in NI-488.2) go through ibconfig.
//
// Reads ask interruptRequested() while they wait when the library has ibrda and ibstop
// (linux-gpib and NI-488.2 both do); a read the driver does not end within the handle's
// time-out is stopped.
//
// When no library loads, or the one found lacks a call the program needs, the driver
// behaves as a bus without boards (ibfind -1 with ENEB, every other call ERR with EDVR)
// and unavailableReason() says why in one line.
//
// Not thread-safe: one object serves the one user-interface thread, like the program.
class LibraryDriver final : public GpibDriver {
  public:
    // Tries the libraries of defaultLibraries() (BENCHCAP_GPIB_LIBRARY when set).
    LibraryDriver();
    // Tries `libraries` in order (file names for the loader's search, or paths); the first
    // one that loads and has every required call is used.
    explicit LibraryDriver(std::vector<std::string> libraries);
    ~LibraryDriver() override;
    LibraryDriver(const LibraryDriver&) = delete;
    LibraryDriver& operator=(const LibraryDriver&) = delete;

    // The platform's library names in the order tried; `overridePath` (the value of
    // BENCHCAP_GPIB_LIBRARY) replaces them when it is not empty.
    static std::vector<std::string> libraryCandidates(const char* overridePath);
    static std::vector<std::string> defaultLibraries();

    int ibdev(int board, int pad, int sad, int tmo, int eot, int eos) override;
    int ibfind(const std::string& name) override;
    int ibwrt(int ud, const void* data, long count) override;
    int ibrd(int ud, void* buffer, long count) override;
    int ibrdf(int ud, const std::string& fileName) override;
    int ibonl(int ud, int online) override;
    int ibpad(int ud, int pad) override;
    int ibrsc(int ud, int request) override;
    int ibsre(int ud, int value) override;
    int ibtmo(int ud, int code) override;
    int ibwait(int ud, int mask) override;
    int ibloc(int ud) override;
    int ibclr(int ud) override;
    int ibconfig(int ud, int option, int value) override;
    int ibask(int ud, int option, int* value) override;
    void SendIFC(int board) override;

    DriverStatus status() const override { return status_; }
    std::string unavailableReason() const override { return reason_; }

    // The library in use as it was named when loaded; empty when none is usable.
    const std::string& libraryName() const { return libraryName_; }
    // The file the loader took for it (symbolic links resolved), so a report can tell which
    // of several installed drivers runs; the name as loaded when the loader cannot say.
    const std::string& libraryPath() const { return libraryPath_; }

  private:
    struct Api;  // the resolved entry points (library_driver.cpp)

    bool usable() const { return api_ != nullptr; }
    int unavailable(int result, int error);
    void beforeCall();
    void captureStatus();
    int readToFileByReads(int ud, const std::string& fileName);
    int readStoppable(int ud, void* buffer, long count);

    std::unique_ptr<Api> api_;
    std::string libraryName_;
    std::string libraryPath_;
    std::string reason_;
    DriverStatus status_;
};

// One line on the driver library the default candidates give: "driver library:
// /usr/lib/x86_64-linux-gnu/libgpib.so.0.0.0", or "driver library: none (REASON)". For
// system reports (benchcap-cli --system-info, the window's about box).
std::string driverLibraryReport();
std::string driverLibraryReport(const LibraryDriver& driver);

}  // namespace benchcap::bus
