#include "bus/library_driver.h"

#include "bus/driver_base.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <initializer_list>
#include <thread>
#include <utility>

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#include <link.h>

#include <climits>
#endif

namespace benchcap::bus {

namespace {

// ---------------------------------------------------------------------------------------
// Platform part: opening a library and finding a symbol. Everything else is portable.
// ---------------------------------------------------------------------------------------
#ifdef _WIN32
// NI-488.2 on Windows uses __stdcall (NI488CC); it only matters for 32-bit code.
#define BENCHCAP_NI488CC __stdcall
// ni4882.dll declares the counts of ibrd/ibwrt as size_t; on 32-bit Windows (gpib-32.dll)
// that is the same as long.
using CountArg = size_t;

const std::vector<std::string>& platformLibraries() {
    // ni4882.dll: the current NI-488.2 (32 and 64 bit); gpib-32.dll: the older 32-bit one.
    static const std::vector<std::string> names{"ni4882.dll", "gpib-32.dll"};
    return names;
}

class SharedLibrary {
  public:
    // The loaded library, or why not: kind NotReachable when there is no such library,
    // File when it is there but does not load.
    static Result<std::unique_ptr<SharedLibrary>> open(const std::string& name) {
        HMODULE handle = LoadLibraryA(name.c_str());
        if (!handle) {
            const DWORD code = GetLastError();
            return fail(code == ERROR_MOD_NOT_FOUND ? ErrorKind::NotReachable : ErrorKind::File,
                        "Windows error " + std::to_string(code));
        }
        return std::unique_ptr<SharedLibrary>(new SharedLibrary(handle));
    }
    ~SharedLibrary() { FreeLibrary(handle_); }
    void* symbol(const char* name) const {
        return reinterpret_cast<void*>(GetProcAddress(handle_, name));
    }
    std::string path() const {
        char buffer[MAX_PATH] = {};
        const DWORD n = GetModuleFileNameA(handle_, buffer, MAX_PATH);
        return n > 0 && n < MAX_PATH ? std::string(buffer, n) : std::string();
    }

  private:
    explicit SharedLibrary(HMODULE handle) : handle_(handle) {}
    HMODULE handle_;
};
#else
#define BENCHCAP_NI488CC
using CountArg = long;

const std::vector<std::string>& platformLibraries() {
    // libgpib.so.0: linux-gpib (libgpib.so is its development link).
    // libni4882.so.1 / libni4882.so: NI-488.2 for Linux 17 and later (package ni4882), which
    //   exports ibfindA/ibrdfA and has ibpad, ibrsc, ibsre, ibtmo only as ibconfig macros.
    // libgpibapi.so.0: the older NI-488.2 for Linux (2.x), with the same API.
    static const std::vector<std::string> names{"libgpib.so.0", "libgpib.so", "libni4882.so.1",
                                                "libni4882.so", "libgpibapi.so.0"};
    return names;
}

class SharedLibrary {
  public:
    // The loaded library, or why not: kind NotReachable when there is no such library,
    // File when it is there but does not load.
    static Result<std::unique_ptr<SharedLibrary>> open(const std::string& name) {
        // RTLD_LOCAL: the driver's names must not resolve anything else in the process.
        void* handle = dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!handle) {
            const char* message = dlerror();
            const std::string error = message ? message : "unknown loader error";
            // The loader tells a missing file only in its words.
            return fail(error.find("No such file or directory") != std::string::npos
                            ? ErrorKind::NotReachable
                            : ErrorKind::File,
                        error);
        }
        return std::unique_ptr<SharedLibrary>(new SharedLibrary(handle));
    }
    ~SharedLibrary() { dlclose(handle_); }
    void* symbol(const char* name) const { return dlsym(handle_, name); }
    // The file the loader mapped: its link map entry names it as found on the search path.
    std::string path() const {
        link_map* map = nullptr;
        if (dlinfo(handle_, RTLD_DI_LINKMAP, &map) != 0 || !map || !map->l_name || !*map->l_name)
            return {};
        char resolved[PATH_MAX];
        if (realpath(map->l_name, resolved))
            return resolved;
        return map->l_name;
    }

