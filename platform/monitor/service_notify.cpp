// The word to a service manager: ready, and alive (see engine.h).
#include "engine.h"

void ServiceReady(void) {}
void ServiceAlive(void) {}
