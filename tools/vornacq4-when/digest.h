// digest.h - the checksums of a bag's files: md5 and sha256 of a stream of
// bytes, taken together in one pass, in memory of a fixed size whatever the
// length. A library does the work: nettle on Linux (digest_nettle.cpp), the
// system's own CNG (bcrypt) on Windows (digest_win32.cpp).
#pragma once

#include <array>
#include <string>

namespace when {

// The algorithms of a bag's manifests, in the order of Sums.
enum Algorithm { kMd5, kSha256, kAlgorithms };

// "md5", "sha256": as manifest file names spell them.
const char *algorithm_name(Algorithm a);

// Lower-case hex digests, one per algorithm; empty where the system could
// not take one (Windows' provider missing).
using Sums = std::array<std::string, kAlgorithms>;

class Digests {
public:
    Digests();
    ~Digests();
    Digests(const Digests &) = delete;
    Digests &operator=(const Digests &) = delete;

    // Takes in `count` more bytes.
    void add(const char *data, long long count);
    // The digests of every byte added; the object is spent after it.
    Sums finish();

private:
    struct State;
    State *state_;
};

// `bytes` bytes as lower-case hex.
std::string hex(const unsigned char *bytes, int count);

} // namespace when