  private:
    explicit SharedLibrary(void* handle) : handle_(handle) {}
    void* handle_;
};
#endif

// NI-488.2 option codes behind the calls NI-488.2 defines as ibconfig macros.
constexpr int kIbcPAD = 0x1;
constexpr int kIbcTMO = 0x3;
constexpr int kIbcSC = 0xA;
constexpr int kIbcSRE = 0xB;

constexpr int kERR = ibsta_bits::ERR;
constexpr int kCMPL = ibsta_bits::CMPL;
constexpr int kTIMO = ibsta_bits::TIMO;

// Beyond the handle's time-out: how long an asynchronous read may still take before it is
// stopped (the driver's own time-out normally ends it first).
constexpr auto kReadGrace = std::chrono::milliseconds(500);
// The longest pause between two looks at a running read (and at a stop request).
constexpr auto kPollCeiling = std::chrono::milliseconds(20);

}  // namespace

// ---------------------------------------------------------------------------------------
// The resolved entry points.
// ---------------------------------------------------------------------------------------
struct LibraryDriver::Api {
    using IntCall = int(BENCHCAP_NI488CC*)(int, int);
    using StatusFn = int(BENCHCAP_NI488CC*)();
    using CountFn = long(BENCHCAP_NI488CC*)();

    std::unique_ptr<SharedLibrary> library;

    int(BENCHCAP_NI488CC* ibdev)(int, int, int, int, int, int) = nullptr;
    int(BENCHCAP_NI488CC* ibfind)(const char*) = nullptr;
    int(BENCHCAP_NI488CC* ibwrt)(int, const void*, CountArg) = nullptr;
    int(BENCHCAP_NI488CC* ibrd)(int, void*, CountArg) = nullptr;
    int(BENCHCAP_NI488CC* ibrdf)(int, const char*) = nullptr;  // optional
    // Optional: with both, a read can be stopped (asynchronous read, ibwait, ibstop).
    int(BENCHCAP_NI488CC* ibrda)(int, void*, CountArg) = nullptr;
    int(BENCHCAP_NI488CC* ibstop)(int) = nullptr;
    IntCall ibonl = nullptr;
    IntCall ibpad = nullptr;  // these four are optional: ibconfig serves them
    IntCall ibrsc = nullptr;
    IntCall ibsre = nullptr;
    IntCall ibtmo = nullptr;
    IntCall ibwait = nullptr;
    int(BENCHCAP_NI488CC* ibloc)(int) = nullptr;
    int(BENCHCAP_NI488CC* ibclr)(int) = nullptr;  // optional
    int(BENCHCAP_NI488CC* ibconfig)(int, int, int) = nullptr;
    int(BENCHCAP_NI488CC* ibask)(int, int, int*) = nullptr;
    void(BENCHCAP_NI488CC* SendIFC)(int) = nullptr;

    // Where the status of the last call comes from.
    enum class StatusSource { Functions, Registered, Globals };
    StatusSource source = StatusSource::Functions;
    StatusFn sta = nullptr;  // ThreadIbsta / Ibsta
    StatusFn err = nullptr;
    StatusFn cnt = nullptr;  // either of these two may be missing
    CountFn cntl = nullptr;
    // Older 32-bit NI-488.2 (gpib-32.dll): the driver writes the status of each thread
    // into variables the thread registered.
    int(BENCHCAP_NI488CC* registerGlobals)(int*, int*, int*, long*) = nullptr;
    int(BENCHCAP_NI488CC* unregisterGlobals)() = nullptr;
    int regSta = 0;
    int regErr = 0;
    int regCnt = 0;
    long regCntl = 0;
    bool registered = false;
    std::thread::id registeredThread;
    // Last resort: the process-wide variables (linux-gpib exports ibsta etc. as data).
    volatile int* globalSta = nullptr;
    volatile int* globalErr = nullptr;
    volatile int* globalCnt = nullptr;
    volatile long* globalCntl = nullptr;

    ~Api() {
        if (registered && unregisterGlobals)
            unregisterGlobals();
    }

