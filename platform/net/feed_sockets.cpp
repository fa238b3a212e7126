#include "feed_sockets.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

namespace net {

namespace {

// The kernel's share of a client's backlog: with the feed's ring, what a
// client may fall behind before it is closed (the kernel doubles this).
constexpr int kClientSendBuffer = 64 * 1024;

int fail(int fd, const char *what, std::string &why)
{
    why = std::string(what) + ": " + std::strerror(errno);
    if (fd >= 0)
        ::close(fd);
    return -1;
}

void set_option(int fd, int level, int name, int value)
{
    setsockopt(fd, level, name, &value, sizeof value);
}

bool is_multicast(const sockaddr_storage &a)
{
    if (a.ss_family == AF_INET)
        return IN_MULTICAST(ntohl(reinterpret_cast<const sockaddr_in &>(a).sin_addr.s_addr));
    return a.ss_family == AF_INET6 && IN6_IS_ADDR_MULTICAST(&reinterpret_cast<const sockaddr_in6 &>(a).sin6_addr);
}

void name_peer(const sockaddr_storage &a, char *peer, std::size_t size)
{
    char host[INET6_ADDRSTRLEN] = "?";
    int port = 0;
    if (a.ss_family == AF_INET) {
        const auto &v4 = reinterpret_cast<const sockaddr_in &>(a);
        inet_ntop(AF_INET, &v4.sin_addr, host, sizeof host);
        port = ntohs(v4.sin_port);
        std::snprintf(peer, size, "%s:%d", host, port);
    } else {
        const auto &v6 = reinterpret_cast<const sockaddr_in6 &>(a);
        inet_ntop(AF_INET6, &v6.sin6_addr, host, sizeof host);
        port = ntohs(v6.sin6_port);
        std::snprintf(peer, size, "[%s]:%d", host, port);
    }
}

} // namespace

int open_tcp_server(const FeedEntry &entry, std::string &why)
{
    const int family = entry.address.ss_family;
    const int fd = ::socket(family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return fail(fd, "cannot make a socket", why);
    set_option(fd, SOL_SOCKET, SO_REUSEADDR, 1); // a restart need not wait for old connections to time out
    if (family == AF_INET6)
        set_option(fd, IPPROTO_IPV6, IPV6_V6ONLY, 1);
    if (::bind(fd, reinterpret_cast<const sockaddr *>(&entry.address), entry.addressLength) != 0)
        return fail(fd, "cannot listen there", why);
    if (::listen(fd, 16) != 0)
        return fail(fd, "cannot listen there", why);
    return fd;
}

int open_udp_sender(const FeedEntry &entry, std::string &why)
{
    const int family = entry.address.ss_family;
    const int fd = ::socket(family, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return fail(fd, "cannot make a socket", why);
    if (family == AF_INET)
        set_option(fd, SOL_SOCKET, SO_BROADCAST, 1);
    if (is_multicast(entry.address) && family == AF_INET)
        set_option(fd, IPPROTO_IP, IP_MULTICAST_TTL, entry.ttl);
    if (is_multicast(entry.address) && family == AF_INET6)
        set_option(fd, IPPROTO_IPV6, IPV6_MULTICAST_HOPS, entry.ttl);
    if (::connect(fd, reinterpret_cast<const sockaddr *>(&entry.address), entry.addressLength) != 0)
        return fail(fd, "cannot send there", why);
    return fd;
}

int accept_client(int server, char *peer, std::size_t peerSize)
{
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    const int fd = ::accept4(server, reinterpret_cast<sockaddr *>(&address), &length, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0)
        return -errno;
    set_option(fd, IPPROTO_TCP, TCP_NODELAY, 1); // each read goes out as it came
    set_option(fd, SOL_SOCKET, SO_SNDBUF, kClientSendBuffer);
    name_peer(address, peer, peerSize);
    return fd;
}

long send_some(int fd, const unsigned char *bytes, std::size_t count)
{
    const ssize_t n = ::send(fd, bytes, count, MSG_DONTWAIT | MSG_NOSIGNAL);
    return n >= 0 ? static_cast<long>(n) : (errno == EWOULDBLOCK ? -EAGAIN : -errno);
}

long discard_input(int fd, unsigned char *scratch, std::size_t size)
{
    const ssize_t n = ::recv(fd, scratch, size, MSG_DONTWAIT);
    return n >= 0 ? static_cast<long>(n) : (errno == EWOULDBLOCK ? -EAGAIN : -errno);
}

} // namespace net
