// clock.h - the engine's measure of elapsed time.
#pragma once

// Seconds on a clock that never goes back, for how long ago something
// happened (a port's last byte, its device's departure); only differences
// mean anything. While a test has fixed the clock (SeamSetClock) it reads
// the fixed time, so moving that time moves this clock with it.
double monotonic_seconds();