    void* symbol(std::initializer_list<const char*> names) const {
        for (const char* name : names) {
            if (void* address = library->symbol(name))
                return address;
        }
        return nullptr;
    }

    template <typename Fn>
    void resolve(Fn& target, std::initializer_list<const char*> names,
                 std::vector<std::string>* missing) {
        void* address = symbol(names);
        target = reinterpret_cast<Fn>(address);
        if (!address && missing)
            missing->push_back(*names.begin());
    }

    bool resolveStatusFunctions(const char* sta_, const char* err_, const char* cnt_,
                                const char* cntl_) {
        resolve(sta, {sta_}, nullptr);
        resolve(err, {err_}, nullptr);
        resolve(cnt, {cnt_}, nullptr);
        resolve(cntl, {cntl_}, nullptr);
        if (sta && err && (cnt || cntl)) {
            source = StatusSource::Functions;
            return true;
        }
        sta = err = cnt = nullptr;
        cntl = nullptr;
        return false;
    }

    bool resolveRegistration() {
        resolve(registerGlobals, {"RegisterGpibGlobalsForThread"}, nullptr);
        resolve(unregisterGlobals, {"UnregisterGpibGlobalsForThread"}, nullptr);
        if (registerGlobals && unregisterGlobals) {
            source = StatusSource::Registered;
            return true;
        }
        registerGlobals = nullptr;
        unregisterGlobals = nullptr;
        return false;
    }

    bool resolveGlobals() {
        globalSta = static_cast<volatile int*>(symbol({"ibsta"}));
        globalErr = static_cast<volatile int*>(symbol({"iberr"}));
        globalCnt = static_cast<volatile int*>(symbol({"ibcnt"}));
        globalCntl = static_cast<volatile long*>(symbol({"ibcntl"}));
        if (globalSta && globalErr && globalCntl) {
            source = StatusSource::Globals;
            return true;
        }
        return false;
    }

    // Fills every entry point; returns the names of the required calls the library lacks.
    std::vector<std::string> resolveAll() {
        std::vector<std::string> missing;
        resolve(ibdev, {"ibdev"}, &missing);
        resolve(ibfind, {"ibfind", "ibfindA"}, &missing);
        resolve(ibwrt, {"ibwrt"}, &missing);
        resolve(ibrd, {"ibrd"}, &missing);
        resolve(ibonl, {"ibonl"}, &missing);
        resolve(ibwait, {"ibwait"}, &missing);
        resolve(ibloc, {"ibloc"}, &missing);
        resolve(ibconfig, {"ibconfig"}, &missing);
        resolve(ibask, {"ibask"}, &missing);
        resolve(SendIFC, {"SendIFC"}, &missing);
        resolve(ibrdf, {"ibrdf", "ibrdfA"}, nullptr);
        resolve(ibrda, {"ibrda"}, nullptr);
        resolve(ibstop, {"ibstop"}, nullptr);
        resolve(ibpad, {"ibpad"}, nullptr);
        resolve(ibrsc, {"ibrsc"}, nullptr);
        resolve(ibsre, {"ibsre"}, nullptr);
        resolve(ibtmo, {"ibtmo"}, nullptr);
        resolve(ibclr, {"ibclr"}, nullptr);

#ifdef _WIN32
        // ni4882.dll: Ibsta() and friends; gpib-32.dll: registered status variables.
        const bool haveStatus =
            resolveStatusFunctions("Ibsta", "Iberr", "Ibcnt", "Ibcntl") || resolveRegistration() ||
            resolveStatusFunctions("ThreadIbsta", "ThreadIberr", "ThreadIbcnt", "ThreadIbcntl") ||
            resolveGlobals();
#else
        // linux-gpib and NI-488.2 for Linux both have the per-thread ThreadIbsta set.
        const bool haveStatus =
            resolveStatusFunctions("ThreadIbsta", "ThreadIberr", "ThreadIbcnt", "ThreadIbcntl") ||
            resolveStatusFunctions("Ibsta", "Iberr", "Ibcnt", "Ibcntl") || resolveRegistration() ||
            resolveGlobals();
#endif
        if (!haveStatus)
            missing.push_back("ThreadIbsta");
        return missing;
    }
};

