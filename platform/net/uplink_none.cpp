// The uplink where the system has none yet (Windows): the status box's
// question, answered with no uplink. network.map is not read there.
#include "engine.h"

int GetUplinkStatus(UplinkStatus *status)
{
    *status = UplinkStatus{0, 0, 0, 0};
    return 0;
}
