// PLACEHOLDER on the skeleton branch: SetupAPI identities replace it.
#include "serial_backend.h"
namespace serialdev {
std::atomic<IdentitySource> identity_source{system_identity};
std::string identity(const char *path) { return identity_source.load()(path); }
std::string system_identity(const char *) { return std::string(); }
}