namespace {

std::string joined(const std::vector<std::string>& items) {
    std::string text;
    for (const std::string& item : items) {
        if (!text.empty())
            text += ", ";
        text += item;
    }
    return text;
}

}  // namespace

std::vector<std::string> LibraryDriver::libraryCandidates(const char* overridePath) {
    // An explicit choice is the only one tried: a silent fall-back to another library
    // would hide that the chosen one does not work.
    if (overridePath && *overridePath)
        return {overridePath};
    return platformLibraries();
}

std::vector<std::string> LibraryDriver::defaultLibraries() {
    return libraryCandidates(std::getenv("BENCHCAP_GPIB_LIBRARY"));
}

LibraryDriver::LibraryDriver() : LibraryDriver(defaultLibraries()) {}

LibraryDriver::LibraryDriver(std::vector<std::string> libraries) {
    std::vector<std::string> notFound;
    std::string loadFailure;  // the first library that exists but does not load
    std::string lackFailure;  // the first library that loads but lacks required calls
    for (const std::string& name : libraries) {
        Result<std::unique_ptr<SharedLibrary>> library = SharedLibrary::open(name);
        if (!library) {
            if (library.errorKind() == ErrorKind::NotReachable) {
                notFound.push_back(name);
            } else if (loadFailure.empty()) {
                loadFailure =
                    "GPIB driver library " + name + " could not be loaded: " + library.error();
            }
            continue;
        }
        auto api = std::make_unique<Api>();
        api->library = std::move(library).value();
        const std::vector<std::string> missing = api->resolveAll();
        if (!missing.empty()) {
            if (lackFailure.empty()) {
                lackFailure = "GPIB driver library " + name + " lacks " + joined(missing);
            }
            continue;
        }
        libraryPath_ = api->library->path();
        if (libraryPath_.empty())
            libraryPath_ = name;
        api_ = std::move(api);
        libraryName_ = name;
        return;
    }
    if (!lackFailure.empty()) {
        reason_ = lackFailure;
    } else if (!loadFailure.empty()) {
        reason_ = loadFailure;
    } else if (!notFound.empty()) {
        reason_ = "GPIB driver library not found: " + joined(notFound);
    } else {
        reason_ = "GPIB driver library not found: no library named";
    }
}

LibraryDriver::~LibraryDriver() = default;

std::string driverLibraryReport(const LibraryDriver& driver) {
    if (!driver.libraryPath().empty())
        return "driver library: " + driver.libraryPath();
    return "driver library: none (" + driver.unavailableReason() + ")";
}

std::string driverLibraryReport() {
    return driverLibraryReport(LibraryDriver());
}

int LibraryDriver::unavailable(int result, int error) {
    status_ = DriverStatus{LongToInt16(kERR), static_cast<int16_t>(error), 0, 0};
    return result;
}

void LibraryDriver::beforeCall() {
    Api& api = *api_;
    if (api.source != Api::StatusSource::Registered)
        return;
    if (api.registered && api.registeredThread == std::this_thread::get_id())
        return;
    api.registeredThread = std::this_thread::get_id();
    const int result = api.registerGlobals(&api.regSta, &api.regErr, &api.regCnt, &api.regCntl);
    if (result == 0) {
        api.registered = true;
        return;
    }
    if (result == 1) {
        // Registered before (by another object of this thread): take the variables over.
        api.unregisterGlobals();
        api.registerGlobals(&api.regSta, &api.regErr, &api.regCnt, &api.regCntl);
        api.registered = true;
        return;
    }
    if (result == 2 || result == 3)
        api.unregisterGlobals();
    api.registered = false;
    // The call goes ahead, but its status cannot be known: report a driver error.
    api.regSta = kERR;
    api.regErr = 0;
    api.regCntl = static_cast<long>(static_cast<int32_t>(0xDEAD37F0u));
}

