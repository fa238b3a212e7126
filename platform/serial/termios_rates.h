// termios_rates.h - the one table of the rates a Linux terminal can be set
// to, in baud, and the speed codes termios takes for them. The serial back
// end and the tools that set a terminal's rate (vornacq4-when's replay) look
// a rate up here.
#pragma once

#include <termios.h>

namespace serialdev {

// The termios speed code of baud. False, with code untouched, when a
// terminal has no code for that rate.
bool termios_speed(long baud, speed_t &code);

} // namespace serialdev
