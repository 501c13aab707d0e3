#include <iostream>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "cli/interrupt.h"

int main(int argc, char** argv) {
    benchcap::cli::installInterruptHandlers();
    std::vector<std::string> args(argv + 1, argv + argc);
    const int code = benchcap::cli::runCli(args, std::cout, std::cerr);
    // A stopped command has removed its temporary file; the shell's convention for a
    // program ended by a signal is 128 plus the signal number.
    if (const int signal = benchcap::cli::interruptSignal(); signal != 0)
        return 128 + signal;
    return code;
}
