#include "com_name.h"

#include "engine.h"

#include <cctype>

int com_name_number(const std::string &word)
{
    // Four digits at the most, so that the number cannot overflow.
    if (word.size() < 4 || word.size() > 7 || word[3] == '0')
        return 0;
    for (int i = 0; i < 3; ++i)
        if (std::toupper(static_cast<unsigned char>(word[i])) != "COM"[i])
            return 0;
    int n = 0;
    for (std::size_t i = 3; i < word.size(); ++i) {
        if (!std::isdigit(static_cast<unsigned char>(word[i])))
            return 0;
        n = n * 10 + (word[i] - '0');
    }
    return n;
}

int com_number(const std::string &word)
{
    const int n = com_name_number(word);
    return n <= COM_PORTS ? n : 0;
}