void LibraryDriver::captureStatus() {
    const Api& api = *api_;
    long sta = 0;
    long err = 0;
    long cnt = 0;
    long cntl = 0;
    switch (api.source) {
        case Api::StatusSource::Functions:
            sta = api.sta();
            err = api.err();
            cntl = api.cntl ? api.cntl() : api.cnt();
            cnt = api.cnt ? api.cnt() : cntl;
            break;
        case Api::StatusSource::Registered:
            sta = api.regSta;
            err = api.regErr;
            cnt = api.regCnt;
            cntl = api.regCntl;
            break;
        case Api::StatusSource::Globals:
            sta = *api.globalSta;
            err = *api.globalErr;
            cntl = *api.globalCntl;
            cnt = api.globalCnt ? *api.globalCnt : cntl;
            break;
    }
    status_.ibsta = LongToInt16(sta);
    status_.iberr = LongToInt16(err);
    status_.ibcnt = LongToInt16(cnt);
    status_.ibcntl = static_cast<int32_t>(static_cast<uint32_t>(static_cast<unsigned long>(cntl)));
}

int LibraryDriver::ibdev(int board, int pad, int sad, int tmo, int eot, int eos) {
    if (!usable())
        return unavailable(-1, iberr_codes::EDVR);
    beforeCall();
    const int result = api_->ibdev(board, pad, sad, tmo, eot, eos);
    captureStatus();
    return result;
}

int LibraryDriver::ibfind(const std::string& name) {
    if (!usable())
        return unavailable(-1, iberr_codes::ENEB);
    beforeCall();
    const int result = api_->ibfind(name.c_str());
    captureStatus();
    return result;
}

int LibraryDriver::ibwrt(int ud, const void* data, long count) {
    if (!usable())
        return unavailable(kERR, iberr_codes::EDVR);
    // A negative count would reach the driver as a huge unsigned length.
    if (count < 0 || (count > 0 && !data))
        return unavailable(kERR, iberr_codes::EARG);
    beforeCall();
    const int result = api_->ibwrt(ud, data, static_cast<CountArg>(count));
    captureStatus();
    return result;
}

int LibraryDriver::ibrd(int ud, void* buffer, long count) {
    if (!usable())
        return unavailable(kERR, iberr_codes::EDVR);
    if (count < 0 || (count > 0 && !buffer))
        return unavailable(kERR, iberr_codes::EARG);
    if (api_->ibrda && api_->ibstop)
        return readStoppable(ud, buffer, count);
    beforeCall();
    const int result = api_->ibrd(ud, buffer, static_cast<CountArg>(count));
    captureStatus();
    return result;
}

// A blocking ibrd could only be ended by its time-out: the read runs asynchronously instead,
// looked at in short slices, and ibstop ends it on a stop request or once the handle's
// time-out has passed without the driver ending it.
int LibraryDriver::readStoppable(int ud, void* buffer, long count) {
    using Clock = std::chrono::steady_clock;
    int tmo = 0;
    beforeCall();
    const bool tmoKnown = (api_->ibask(ud, kIbcTMO, &tmo) & kERR) == 0;
    const int64_t tmoMicros = tmoKnown ? timeoutMicros(tmo) : 0;
    const Clock::time_point deadline =
        tmoMicros > 0 ? Clock::now() + std::chrono::microseconds(tmoMicros) + kReadGrace
                      : Clock::time_point::max();
    beforeCall();
    int result = api_->ibrda(ud, buffer, static_cast<CountArg>(count));
    captureStatus();
    if (result & kERR) {
        if (status_.iberr != iberr_codes::ECAP)
            return result;
        // A board without asynchronous reads: the blocking one.
        beforeCall();
        result = api_->ibrd(ud, buffer, static_cast<CountArg>(count));
        captureStatus();
        return result;
    }
    auto pollDelay = std::chrono::microseconds(100);
    for (;;) {
        beforeCall();
        result = api_->ibwait(ud, 0);
        captureStatus();
        if (result & (kCMPL | kERR))
            return result;
        const bool late = Clock::now() >= deadline;
        if (late || interruptRequested()) {
            beforeCall();
            api_->ibstop(ud);
            captureStatus();
            status_.ibsta = LongToInt16(kERR | (late ? kTIMO | kCMPL : 0));
            status_.iberr = iberr_codes::EABO;
            status_.ibcntl = std::clamp<int32_t>(
                status_.ibcntl, 0, static_cast<int32_t>(std::min<long>(count, INT32_MAX)));
            status_.ibcnt = LongToInt16(status_.ibcntl);
            return static_cast<uint16_t>(status_.ibsta);
        }
        std::this_thread::sleep_for(pollDelay);
        pollDelay = std::min<std::chrono::microseconds>(pollDelay * 2, kPollCeiling);
    }
}

