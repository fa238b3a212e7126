#include "engine.h"
void ReportPortFigures(int, const PortReport *) {}
void ReportRunFigures(int, double, const char *) {}
