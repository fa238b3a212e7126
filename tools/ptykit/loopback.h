// loopback.h - sockets on 127.0.0.1, the only address the tests and the
// benchmarks talk to.
#pragma once

#include <netinet/in.h>

namespace ptykit {

// 127.0.0.1:port.
sockaddr_in loopback(int port);
// A socket of the type (SOCK_STREAM, SOCK_DGRAM) bound to an unused
// loopback port, non-blocking; its port in `port`. Throws when there is none.
int bound_socket(int type, int &port);
// A loopback port that was unused a moment ago, for a server the test names.
int free_tcp_port();
// A connected, blocking TCP socket to 127.0.0.1:port, or -1.
int connect_loopback(int port);

} // namespace ptykit
