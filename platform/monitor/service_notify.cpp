// The word to a service manager: ready, and alive (see engine.h).
//
// systemd tells a service it wants word through its environment: the
// socket NOTIFY_SOCKET names takes the datagrams, and WATCHDOG_USEC (with
// WATCHDOG_PID, when set, naming the logger) asks for a pet more often than
// that interval, or the service is taken for hung and restarted. Both are
// read once, at the first word; with no NOTIFY_SOCKET nothing is ever sent.
// sd_notify sends one datagram on a socket of its own and returns. It could
// wait only on a systemd that has stopped reading its socket altogether (the
// kernel holds about ten unread datagrams: minutes of paced pets), and then
// nothing is watching the logger any more. Called from the event loop's
// thread only.
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

// What systemd asked for, and what has been said to it.
struct Word {
    bool read = false;           // the environment has been read
    bool notify = false;         // NOTIFY_SOCKET is set
    double petEvery = 0;         // seconds; 0: no watchdog asked for
    bool readySent = false;
    double lastPet = -1;         // on the system's steady clock; -1: none yet
};
Word g_word;

// The word's state, with what systemd asked for read from the environment
// the first time. WATCHDOG_USEC is left in the environment
// (sd_watchdog_enabled's 0): the logger starts no program that could take
// it for its own.
Word &word()
{
    if (g_word.read)
        return g_word;
    g_word.read = true;
    const char *socket = std::getenv("NOTIFY_SOCKET");
    g_word.notify = socket != nullptr && socket[0] != '\0';
    uint64_t usec = 0;
    if (g_word.notify && sd_watchdog_enabled(0, &usec) > 0 && usec > 0)
        g_word.petEvery = static_cast<double>(usec) / 1e6 / kPetsPerInterval;
    return g_word;
}

} // namespace

void ServiceReady(void)
{
    Word &w = word();
    if (!w.notify || w.readySent)
        return;
    w.readySent = true;
    sd_notify(0, "READY=1");
}

void ServiceAlive(void)
{
    Word &w = word();
    if (w.petEvery <= 0)
        return;
    // The engine's clock for elapsed time: the system's steady one, which
    // time-faking tools leave alone; a test that holds it paces the pets by
    // the time it gives each tick.
    const double now = monotonic_seconds();
    if (w.lastPet >= 0 && now - w.lastPet < w.petEvery)
        return;
    w.lastPet = now;
    sd_notify(0, "WATCHDOG=1");
}
