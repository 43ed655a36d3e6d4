#pragma once
// What the benchmarks share beyond the tests' support (TestSupport.h: the offscreen set-up, resident
// memory, a pseudo-terminal linked as a COM number, the simulator as a child process): the process's
// CPU time.
#include "TestSupport.h"

#include <sys/resource.h>

namespace bench {

// User plus system time of this process so far, all threads.
inline double CpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

} // namespace bench
