// PLACEHOLDER on the skeleton branch: the Win32 serial back end replaces it.
#include "serial_backend.h"
#include "engine.h"
namespace serialdev {
bool valid(const Settings &) { return true; }
Handle open(const char *, const Settings &) { return COM_ERR_SYSTEM; }
int apply(Handle, const Settings &) { return COM_ERR_SYSTEM; }
void flush_input(Handle) {}
long read_some(Handle, unsigned char *, std::size_t) { return COM_ERR_DEVICE_GONE; }
void close(Handle) {}
void wait(const Handle *, Readiness *ready, int count, int) { for (int i = 0; i < count; ++i) ready[i] = Idle; }
void wake() {}
}