int LibraryDriver::ibrdf(int ud, const std::string& fileName) {
    if (!usable())
        return unavailable(kERR, iberr_codes::EDVR);
    // Reads that can be stopped beat the library's own blocking ibrdf.
    if (!api_->ibrdf || (api_->ibrda && api_->ibstop))
        return readToFileByReads(ud, fileName);
    beforeCall();
    const int result = api_->ibrdf(ud, fileName.c_str());
    captureStatus();
    return result;
}

// Without ibrdf (or for reads that can be stopped): read until END (or an error) and write
// what came.
int LibraryDriver::readToFileByReads(int ud, const std::string& fileName) {
    const CallOutcome outcome = readToFile(
        fileName,
        [&](char* buffer, long size) {
            const int result = ibrd(ud, buffer, size);
            return CallOutcome{result, status_};
        },
        this);
    status_ = outcome.status;
    return outcome.result;
}

int LibraryDriver::ibonl(int ud, int online) {
    if (!usable())
        return unavailable(kERR, iberr_codes::EDVR);
    beforeCall();
    const int result = api_->ibonl(ud, online);
    captureStatus();
    return result;
}

#define BENCHCAP_CONFIG_CALL(name, option)                                                         \
    int LibraryDriver::name(int ud, int value) {                                                   \
        if (!usable())                                                                             \
            return unavailable(kERR, iberr_codes::EDVR);                                           \
        beforeCall();                                                                              \
        const int result = api_->name ? api_->name(ud, value) : api_->ibconfig(ud, option, value); \
        captureStatus();                                                                           \
        return result;                                                                             \
    }
// NI-488.2 has these four only as macros over ibconfig.
BENCHCAP_CONFIG_CALL(ibpad, kIbcPAD)
BENCHCAP_CONFIG_CALL(ibrsc, kIbcSC)
BENCHCAP_CONFIG_CALL(ibsre, kIbcSRE)
BENCHCAP_CONFIG_CALL(ibtmo, kIbcTMO)
#undef BENCHCAP_CONFIG_CALL

int LibraryDriver::ibwait(int ud, int mask) {
    if (!usable())
        return unavailable(kERR, iberr_codes::EDVR);
    beforeCall();
    const int result = api_->ibwait(ud, mask);
    captureStatus();
    return result;
}

int LibraryDriver::ibloc(int ud) {
    if (!usable())
        return unavailable(kERR, iberr_codes::EDVR);
    beforeCall();
    const int result = api_->ibloc(ud);
    captureStatus();
    return result;
}

int LibraryDriver::ibclr(int ud) {
    if (!usable())
        return unavailable(kERR, iberr_codes::EDVR);
    // A library without it leaves callers to empty the instrument by reading.
    if (!api_->ibclr)
        return unavailable(kERR, iberr_codes::ECAP);
    beforeCall();
    const int result = api_->ibclr(ud);
    captureStatus();
    return result;
}

int LibraryDriver::ibconfig(int ud, int option, int value) {
    if (!usable())
        return unavailable(kERR, iberr_codes::EDVR);
    beforeCall();
    const int result = api_->ibconfig(ud, option, value);
    captureStatus();
    return result;
}

int LibraryDriver::ibask(int ud, int option, int* value) {
    if (!usable())
        return unavailable(kERR, iberr_codes::EDVR);
    if (!value)
        return unavailable(kERR, iberr_codes::EARG);
    beforeCall();
    const int result = api_->ibask(ud, option, value);
    captureStatus();
    return result;
}

void LibraryDriver::SendIFC(int board) {
    if (!usable()) {
        unavailable(kERR, iberr_codes::EDVR);
        return;
    }
    beforeCall();
    api_->SendIFC(board);
    captureStatus();
}

}  // namespace benchcap::bus
