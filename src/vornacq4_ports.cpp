// The run's ports: which it opens, and the settings it gives them. Nothing
// here touches a panel, so it builds wherever the engine's serial ports do.
#include "vornacq4.h"

#include "engine.h"
#include "run_state.h"

// Each opened port: 1.0 s time-out, and the engine's full queues.
enum { OUTPUT_QUEUE_LEN = 512 };
#define PORT_TIMEOUT 1.0

// Whether the run wants the port open: it is logged, and it has a data file
// or a display slot.
static int port_in_run(int port)
{
    return RS232Sel[port] != 0 && (file_stat[port] != 0 || RS232Disp[port] != 0);
}

void set_up_port(int port)
{
    SetXMode(port, 0);
    SetCTSMode(port, 0);
    SetComTime(port, PORT_TIMEOUT);
    port_set_up[port] = 1;
}

// Opens the port at its rate, 8 data bits, no parity, 1 stop bit, with the
// run's settings. A device that is missing or busy now is opened by the
// engine as soon as it can be (about once a second), so one plugged in late
// joins the run; the tick gives it the run's settings when it first finds it
// open. Bytes sent before the open are no part of the run.
static void open_port(int port)
{
    port_set_up[port] = 0;
    if (OpenComConfigRetry(port, "", baudrate[port], 0, 8, 1, COM_QUEUE_MAX, OUTPUT_QUEUE_LEN) != 0)
        return;
    set_up_port(port);
    FlushInQ(port);
}

// Opens every port the run wants; logging begins with the bytes that arrive
// from now on.
void open_ports(void)
{
    for (int port = 1; port <= MAX_PORT; ++port)
        if (port_in_run(port))
            open_port(port);
}
