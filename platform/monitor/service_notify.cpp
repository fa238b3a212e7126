// The word to a service manager: ready, and alive (see engine.h).
//
// systemd tells a service it wants word through its environment: the
// socket NOTIFY_SOCKET names takes the datagrams, and WATCHDOG_USEC (with
// WATCHDOG_PID, when set, naming the logger) asks for a pet more often than
// that interval, or the service is taken for hung and restarted. Both are
// read once, at the first word; with no NOTIFY_SOCKET nothing is ever sent.
// sd_notify sends one datagram on a socket of its own and returns: nothing
// here waits on systemd. Called from the event loop's thread only.
#include "engine.h"

#include "base/clock.h"

#include <cstdint>
#include <cstdlib>
#include <systemd/sd-daemon.h>

namespace {

// The ticks that pet come every 250 ms (the countdown's every second) and
// may come late when the machine is busy. A pet once a quarter of the
// watchdog's interval has passed keeps successive pets within half of it
// for any interval of a second or more, with a quarter of it to spare for
// late ticks; at 60 s that is one datagram every 15 s.
constexpr int kPetsPerInterval = 4;

struct Asked {
    bool read = false;
    bool notify = false;         // NOTIFY_SOCKET is set
    double petEvery = 0;         // seconds; 0: no watchdog asked for
    bool readySent = false;
    double lastPet = -1;         // on the system's steady clock; -1: none yet
};
Asked g_asked;

// What systemd asked for, from the environment, the first time only.
const Asked &asked()
{
    if (g_asked.read)
        return g_asked;
    g_asked.read = true;
    const char *socket = std::getenv("NOTIFY_SOCKET");
    g_asked.notify = socket != nullptr && socket[0] != '\0';
    uint64_t usec = 0;
    if (g_asked.notify && sd_watchdog_enabled(0, &usec) > 0 && usec > 0)
        g_asked.petEvery = static_cast<double>(usec) / 1e6 / kPetsPerInterval;
    return g_asked;
}

} // namespace

void ServiceReady(void)
{
    if (!asked().notify || g_asked.readySent)
        return;
    g_asked.readySent = true;
    sd_notify(0, "READY=1");
}

void ServiceAlive(void)
{
    if (asked().petEvery <= 0)
        return;
    // The system's own clock: a test that fixes the program's time must not
    // stop the pets.
    const double now = system_monotonic_seconds();
    if (g_asked.lastPet >= 0 && now - g_asked.lastPet < g_asked.petEvery)
        return;
    g_asked.lastPet = now;
    sd_notify(0, "WATCHDOG=1");
}
