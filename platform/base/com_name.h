// com_name.h - reading a port's name as the operator writes it in the
// start-up directory's maps ("COM1" .. "COM18", any letter case).
#pragma once

#include <string>

// The n of "COMn" (1..COM_PORTS, no leading zero), or 0 for anything else.
int com_number(const std::string &word);
