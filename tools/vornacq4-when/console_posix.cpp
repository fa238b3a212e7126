// console.h on POSIX: arguments and output are bytes already.
#include "console.h"

namespace when {

std::vector<std::string> arguments(int argc, char *argv[])
{
    return std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc);
}

void binary_output()
{
}

} // namespace when
