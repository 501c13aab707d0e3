#pragma once

// Memory figures of the benchmarks: the resident set now, and the peak of one run.

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <utility>

namespace benchcap::bench {

// Resident memory of this process now, in KiB (/proc/self/statm; 0 where there is none).
inline long residentKiB() {
    long pages = 0;
    long resident = 0;
    if (FILE* f = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2)
            resident = 0;
        std::fclose(f);
    }
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

// Runs `run` once in a forked child, so that no earlier benchmark's memory counts;
// {peak RSS, peak minus RSS at the start} in MB.
template <class Run>
std::pair<double, double> peakMemory(Run run) {
    int fds[2];
    if (pipe(fds) != 0)
        return {0, 0};
    const pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        const long before = residentKiB();
        run();
        rusage usage{};
        getrusage(RUSAGE_SELF, &usage);
        const long report[2] = {usage.ru_maxrss, usage.ru_maxrss - before};
        const ssize_t written = write(fds[1], report, sizeof report);
        _exit(written == sizeof report ? 0 : 1);
    }
    close(fds[1]);
    long report[2] = {0, 0};
    const ssize_t got = read(fds[0], report, sizeof report);
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    if (got != sizeof report)
        return {0, 0};
    return {static_cast<double>(report[0]) / 1024.0, static_cast<double>(report[1]) / 1024.0};
}

}  // namespace benchcap::bench
