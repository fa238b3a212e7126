// The system's clock on POSIX: local time through the C library (so
// time-faking tools work), CLOCK_REALTIME, and the kernel's word on whether
// the clock is kept synchronised.
#include "clock.h"

#include "engine.h"

#include <ctime>
#include <sys/timex.h>

std::tm system_local_time()
{
    std::time_t t = std::time(nullptr);
    std::tm local{};
    localtime_r(&t, &local);
    return local;
}

long long system_wall_clock_us()
{
    timespec t{};
    clock_gettime(CLOCK_REALTIME, &t);
    return static_cast<long long>(t.tv_sec) * 1000000 + t.tv_nsec / 1000;
}

int ClockSynchronised(void)
{
    timex status{};
    const int state = ntp_adjtime(&status); // modes 0: reads, changes nothing
    return state != -1 && state != TIME_ERROR && (status.status & STA_UNSYNC) == 0 ? 1 : 0;
}
