// A stand-in driver library for the library backend's tests, built in three flavours:
//   STUB_NI        NI-488.2 names: ibfindA, ibrdfA, no ibpad/ibrsc/ibsre/ibtmo, Ibsta() etc.
//   STUB_LACKING   linux-gpib names without ibdev
//   STUB_REGISTER  linux-gpib names without ibrdf, status through RegisterGpibGlobalsForThread
// It answers like a bus with board "GPIB0" and records what it received; tests reach the
// record through the stub_* functions.

#include <algorithm>
#include <cstring>
#include <string>

#define STUB_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

constexpr int kERR = 0x8000;
constexpr int kEND = 0x2000;
constexpr int kCMPL = 0x0100;

struct Stub {
    std::string log;      // "name(args);" per call
    std::string written;  // bytes of every ibwrt
    std::string readData = "STUB\n";
    size_t readPos = 0;
    long reportedCount = -1;  // when >= 0, the count reported for reads instead of the real one
    int sta = 0;
    int err = 0;
    long cnt = 0;
    int registerResult = 0;
    int* regSta = nullptr;
    int* regErr = nullptr;
    int* regCnt = nullptr;
    long* regCntl = nullptr;
};

Stub& stub() {
    static Stub instance;  // the stub's state, like the driver library it plays
    return instance;
}

int done(int sta, int err, long cnt) {
    Stub& s = stub();
    s.sta = sta;
    s.err = err;
    s.cnt = cnt;
    if (s.regSta) {
        *s.regSta = sta;
        *s.regErr = err;
        *s.regCnt = static_cast<int>(cnt);
        *s.regCntl = cnt;
    }
    return sta;
}

void note(const std::string& text) {
    stub().log += text + ";";
}

std::string args(std::initializer_list<long> values) {
    std::string text = "(";
    for (long v : values)
        text += (text.size() > 1 ? "," : "") + std::to_string(v);
    return text + ")";
}

int findBoard(const char* name) {
    note(std::string("find(") + name + ")");
    if (std::strcmp(name, "GPIB0") == 0) {
        done(kCMPL, 0, 0);
        return 0;
    }
    done(kERR, 7, 0);
    return -1;
}

}  // namespace

STUB_EXPORT void stub_reset() {
    stub() = Stub{};
}
STUB_EXPORT const char* stub_log() {
    return stub().log.c_str();
}
STUB_EXPORT const char* stub_written() {
    return stub().written.c_str();
}
STUB_EXPORT void stub_set_read(const char* data, long size, long reportedCount) {
    stub().readData.assign(data, static_cast<size_t>(size));
    stub().readPos = 0;
    stub().reportedCount = reportedCount;
}
STUB_EXPORT void stub_set_register_result(int result) {
    stub().registerResult = result;
}

#ifndef STUB_LACKING
STUB_EXPORT int ibdev(int board, int pad, int sad, int tmo, int eot, int eos) {
    note("ibdev" + args({board, pad, sad, tmo, eot, eos}));
    done(kCMPL, 0, 0);
    return 40 + pad;
}
#endif

#ifdef STUB_NI
STUB_EXPORT int ibfindA(const char* name) {
    return findBoard(name);
}
STUB_EXPORT int ibrdfA(int ud, const char* file) {
    note("ibrdfA(" + std::to_string(ud) + "," + file + ")");
    return done(kCMPL | kEND, 0, 0);
}
#else
STUB_EXPORT int ibfind(const char* name) {
    return findBoard(name);
}
#endif

STUB_EXPORT int ibwrt(int ud, const void* data, long count) {
    note("ibwrt" + args({ud, count}));
    stub().written.append(static_cast<const char*>(data), static_cast<size_t>(count));
    return done(kCMPL, 0, count);
}

STUB_EXPORT int ibrd(int ud, void* buffer, long count) {
    note("ibrd" + args({ud, count}));
    Stub& s = stub();
    const size_t n = std::min(static_cast<size_t>(count), s.readData.size() - s.readPos);
    std::memcpy(buffer, s.readData.data() + s.readPos, n);
    s.readPos += n;
    const int end = s.readPos == s.readData.size() ? kEND : 0;
    return done(kCMPL | end, 0, s.reportedCount >= 0 ? s.reportedCount : static_cast<long>(n));
}

STUB_EXPORT int ibonl(int ud, int v) {
    note("ibonl" + args({ud, v}));
    return done(kCMPL, 0, 0);
}
STUB_EXPORT int ibwait(int ud, int mask) {
    note("ibwait" + args({ud, mask}));
    return done(kCMPL, 0, 0);
}
STUB_EXPORT int ibloc(int ud) {
    note("ibloc" + args({ud}));
    return done(kCMPL, 0, 0);
}
STUB_EXPORT int ibconfig(int ud, int option, int value) {
    note("ibconfig" + args({ud, option, value}));
    return done(kCMPL, 0, 0);
}
STUB_EXPORT int ibask(int ud, int option, int* value) {
    note("ibask" + args({ud, option}));
    *value = 42;
    return done(kCMPL, 0, 0);
}
STUB_EXPORT void SendIFC(int board) {
    note("SendIFC" + args({board}));
    done(kCMPL, 0, 0);
}

#ifdef STUB_NI
STUB_EXPORT int Ibsta() {
    return stub().sta;
}
STUB_EXPORT int Iberr() {
    return stub().err;
}
STUB_EXPORT int Ibcnt() {
    return static_cast<int>(stub().cnt);
}
STUB_EXPORT long Ibcntl() {
    return stub().cnt;
}
#elif defined(STUB_REGISTER)
STUB_EXPORT int RegisterGpibGlobalsForThread(int* sta, int* err, int* cnt, long* cntl) {
    note("register");
    Stub& s = stub();
    if (s.registerResult == 0) {
        s.regSta = sta;
        s.regErr = err;
        s.regCnt = cnt;
        s.regCntl = cntl;
    }
    const int result = s.registerResult;
    if (result == 1)
        s.registerResult = 0;  // registered before: after unregistering it works
    return result;
}
STUB_EXPORT int UnregisterGpibGlobalsForThread() {
    note("unregister");
    Stub& s = stub();
    s.regSta = nullptr;
    s.regErr = nullptr;
    s.regCnt = nullptr;
    s.regCntl = nullptr;
    return 0;
}
#else
STUB_EXPORT int ThreadIbsta() {
    return stub().sta;
}
STUB_EXPORT int ThreadIberr() {
    return stub().err;
}
STUB_EXPORT int ThreadIbcnt() {
    return static_cast<int>(stub().cnt);
}
STUB_EXPORT long ThreadIbcntl() {
    return stub().cnt;
}
#endif
