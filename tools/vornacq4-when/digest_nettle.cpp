// digest.h over nettle's md5 and sha256.
#include "digest.h"

#include <nettle/md5.h>
#include <nettle/sha2.h>

namespace when {

struct Digests::State {
    md5_ctx md5;
    sha256_ctx sha256;
};

Digests::Digests() : state_(new State)
{
    md5_init(&state_->md5);
    sha256_init(&state_->sha256);
}

Digests::~Digests()
{
    delete state_;
}

void Digests::add(const char *data, long long count)
{
    const auto *bytes = reinterpret_cast<const std::uint8_t *>(data);
    md5_update(&state_->md5, static_cast<std::size_t>(count), bytes);
    sha256_update(&state_->sha256, static_cast<std::size_t>(count), bytes);
}

Sums Digests::finish()
{
    std::uint8_t md5[MD5_DIGEST_SIZE], sha256[SHA256_DIGEST_SIZE];
    md5_digest(&state_->md5, sizeof md5, md5);
    sha256_digest(&state_->sha256, sizeof sha256, sha256);
    return {hex(md5, sizeof md5), hex(sha256, sizeof sha256)};
}

} // namespace when
