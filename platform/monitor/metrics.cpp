// /metrics: the Prometheus text format, version 0.0.4. Every series of a
// port carries the label port="COMn"; the dropped clients carry a reason.
#include "monitor.h"

#include <cstdarg>
#include <cstdio>

namespace monitor {

namespace {

struct PortMetric {
    const char *name;
    const char *type;
    const char *help;
    double (*value)(const PortFacts &);
};

const PortMetric kPortMetrics[] = {
    {"vornacq4_port_up", "gauge", "1 while the port's device is open, else 0.",
     [](const PortFacts &p) { return static_cast<double>(p.up); }},
    {"vornacq4_port_logged", "gauge", "1 if the port is selected for the run.",
     [](const PortFacts &p) { return static_cast<double>(p.logged); }},
    {"vornacq4_port_received_bytes_total", "counter", "Bytes received from the port's device since it was opened.",
     [](const PortFacts &p) { return static_cast<double>(p.receivedBytes); }},
    {"vornacq4_port_last_received_timestamp_seconds", "gauge",
     "When the port's last byte arrived, seconds since 1970; 0 while none has.",
     [](const PortFacts &p) { return p.lastReceived; }},
    {"vornacq4_file_written_bytes_total", "counter", "Bytes written to the port's data files.",
     [](const PortFacts &p) { return static_cast<double>(p.writtenBytes); }},
    {"vornacq4_file_write_errors_total", "counter", "Writes and opens of the port's data files that the disk refused.",
     [](const PortFacts &p) { return static_cast<double>(p.writeErrors); }},
    {"vornacq4_file_lost_bytes_total", "counter", "Bytes that should have gone to the port's data files and did not.",
     [](const PortFacts &p) { return static_cast<double>(p.lostBytes); }},
    {"vornacq4_backlog_bytes", "gauge", "Bytes received and not yet taken by the acquisition tick.",
     [](const PortFacts &p) { return static_cast<double>(p.backlogBytes); }},
    {"vornacq4_feed_clients", "gauge", "Clients connected to the port's TCP feeds.",
     [](const PortFacts &p) { return static_cast<double>(p.feedClients); }},
    {"vornacq4_feed_sent_bytes_total", "counter", "Bytes sent to the port's feed clients and UDP addresses.",
     [](const PortFacts &p) { return static_cast<double>(p.feedSentBytes); }},
    {"vornacq4_feed_skipped_bytes_total", "counter",
     "Bytes the port's UDP feeds skipped: they fell more than the port's 256 KiB behind and went on from the newest.",
     [](const PortFacts &p) { return static_cast<double>(p.feedSkippedBytes); }},
};

void append(std::string &out, const char *format, ...) __attribute__((format(printf, 2, 3)));
void append(std::string &out, const char *format, ...)
{
    char line[512];
    va_list args;
    va_start(args, format);
    const int n = std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    if (n > 0)
        out.append(line, static_cast<std::size_t>(n) < sizeof line ? static_cast<std::size_t>(n) : sizeof line - 1);
}

void head(std::string &out, const char *name, const char *type, const char *help)
{
    append(out, "# HELP %s %s\n# TYPE %s %s\n", name, help, name, type);
}

void port_metrics(std::string &out, const RunFacts &facts)
{
    for (const PortMetric &m : kPortMetrics) {
        head(out, m.name, m.type, m.help);
        for (int i = 0; i < facts.portCount; ++i)
            append(out, "%s{port=\"COM%d\"} %.17g\n", m.name, facts.ports[i].port, m.value(facts.ports[i]));
    }
    const char *dropped = "vornacq4_feed_dropped_clients_total";
    head(out, dropped, "counter",
         "Feed clients closed by the logger: reason behind (fell out of the port's 256 KiB), stalled (took nothing for 30 s).");
    for (int i = 0; i < facts.portCount; ++i) {
        const PortFacts &p = facts.ports[i];
        append(out, "%s{port=\"COM%d\",reason=\"behind\"} %lld\n", dropped, p.port, p.droppedBehind);
        append(out, "%s{port=\"COM%d\",reason=\"stalled\"} %lld\n", dropped, p.port, p.droppedStalled);
    }
}

// The line's errors, a series a kind, for the ports whose driver counts
// them: a port without counters has no series rather than a zero it never
// measured.
void line_error_metrics(std::string &out, const RunFacts &facts)
{
    const char *name = "vornacq4_port_line_errors_total";
    head(out, name, "counter",
         "Errors the port's UART and driver counted on the line since it was opened, by kind: overrun, "
         "buffer_overrun, framing, parity, break.");
    for (int i = 0; i < facts.portCount; ++i) {
        const PortFacts &p = facts.ports[i];
        for (int k = 0; k < COM_LINE_KINDS && p.lineCounted != 0; ++k)
            append(out, "%s{port=\"COM%d\",kind=\"%s\"} %lld\n", name, p.port, ComLineErrorName(k), p.lineErrors[k]);
    }
}

} // namespace

std::string metrics_text(const RunFacts &facts)
{
    std::string out;
    port_metrics(out, facts);
    line_error_metrics(out, facts);
    head(out, "vornacq4_logging", "gauge", "1 while logging, 0 while paused or before the run.");
    append(out, "vornacq4_logging %d\n", facts.logging);
    head(out, "vornacq4_run_start_timestamp_seconds", "gauge", "When the run started, seconds since 1970; 0 before.");
    append(out, "vornacq4_run_start_timestamp_seconds %.3f\n", facts.runStart);
    head(out, "vornacq4_build_info", "gauge", "Always 1; the version of the logger.");
    append(out, "vornacq4_build_info{version=\"%s\"} 1\n", facts.version.c_str());
    return out;
}

} // namespace monitor
