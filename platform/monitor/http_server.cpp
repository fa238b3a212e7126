// The HTTP endpoint, on GNU libmicrohttpd: a library that has parsed HTTP
// for years in front of hostile networks, with the limits an unattended
// logger needs built in (connections, memory per connection, idle time).
// It answers from a thread of its own; nothing it does waits on the window
// or the acquisition tick, and nothing is ever read from disk.
#include "monitor.h"

#include "base/engine_threads.h"
#include "base/thread_name.h"

#include <microhttpd.h>

#include <cstdio>
#include <cstring>
#include <mutex>
#include <pthread.h>

namespace monitor {

namespace {

// A monitoring server, a script and a few browsers need a handful; the cap
// keeps idle or hostile connections from costing more than this.
constexpr unsigned kMaxConnections = 32;
constexpr unsigned kIdleSeconds = 10;
// A request line and its headers beyond this are refused; ours are short.
constexpr std::size_t kConnectionMemory = 16 * 1024;

MHD_Daemon *g_daemon = nullptr;
std::once_flag g_started;

MHD_Result answer(MHD_Connection *connection, unsigned status, const std::string &body, const char *type)
{
    MHD_Response *response =
        MHD_create_response_from_buffer(body.size(), const_cast<char *>(body.data()), MHD_RESPMEM_MUST_COPY);
    if (response == nullptr)
        return MHD_NO;
    MHD_add_response_header(response, "Content-Type", type);
    MHD_add_response_header(response, "Cache-Control", "no-store");
    MHD_add_response_header(response, "X-Content-Type-Options", "nosniff");
    if (status == MHD_HTTP_METHOD_NOT_ALLOWED)
        MHD_add_response_header(response, "Allow", "GET, HEAD");
    if (status == MHD_HTTP_SERVICE_UNAVAILABLE)
        MHD_add_response_header(response, "Retry-After", "1");
    const MHD_Result queued = MHD_queue_response(connection, status, response);
    MHD_destroy_response(response);
    return queued;
}

MHD_Result handle(void *, MHD_Connection *connection, const char *url, const char *method, const char *,
                  const char *, size_t *, void **)
{
    const bool get = std::strcmp(method, MHD_HTTP_METHOD_GET) == 0;
    if (!get && std::strcmp(method, MHD_HTTP_METHOD_HEAD) != 0)
        return answer(connection, MHD_HTTP_METHOD_NOT_ALLOWED, "only GET and HEAD\n", "text/plain; charset=utf-8");
    if (std::strcmp(url, "/") == 0)
        return answer(connection, MHD_HTTP_OK, kStatusPage, "text/html; charset=utf-8");
    const bool metrics = std::strcmp(url, "/metrics") == 0;
    if (!metrics && std::strcmp(url, "/status.json") != 0)
        return answer(connection, MHD_HTTP_NOT_FOUND, "not found\n", "text/plain; charset=utf-8");
    static thread_local RunFacts facts; // the endpoint's thread's own
    snapshot(facts);
    if (!facts.ready) // the engine is still starting: no half facts
        return answer(connection, MHD_HTTP_SERVICE_UNAVAILABLE, "starting\n", "text/plain; charset=utf-8");
    if (metrics)
        return answer(connection, MHD_HTTP_OK, metrics_text(facts), "text/plain; version=0.0.4; charset=utf-8");
    return answer(connection, MHD_HTTP_OK, status_json(facts), "application/json");
}

void start(const net::FeedEntry &entry, const std::string &mapPath)
{
    const unsigned flags = MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_EPOLL |
                           (entry.address.ss_family == AF_INET6 ? MHD_USE_IPv6 : 0);
    const unsigned port = ntohs(reinterpret_cast<const sockaddr_in &>(entry.address).sin_port);
    g_daemon = MHD_start_daemon(flags, static_cast<uint16_t>(port), nullptr, nullptr, handle, nullptr,
                                MHD_OPTION_SOCK_ADDR, reinterpret_cast<const sockaddr *>(&entry.address),
                                MHD_OPTION_CONNECTION_LIMIT, kMaxConnections,
                                MHD_OPTION_CONNECTION_TIMEOUT, kIdleSeconds,
                                MHD_OPTION_CONNECTION_MEMORY_LIMIT, kConnectionMemory,
                                MHD_OPTION_LISTENING_ADDRESS_REUSE, 1u,
                                MHD_OPTION_END);
    if (g_daemon != nullptr)
        engine_thread_started();
    else
        std::fprintf(stderr, "vornacq4: %s:%d: http %s: cannot listen there (%s); the logger runs on without it\n",
                     mapPath.c_str(), entry.line, entry.addressText.c_str(), std::strerror(errno));
}

} // namespace

void http_start(const std::vector<net::FeedEntry> &network, const std::string &mapPath)
{
    std::call_once(g_started, [&] {
        // The daemon's thread takes the name of the thread that starts it:
        // this one goes by the endpoint's name until it has.
        char was[16] = "";
        pthread_getname_np(pthread_self(), was, sizeof was);
        threadname::name_this_thread(threadname::kHttp);
        for (const net::FeedEntry &entry : network)
            if (entry.kind == net::FeedKind::Http)
                start(entry, mapPath);
        threadname::name_this_thread(was);
    });
}

void http_stop()
{
    MHD_Daemon *daemon = g_daemon;
    g_daemon = nullptr;
    if (daemon != nullptr)
        MHD_stop_daemon(daemon);
}

} // namespace monitor
