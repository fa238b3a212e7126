// /status.json: the facts of /metrics per port, with the status box's text,
// for scripts and the status page.
//
// Written with nlohmann/json, the engine's one JSON writer: it escapes
// quotes, backslashes and control characters, and a text that is not UTF-8
// (a device path is whatever bytes the operator's file held) has each
// invalid sequence replaced by U+FFFD, so that the answer is valid JSON
// whatever the names hold.
#include "monitor.h"

#include <nlohmann/json.hpp>

#include <cmath>

namespace monitor {

namespace {

using Json = nlohmann::ordered_json; // the fields in the order written

// The rates to a tenth of a byte a second: more digits say nothing.
double tenths(double value)
{
    return std::round(value * 10) / 10;
}

// {"overrun":0,...}, or null when the driver counts none.
Json line_errors(const PortFacts &p)
{
    if (p.lineCounted == 0)
        return nullptr;
    Json kinds = Json::object();
    for (int k = 0; k < COM_LINE_KINDS; ++k)
        kinds[ComLineErrorName(k)] = p.lineErrors[k];
    return kinds;
}

Json port(const PortFacts &p)
{
    Json rate = Json::array();
    for (const double r : p.rate)
        rate.push_back(tenths(r));
    return Json{{"port", "COM" + std::to_string(p.port)},
                {"device", p.device},
                {"logged", p.logged},
                {"up", p.up},
                {"state", p.state},
                {"status", p.status},
                {"received_bytes", p.receivedBytes},
                {"last_received", p.lastReceived},
                {"idle_seconds", p.idleSeconds},
                {"file", p.file},
                {"written_bytes", p.writtenBytes},
                {"write_errors", p.writeErrors},
                {"lost_bytes", p.lostBytes},
                {"backlog_bytes", p.backlogBytes},
                {"feed_clients", p.feedClients},
                {"feed_sent_bytes", p.feedSentBytes},
                {"feed_skipped_bytes", p.feedSkippedBytes},
                {"dropped_behind", p.droppedBehind},
                {"dropped_stalled", p.droppedStalled},
                {"line_errors", line_errors(p)},
                {"rate", rate}};
}

} // namespace

std::string status_json(const RunFacts &facts)
{
    Json ports = Json::array();
    for (int i = 0; i < facts.portCount; ++i)
        ports.push_back(port(facts.ports[i]));
    const Json status{{"version", facts.version},       {"now", facts.now},
                      {"logging", facts.logging},       {"run_start", facts.runStart},
                      {"status_text", facts.statusText}, {"ports", ports}};
    return status.dump(-1, ' ', false, Json::error_handler_t::replace) + "\n";
}

} // namespace monitor
