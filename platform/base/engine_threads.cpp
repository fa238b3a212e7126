// The end of the engine's threads, in the order engine_threads.h gives.
#include "engine_threads.h"

#include "engine.h"
#include "net/feeds.h"
#include "serial/serial_port.h"
#ifndef _WIN32
#include "monitor/monitor.h"
#endif

#include <cstdlib>
#include <mutex>

namespace {

std::once_flag g_registered;

} // namespace

void engine_thread_started()
{
    std::call_once(g_registered, [] { std::atexit(StopEngine); });
}

void StopEngine(void)
{
#ifndef _WIN32
    monitor::http_stop();
#endif
    serial::stop_threads();
    feeds_stop();
}
