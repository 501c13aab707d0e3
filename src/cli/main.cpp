#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <iostream>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "cli/interrupt.h"

namespace {

// A standard stream the caller closed would otherwise be the next file opened (an output
// file's temporary), and printed text would land in it. Holding /dev/null read-only in its
// place makes every write to it fail, so the output check reports it.
void holdClosedStandardStreams() {
    for (int fd = 0; fd <= 2; ++fd) {
        if (::fcntl(fd, F_GETFD) == -1 && errno == EBADF) {
            const int held = ::open("/dev/null", O_RDONLY);
            if (held >= 0 && held != fd) {
                ::dup2(held, fd);
                ::close(held);
            }
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    holdClosedStandardStreams();
    benchcap::cli::installInterruptHandlers();
    std::vector<std::string> args(argv + 1, argv + argc);
    const int code = benchcap::cli::runCli(args, std::cout, std::cerr);
    // A stopped command has removed its temporary file; the shell's convention for a
    // program ended by a signal is 128 plus the signal number.
    if (const int signal = benchcap::cli::interruptSignal(); signal != 0)
        return 128 + signal;
    return code;
}
