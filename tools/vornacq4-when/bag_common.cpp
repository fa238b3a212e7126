// What making and checking a bag share: manifest paths, reading a file
// through its checksums, sizes; and the digests' hex and names.
#include "bag.h"

#include "files.h"

#include <algorithm>

namespace when {

const char *algorithm_name(Algorithm a)
{
    return a == kMd5 ? "md5" : "sha256";
}

std::string hex(const unsigned char *bytes, int count)
{
    static const char digits[] = "0123456789abcdef";
    std::string s;
    for (int i = 0; i < count; ++i)
        s += std::string{digits[bytes[i] >> 4], digits[bytes[i] & 15]};
    return s;
}

std::string encode_path(const std::string &path)
{
    std::string s;
    for (const char c : path)
        s += c == '%' ? "%25" : c == '\r' ? "%0D" : c == '\n' ? "%0A" : std::string(1, c);
    return s;
}

bool decode_path(const std::string &text, std::string &path)
{
    path.clear();
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            path += text[i];
            continue;
        }
        const std::string code = text.substr(i + 1, 2);
        if (code != "25" && code != "0D" && code != "0A" && code != "0d" && code != "0a")
            return false;
        path += code == "25" ? '%' : code[1] == 'D' || code[1] == 'd' ? '\r' : '\n';
        i += 2;
    }
    return true;
}

long long stream_file(const std::string &path, Digests &digests, std::FILE *out, std::string &error)
{
    static char buffer[1024 * 1024];
    long long length = 0;
    const int fd = open_regular(path, length, error);
    if (fd < 0)
        return -1;
    long long done = 0;
    while (done < length) {
        const long long n = read_at(fd, done, buffer, std::min<long long>(length - done, sizeof buffer));
        if (n <= 0 || (out != nullptr && std::fwrite(buffer, 1, static_cast<std::size_t>(n), out) !=
                                             static_cast<std::size_t>(n)))
            break;
        digests.add(buffer, n);
        done += n;
    }
    close_file(fd);
    if (done < length)
        error = path + (out != nullptr ? " could not be copied" : " could not be read through");
    return done < length ? -1 : done;
}

std::string human_size(long long bytes)
{
    static const char *const units[] = {"bytes", "KB", "MB", "GB", "TB", "PB"};
    double size = static_cast<double>(bytes);
    int unit = 0;
    for (; size >= 1000 && unit < 5; ++unit)
        size /= 1000;
    char text[32];
    std::snprintf(text, sizeof text, unit == 0 ? "%.0f %s" : "%.1f %s", size, units[unit]);
    return text;
}

} // namespace when
