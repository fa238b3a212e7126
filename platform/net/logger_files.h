// logger_files.h - which data file the logger has open now, per port.
//
// The engine notes it where every file is opened and closed (files.cpp), so
// the uplink can tell the current file from a finished one without listing
// a directory, and knows where the logger writes when the names and times
// of the files no longer tell (a clock set back). Any thread may call these.
#pragma once

#include <string>

namespace net {

// A data file opened for writing: a bare name "dddsssss.Cnn" (port 01..18)
// opened in a day directory "Dddd" becomes its port's current file, under
// handle. Anything else is not noted.
void note_opened(int handle, const char *name);
// The handle is closed: its port has no current file any more.
void note_closed(int handle);
// The port's current file, "Dddd/dddsssss.Cnn" from the start-up
// directory, or "" when the logger has none open for it.
std::string logger_file(int port);

} // namespace net
