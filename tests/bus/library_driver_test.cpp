#include "bus/library_driver.h"

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <string>

#include "bus/session.h"
#include "support/test_paths.h"

namespace benchcap::bus {
namespace {

using test::makeTempDir;
using test::readFile;

// Reaches a stub library's recording functions (same handle as the driver's own dlopen).
class StubControl {
  public:
    explicit StubControl(const char* path) : handle_(dlopen(path, RTLD_NOW | RTLD_LOCAL)) {
        if (handle_)
            fn<void (*)()>("stub_reset")();
    }
    ~StubControl() {
        if (handle_)
            dlclose(handle_);
    }
    bool loaded() const { return handle_ != nullptr; }
    std::string log() { return fn<const char* (*)()>("stub_log")(); }
    std::string written() { return fn<const char* (*)()>("stub_written")(); }
    void setRead(const std::string& data, long reportedCount = -1) {
        fn<void (*)(const char*, long, long)>("stub_set_read")(
            data.data(), static_cast<long>(data.size()), reportedCount);
    }
    void setRegisterResult(int result) { fn<void (*)(int)>("stub_set_register_result")(result); }

  private:
    template <typename F>
    F fn(const char* name) {
        return reinterpret_cast<F>(dlsym(handle_, name));
    }
    void* handle_;
};

void expectNoBoards(LibraryDriver& driver) {
    EXPECT_EQ(driver.ibfind("GPIB0"), -1);
    EXPECT_EQ(driver.status().ibsta, LongToInt16(ibsta_bits::ERR));
    EXPECT_EQ(driver.status().iberr, iberr_codes::ENEB);

    EXPECT_EQ(driver.ibdev(0, 20, 0, timeout_codes::T1s, 1, 0), -1);
    EXPECT_EQ(driver.status().iberr, iberr_codes::EDVR);

    char buffer[8] = "keepme";
    EXPECT_EQ(driver.ibwrt(32, "*IDN?", 5), ibsta_bits::ERR);
    EXPECT_EQ(driver.ibrd(32, buffer, sizeof buffer), ibsta_bits::ERR);
    EXPECT_STREQ(buffer, "keepme");
    EXPECT_EQ(driver.status().iberr, iberr_codes::EDVR);
    EXPECT_EQ(driver.status().ibcntl, 0);
    int value = 7;
    EXPECT_EQ(driver.ibask(0, ibc::PAD, &value), ibsta_bits::ERR);
    EXPECT_EQ(value, 7);
    driver.SendIFC(0);
    EXPECT_EQ(driver.status().iberr, iberr_codes::EDVR);
    EXPECT_EQ(driver.ibtmo(0, timeout_codes::T3s), ibsta_bits::ERR);
    EXPECT_TRUE(driver.libraryName().empty());
}

TEST(LibraryDriver, MissingLibraryIsABusWithoutBoards) {
    LibraryDriver driver({"/nonexistent/libgpib.so.0", "libbenchcap-no-such-driver.so"});
    EXPECT_EQ(driver.unavailableReason(),
              "GPIB driver library not found: /nonexistent/libgpib.so.0, "
              "libbenchcap-no-such-driver.so");
    expectNoBoards(driver);
}

TEST(LibraryDriver, FileThatIsNoLibrarySaysSo) {
    const auto dir = makeTempDir("libdrv");
    const std::string path = (dir / "libgpib.so.0").string();
    std::ofstream(path) << "not a shared object";
    LibraryDriver driver({path});
    EXPECT_EQ(driver.unavailableReason().rfind(
                  "GPIB driver library " + path + " could not be loaded: ", 0),
              0u)
        << driver.unavailableReason();
    expectNoBoards(driver);
}

TEST(LibraryDriver, CandidatesFollowTheOverride) {
    const auto defaults = LibraryDriver::libraryCandidates(nullptr);
    ASSERT_FALSE(defaults.empty());
    EXPECT_EQ(defaults.front(), "libgpib.so.0");
    EXPECT_EQ(LibraryDriver::libraryCandidates(""), defaults);
    EXPECT_EQ(LibraryDriver::libraryCandidates("/opt/ni/libni4882.so.1"),
              std::vector<std::string>{"/opt/ni/libni4882.so.1"});
}

TEST(LibraryDriver, LibraryLackingARequiredCallIsNotUsed) {
    {
        LibraryDriver driver({STUB_LACKING_PATH});
        EXPECT_EQ(driver.unavailableReason(),
                  std::string("GPIB driver library ") + STUB_LACKING_PATH + " lacks ibdev");
        expectNoBoards(driver);
    }
    // A usable library further down the list is taken instead.
    StubControl ni(STUB_NI_PATH);
    LibraryDriver driver({STUB_LACKING_PATH, STUB_NI_PATH});
    EXPECT_EQ(driver.unavailableReason(), "");
    EXPECT_EQ(driver.libraryName(), STUB_NI_PATH);
    EXPECT_EQ(driver.ibfind("GPIB0"), 0);
}

TEST(LibraryDriver, NiNamesAndIbconfigForTheMacroCalls) {
    StubControl stub(STUB_NI_PATH);
    ASSERT_TRUE(stub.loaded());
    LibraryDriver driver({STUB_NI_PATH});
    ASSERT_EQ(driver.unavailableReason(), "");

    EXPECT_EQ(driver.ibfind("GPIB0"), 0);
    EXPECT_EQ(driver.ibfind("GPIB7"), -1);
    EXPECT_EQ(driver.status().ibsta, LongToInt16(ibsta_bits::ERR));
    EXPECT_EQ(driver.status().iberr, iberr_codes::ENEB);

    driver.ibpad(0, 5);
    driver.ibrsc(0, 0);
    driver.ibsre(0, 1);
    driver.ibtmo(41, timeout_codes::T3s);
    driver.ibrdf(41, "/tmp/x.bmp");
    EXPECT_EQ(stub.log(),
              "find(GPIB0);find(GPIB7);ibconfig(0,1,5);ibconfig(0,10,0);ibconfig(0,11,1);"
              "ibconfig(41,3,12);ibrdfA(41,/tmp/x.bmp);");
}

TEST(LibraryDriver, StatusIsTakenAsSixteenAndThirtyTwoBits) {
    StubControl stub(STUB_NI_PATH);
    LibraryDriver driver({STUB_NI_PATH});
    const int ud = driver.ibdev(0, 20, 0, timeout_codes::T1s, 1, 0);
    EXPECT_EQ(ud, 60);
    EXPECT_EQ(driver.ibwrt(ud, "*IDN?", 5), ibsta_bits::CMPL);
    EXPECT_EQ(stub.written(), "*IDN?");
    EXPECT_EQ(driver.status().ibcnt, 5);

    // A count past 16 bits: the 16-bit count wraps, the 32-bit one keeps it.
    stub.setRead("ab", 0x18765);
    char buffer[4] = {};
    const int sta = driver.ibrd(ud, buffer, sizeof buffer);
    EXPECT_EQ(sta, ibsta_bits::CMPL | ibsta_bits::END);
    EXPECT_EQ(std::string(buffer, 2), "ab");
    EXPECT_EQ(driver.status().ibsta, ibsta_bits::CMPL | ibsta_bits::END);
    EXPECT_EQ(driver.status().ibcnt, LongToInt16(0x18765));
    EXPECT_EQ(driver.status().ibcnt, -30875);
    EXPECT_EQ(driver.status().ibcntl, 0x18765);
}

TEST(LibraryDriver, BadArgumentsNeverReachTheDriver) {
    StubControl stub(STUB_NI_PATH);
    LibraryDriver driver({STUB_NI_PATH});
    EXPECT_EQ(driver.ibwrt(40, "x", -1), ibsta_bits::ERR);
    EXPECT_EQ(driver.status().iberr, iberr_codes::EARG);
    EXPECT_EQ(driver.ibrd(40, nullptr, 10), ibsta_bits::ERR);
    EXPECT_EQ(driver.ibask(40, ibc::PAD, nullptr), ibsta_bits::ERR);
    EXPECT_EQ(stub.log(), "");
}

TEST(LibraryDriver, ReadToFileWithoutIbrdfReadsUntilEnd) {
    StubControl stub(STUB_REGISTER_PATH);
    LibraryDriver driver({STUB_REGISTER_PATH});
    ASSERT_EQ(driver.unavailableReason(), "");
    std::string payload(150'000, '\0');
    for (size_t i = 0; i < payload.size(); ++i)
        payload[i] = static_cast<char>(i * 7);
    stub.setRead(payload);
    const auto file = makeTempDir("libdrv") / "screen.bmp";
    const int sta = driver.ibrdf(40, file.string());
    EXPECT_EQ(sta & (ibsta_bits::ERR | ibsta_bits::END), ibsta_bits::END);
    EXPECT_EQ(readFile(file), payload);
    EXPECT_EQ(driver.status().ibcntl, 150'000);

    // A file that cannot be written is a file system error.
    stub.setRead("data");
    EXPECT_EQ(
        driver.ibrdf(40, (file.parent_path() / "no" / "such" / "dir").string()) & ibsta_bits::ERR,
        ibsta_bits::ERR);
    EXPECT_EQ(driver.status().iberr, iberr_codes::EFSO);
}

TEST(LibraryDriver, RegisteredStatusVariables) {
    StubControl stub(STUB_REGISTER_PATH);
    {
        // Registered once for the thread, then the driver fills the variables.
        LibraryDriver driver({STUB_REGISTER_PATH});
        EXPECT_EQ(driver.ibfind("GPIB0"), 0);
        EXPECT_EQ(driver.ibfind("GPIB3"), -1);
        EXPECT_EQ(driver.status().ibsta, LongToInt16(ibsta_bits::ERR));
        EXPECT_EQ(driver.status().iberr, iberr_codes::ENEB);
        driver.ibwrt(40, "*RST", 4);
        EXPECT_EQ(driver.status().ibcntl, 4);
    }
    EXPECT_EQ(stub.log(), "register;find(GPIB0);find(GPIB3);ibwrt(40,4);unregister;");
}

TEST(LibraryDriver, RegistrationTakenOverWhenAlreadyRegistered) {
    StubControl stub(STUB_REGISTER_PATH);
    stub.setRegisterResult(1);
    LibraryDriver driver({STUB_REGISTER_PATH});
    driver.ibwrt(40, "*CLS", 4);
    EXPECT_EQ(driver.status().ibsta, ibsta_bits::CMPL);
    EXPECT_EQ(driver.status().ibcntl, 4);
}

TEST(LibraryDriver, FailedRegistrationReportsADriverError) {
    for (int result : {2, 3, 9}) {
        StubControl stub(STUB_REGISTER_PATH);
        stub.setRegisterResult(result);
        LibraryDriver driver({STUB_REGISTER_PATH});
        // The call is still made, but its status is unknown.
        driver.ibwrt(40, "*CLS", 4);
        EXPECT_EQ(stub.written(), "*CLS");
        EXPECT_EQ(driver.status().ibsta, LongToInt16(0x8000)) << result;
        EXPECT_EQ(driver.status().iberr, 0);
        EXPECT_EQ(driver.status().ibcntl, static_cast<int32_t>(0xDEAD37F0u));
        EXPECT_EQ(driver.status().ibcnt, 0);
        const bool unregistered = stub.log().find("unregister") != std::string::npos;
        EXPECT_EQ(unregistered, result != 9) << result;
    }
}

#ifdef SIMGPIB_PATH
// The whole way: library backend -> libbenchcap_simgpib.so -> simulated bench.
TEST(LibraryDriver, TalksToTheSimulatedBenchLibrary) {
    LibraryDriver driver({SIMGPIB_PATH});
    ASSERT_EQ(driver.unavailableReason(), "");

    const int board = driver.ibfind("GPIB0");
    EXPECT_GE(board, 0);
    const int ud = driver.ibdev(0, 20, 0, timeout_codes::T1s, 1, 0);
    ASSERT_GE(ud, 0);
    EXPECT_EQ(driver.ibwrt(ud, "*IDN?", 5) & ibsta_bits::ERR, 0);
    EXPECT_EQ(driver.status().ibcntl, 5);
    char buffer[256] = {};
    EXPECT_EQ(driver.ibrd(ud, buffer, sizeof buffer - 1) & ibsta_bits::ERR, 0);
    const std::string answer(buffer, static_cast<size_t>(driver.status().ibcntl));
    EXPECT_EQ(answer.rfind("Veltronik,KLVZ", 0), 0u) << answer;
    EXPECT_EQ(answer.back(), '\n');

    // Nobody listens at address 1.
    const int empty = driver.ibdev(0, 1, 0, timeout_codes::T300ms, 1, 0);
    ASSERT_GE(empty, 0);
    EXPECT_NE(driver.ibwrt(empty, "*IDN?", 5) & ibsta_bits::ERR, 0);
    EXPECT_EQ(driver.status().iberr, iberr_codes::ENOL);

    // The session and identification run unchanged on it.
    CurrentInstrument instrument;
    SelectInstrument(instrument, 0, 20);
    Session session(driver, instrument);
    session.OpenDevice();
    session.IdentifyDevice();
    EXPECT_EQ(instrument.ModelName, "KLVZ");
}

TEST(LibraryDriver, SimulatedBenchLibraryExportsOnlyTheDriverApi) {
    void* handle = dlopen(SIMGPIB_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(handle, nullptr);
    for (const char* name :
         {"ibdev", "ibrdf", "ibask", "SendIFC", "ThreadIbcntl", "ibsta", "ibcntl"}) {
        EXPECT_NE(dlsym(handle, name), nullptr) << name;
    }
    // The bench inside, e.g. benchcap::bus::LongToInt16(long), stays hidden.
    EXPECT_EQ(dlsym(handle, "_ZN8benchcap3bus11LongToInt16El"), nullptr);

    // The process-wide variables follow the last call, as in linux-gpib.
    auto find = reinterpret_cast<int (*)(const char*)>(dlsym(handle, "ibfind"));
    auto iberr = static_cast<volatile int*>(dlsym(handle, "iberr"));
    auto threadIbsta = reinterpret_cast<int (*)()>(dlsym(handle, "ThreadIbsta"));
    EXPECT_EQ(find("GPIB9"), -1);
    EXPECT_EQ(*iberr, iberr_codes::ENEB);
    EXPECT_EQ(threadIbsta() & ibsta_bits::ERR, ibsta_bits::ERR);
    EXPECT_EQ(find(nullptr), -1);
    EXPECT_EQ(*iberr, iberr_codes::EARG);
    dlclose(handle);
}
#else
TEST(LibraryDriver, TalksToTheSimulatedBenchLibrary) {
    GTEST_SKIP() << "libbenchcap_simgpib.so is not built";
}
#endif

}  // namespace
}  // namespace benchcap::bus
