// console.h - the command line and standard output as the system hands them
// over, made alike everywhere: arguments in UTF-8, output bytes unaltered
// (a slice must reach its file exactly; CSV ends its lines with CR LF
// itself). console_posix.cpp or console_win32.cpp, as CMake chooses.
#pragma once

#include <string>
#include <vector>

namespace when {

// The arguments after the program's name, in UTF-8. `argc` and `argv` are
// main's; Windows' own UTF-16 command line is read instead where there is one.
std::vector<std::string> arguments(int argc, char *argv[]);

// Makes standard output pass bytes through as they are written.
void binary_output();

} // namespace when
