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
    int sta = 0, err = 0, registerResult = 0;
    long cnt = 0;
    int *regSta = nullptr, *regErr = nullptr, *regCnt = nullptr;
    long* regCntl = nullptr;
};

Stub& stub() {
    static Stub instance;  // the stub's state, like the driver library it plays
    return instance;
}

int done(int sta, int err = 0, long cnt = 0) {
    Stub& s = stub();
    s.sta = sta, s.err = err, s.cnt = cnt;
    if (s.regSta)
        *s.regSta = sta, *s.regErr = err, *s.regCnt = static_cast<int>(cnt), *s.regCntl = cnt;
    return sta;
}

// Records "name(a,b,...);".
void note(const char* name, std::initializer_list<long> values) {
    std::string text = std::string(name) + "(";
    for (long v : values)
        text += (text.back() == '(' ? "" : ",") + std::to_string(v);
    stub().log += text + ");";
}

int findBoard(const char* name) {
    stub().log += std::string("find(") + name + ");";
    const bool known = std::strcmp(name, "GPIB0") == 0;
    done(known ? kCMPL : kERR, known ? 0 : 7);
    return known ? 0 : -1;
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
    note("ibdev", {board, pad, sad, tmo, eot, eos});
    done(kCMPL);
    return 40 + pad;
}
#endif

#ifdef STUB_NI
STUB_EXPORT int ibfindA(const char* name) {
    return findBoard(name);
}
STUB_EXPORT int ibrdfA(int ud, const char* file) {
    stub().log += "ibrdfA(" + std::to_string(ud) + "," + file + ");";
    return done(kCMPL | kEND);
}
#else
STUB_EXPORT int ibfind(const char* name) {
    return findBoard(name);
}
#endif

STUB_EXPORT int ibwrt(int ud, const void* data, long count) {
    note("ibwrt", {ud, count});
    stub().written.append(static_cast<const char*>(data), static_cast<size_t>(count));
    return done(kCMPL, 0, count);
}

STUB_EXPORT int ibrd(int ud, void* buffer, long count) {
    note("ibrd", {ud, count});
    Stub& s = stub();
    const size_t n = std::min(static_cast<size_t>(count), s.readData.size() - s.readPos);
    std::memcpy(buffer, s.readData.data() + s.readPos, n);
    s.readPos += n;
    const int end = s.readPos == s.readData.size() ? kEND : 0;
    return done(kCMPL | end, 0, s.reportedCount >= 0 ? s.reportedCount : static_cast<long>(n));
}

// Calls that only need to be recorded.
#define STUB_CALL(name, params, ...) \
    STUB_EXPORT int name params {    \
        note(#name, {__VA_ARGS__});  \
        return done(kCMPL);          \
    }
STUB_CALL(ibonl, (int ud, int v), ud, v)
STUB_CALL(ibwait, (int ud, int mask), ud, mask)
STUB_CALL(ibloc, (int ud), ud)
#ifdef STUB_NI
STUB_CALL(ibclr, (int ud), ud)
#endif
STUB_CALL(ibconfig, (int ud, int option, int value), ud, option, value)
STUB_EXPORT int ibask(int ud, int option, int* value) {
    *value = 42;
    note("ibask", {ud, option});
    return done(kCMPL);
}
STUB_EXPORT void SendIFC(int board) {
    note("SendIFC", {board});
    done(kCMPL);
}

#if defined(STUB_REGISTER)
STUB_EXPORT int RegisterGpibGlobalsForThread(int* sta, int* err, int* cnt, long* cntl) {
    stub().log += "register;";
    Stub& s = stub();
    const int result = s.registerResult;
    if (result == 0)
        s.regSta = sta, s.regErr = err, s.regCnt = cnt, s.regCntl = cntl;
    if (result == 1)
        s.registerResult = 0;  // registered before: after unregistering it works
    return result;
}
STUB_EXPORT int UnregisterGpibGlobalsForThread() {
    stub().log += "unregister;";
    stub().regSta = nullptr;
    return 0;
}
#else
// NI names the status calls Ibsta() etc., linux-gpib ThreadIbsta() etc.
// clang-format off
#define STATUS_CALLS(prefix)                                                 \
    STUB_EXPORT int prefix##Ibsta() { return stub().sta; }                   \
    STUB_EXPORT int prefix##Iberr() { return stub().err; }                   \
    STUB_EXPORT int prefix##Ibcnt() { return static_cast<int>(stub().cnt); } \
    STUB_EXPORT long prefix##Ibcntl() { return stub().cnt; }
// clang-format on
#ifdef STUB_NI
STATUS_CALLS()
#else
STATUS_CALLS(Thread)
#endif
#endif
