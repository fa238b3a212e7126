// Fmt: the "%s<" formats of the program's labels and messages.
#include "engine.h"

#include <cstdio>
#include <algorithm>
#include <cstring>
#include <string>

namespace {

// Appends text to out, never beyond limit characters.
void put(std::string &out, std::size_t limit, const char *text, std::size_t length)
{
    if (out.size() >= limit)
        return;
    out.append(text, std::min(length, limit - out.size()));
}

} // namespace

int FmtInto(char *target, std::size_t size, const char *format, const FmtItem *items, int count)
{
    if (target == nullptr || size == 0)
        return -1;
    // The result is built apart from target, so an item may be the target itself.
    std::string out;
    const std::size_t limit = size - 1;
    int used = 0;
    bool ok = format != nullptr && std::strncmp(format, "%s<", 3) == 0;
    for (const char *f = ok ? format + 3 : ""; ok && *f != '\0'; ++f) {
        if (f[0] != '%' || (f[1] != 's' && f[1] != 'i')) {
            put(out, limit, f, 1);
            continue;
        }
        const bool wantString = f[1] == 's';
        ++f;
        if (used >= count || (items[used].kind == FmtItem::Str) != wantString) {
            ok = false;
            break;
        }
        const FmtItem &item = items[used++];
        if (wantString) {
            const char *s = item.s != nullptr ? item.s : "";
            put(out, limit, s, std::strlen(s));
        } else {
            char digits[24];
            int n = std::snprintf(digits, sizeof digits, "%ld", item.i);
            put(out, limit, digits, static_cast<std::size_t>(n));
        }
    }
    if (!ok || used != count) {
        target[0] = '\0';
        return -1;
    }
    std::memcpy(target, out.data(), out.size());
    target[out.size()] = '\0';
    return used;
}
