// The monitor where the system has none yet (Windows): no HTTP endpoint and
// no service manager to tell, so the program's figures have no reader.
#include "engine.h"

void ReportPortFigures(int, const PortReport *)
{
}

void ReportRunFigures(int, int, const char *)
{
}

void ServiceReady(void)
{
}

void ServiceAlive(void)
{
}
