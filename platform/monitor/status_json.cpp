// /status.json: the facts of /metrics per port, with the status box's text,
// for scripts and the status page.
#include "monitor.h"

#include <cstdio>

namespace monitor {

namespace {

// A JSON string: quotes, backslashes and control characters escaped; other
// bytes as they are (the texts are the program's and the operator's paths).
void add_string(std::string &out, const std::string &text)
{
    out += '"';
    for (const char c : text) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (c == '\n') {
            out += "\\n";
        } else if (u < 0x20 || u == 0x7F) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", u);
            out += escaped;
        } else
            out += c;
    }
    out += '"';
}

void add_field(std::string &out, const char *name, const std::string &text)
{
    out += '"';
    out += name;
    out += "\":";
    add_string(out, text);
    out += ',';
}

void add_field(std::string &out, const char *name, double value, const char *format = "%.0f")
{
    char number[48];
    std::snprintf(number, sizeof number, format, value);
    out += '"';
    out += name;
    out += "\":";
    out += number;
    out += ',';
}

// "line_errors":{"overrun":0,...}, or null when the driver counts none.
void add_line_errors(std::string &out, const PortFacts &p)
{
    out += "\"line_errors\":";
    if (p.lineCounted == 0) {
        out += "null,";
        return;
    }
    out += '{';
    for (int k = 0; k < COM_LINE_KINDS; ++k) {
        out += k > 0 ? ",\"" : "\"";
        out += ComLineErrorName(k);
        out += "\":" + std::to_string(p.lineErrors[k]);
    }
    out += "},";
}

void add_port(std::string &out, const PortFacts &p)
{
    out += '{';
    add_field(out, "port", "COM" + std::to_string(p.port));
    add_field(out, "device", p.device);
    add_field(out, "logged", p.logged);
    add_field(out, "up", p.up);
    add_field(out, "state", p.state);
    add_field(out, "status", p.status);
    add_field(out, "received_bytes", static_cast<double>(p.receivedBytes));
    add_field(out, "last_received", p.lastReceived, "%.3f");
    add_field(out, "idle_seconds", static_cast<double>(p.idleSeconds));
    add_field(out, "file", p.file);
    add_field(out, "written_bytes", static_cast<double>(p.writtenBytes));
    add_field(out, "write_errors", static_cast<double>(p.writeErrors));
    add_field(out, "lost_bytes", static_cast<double>(p.lostBytes));
    add_field(out, "backlog_bytes", static_cast<double>(p.backlogBytes));
    add_field(out, "feed_clients", p.feedClients);
    add_field(out, "feed_sent_bytes", static_cast<double>(p.feedSentBytes));
    add_field(out, "dropped_behind", static_cast<double>(p.droppedBehind));
    add_field(out, "dropped_stalled", static_cast<double>(p.droppedStalled));
    add_line_errors(out, p);
    add_field(out, "dropped_bytes", static_cast<double>(p.droppedBytes));
    add_field(out, "dropping", p.dropping);
    add_field(out, "held_seconds", p.heldSeconds, "%.1f");
    out += "\"rate\":[";
    for (int i = 0; i < 60; ++i) {
        char number[32];
        std::snprintf(number, sizeof number, i == 0 ? "%.1f" : ",%.1f", p.rate[i]);
        out += number;
    }
    out += "]}";
}

} // namespace

std::string status_json(const RunFacts &facts)
{
    std::string out = "{";
    add_field(out, "version", facts.version);
    add_field(out, "now", facts.now, "%.3f");
    add_field(out, "logging", facts.logging);
    add_field(out, "run_start", facts.runStart, "%.3f");
    add_field(out, "status_text", facts.statusText);
    out += "\"ports\":[";
    for (int i = 0; i < facts.portCount; ++i) {
        if (i > 0)
            out += ',';
        add_port(out, facts.ports[i]);
    }
    out += "]}\n";
    return out;
}

} // namespace monitor
