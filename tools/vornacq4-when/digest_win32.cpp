// digest.h over Windows' CNG: a bcrypt hash object per algorithm.
#include "digest.h"

#include <windows.h>
// After windows.h, which it needs.
#include <bcrypt.h>

namespace when {

namespace {

constexpr int kLongestDigest = 32; // sha256's

const wchar_t *provider_name(int a)
{
    return a == kMd5 ? BCRYPT_MD5_ALGORITHM : BCRYPT_SHA256_ALGORITHM;
}

} // namespace

struct Digests::State {
    BCRYPT_ALG_HANDLE algorithm[kAlgorithms] = {};
    BCRYPT_HASH_HANDLE hash[kAlgorithms] = {};
    bool ok[kAlgorithms] = {};
};

Digests::Digests() : state_(new State)
{
    for (int a = 0; a < kAlgorithms; ++a)
        state_->ok[a] = BCryptOpenAlgorithmProvider(&state_->algorithm[a], provider_name(a), nullptr, 0) == 0 &&
                        BCryptCreateHash(state_->algorithm[a], &state_->hash[a], nullptr, 0, nullptr, 0, 0) == 0;
}

Digests::~Digests()
{
    for (int a = 0; a < kAlgorithms; ++a) {
        if (state_->hash[a] != nullptr)
            BCryptDestroyHash(state_->hash[a]);
        if (state_->algorithm[a] != nullptr)
            BCryptCloseAlgorithmProvider(state_->algorithm[a], 0);
    }
    delete state_;
}

void Digests::add(const char *data, long long count)
{
    auto *bytes = reinterpret_cast<PUCHAR>(const_cast<char *>(data));
    for (int a = 0; a < kAlgorithms; ++a)
        if (state_->ok[a])
            state_->ok[a] = BCryptHashData(state_->hash[a], bytes, static_cast<ULONG>(count), 0) == 0;
}

Sums Digests::finish()
{
    Sums sums;
    const ULONG lengths[kAlgorithms] = {16, 32};
    for (int a = 0; a < kAlgorithms; ++a) {
        unsigned char digest[kLongestDigest];
        if (state_->ok[a] && BCryptFinishHash(state_->hash[a], digest, lengths[a], 0) == 0)
            sums[a] = hex(digest, static_cast<int>(lengths[a]));
    }
    return sums;
}

} // namespace when
