// The status page as a browser shows it: headless Chromium loads "/" from
// the real logger (network.map: http 127.0.0.1:PORT), runs its script and
// dumps the page it drew, which the test reads: before the run, and then with
// one port talking and one silent. The browser and the logger only ever talk
// on 127.0.0.1.
#include "logger_station.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <unistd.h>

using testing_support::connect_loopback;
using testing_support::free_tcp_port;
using testing_support::occurrences;
using testing_support::loopback;
using testing_support::eventually;
using testing_support::Pty;
using testing_support::stream_bytes;

namespace {

const char kChromium[] = "/usr/bin/chromium";
constexpr int kBrowserMs = 60000; // a page that is not drawn by then never will be

// The page at the URL as headless Chromium drew it, after its script had
// up to 8 s of the page's own time (the browser stops that clock while a
// request waits for its answer) to fetch and draw; "" when the browser failed
// or did not end within kBrowserMs (it is killed then). It runs without its
// sandbox: the page is our own, from 127.0.0.1, and the sandbox needs
// namespaces that a test machine (or root) may not give it. Nor does it
// reach out on its own (updates, components, sync, safe browsing lists): the
// logger's page is all it asks for.
std::string rendered(const std::string &url, const std::string &dir)
{
    LoggerProcess::Options o;
    o.binary = kChromium;
    o.args = {"--headless=new", "--no-sandbox", "--disable-gpu", "--no-first-run",
              "--disable-background-networking", "--disable-component-update", "--disable-sync",
              "--disable-default-apps", "--no-default-browser-check", "--user-data-dir=" + dir + "/profile",
              "--virtual-time-budget=8000", "--dump-dom", url};
    o.startDir = dir; // its HOME too
    const ToolRun browser = run_tool(o, kBrowserMs);
    return browser.status == 0 ? browser.out : std::string();
}

// The card of the port on the page ("" when there is none).
std::string card(const std::string &dom, const std::string &port)
{
    const std::size_t head = dom.find("<h2>" + port + "<");
    const std::size_t begin = head == std::string::npos ? head : dom.rfind("<section", head);
    const std::size_t end = begin == std::string::npos ? begin : dom.find("</section>", begin);
    return end == std::string::npos ? std::string() : dom.substr(begin, end - begin);
}

bool has(const std::string &text, const std::string &what)
{
    return text.find(what) != std::string::npos;
}

// COM1 and COM2 on pseudo-terminals, both logged, COM1 by a name with
// markup in it (which the page must show as text); the endpoint on a free
// loopback port.
class StatusPage : public Station {
protected:
    StatusPage() : m_device1(top() + "/<b>gps"), m_port(free_tcp_port())
    {
        map_ports({2}, {}, {{1, m_device1}});
        if (::symlink(m_com1.path().c_str(), m_device1.c_str()) != 0)
            throw std::runtime_error("no link to the terminal");
        set_table({{1, {115200, 1, 1, 0}}, {2, {115200, 1, 2, 0}}});
        set_network_map("http 127.0.0.1:" + std::to_string(m_port) + "\n");
    }

    std::string page() { return rendered("http://127.0.0.1:" + std::to_string(m_port) + "/", top()); }

    Pty m_com1;
    std::string m_device1;
    int m_port;
};

} // namespace

TEST_F(StatusPage, ShowsNotLoggingYetThenEveryLoggedPortWithItsStateFiguresAndLastHour)
{
    if (::access(kChromium, X_OK) != 0)
        GTEST_SKIP() << kChromium << " is not installed (Debian package chromium): the page is not tried in a browser";
    const LoggerProcess &logger = start_logger();
    ASSERT_TRUE(eventually([&] { const int fd = connect_loopback(m_port); return fd >= 0 && ::close(fd) == 0; }, 10000)) << logger.stderr_text();
    std::string dom = page();
    EXPECT_TRUE(has(dom, "<p id=\"idle\">Not logging yet.</p>")) << "during the countdown: " << dom;

    // The run is on once each port has its data file; COM2 never sends a byte.
    ASSERT_TRUE(wait_for_run()) << logger.stderr_text();
    ASSERT_TRUE(eventually([&] { return has(card(dom = page(), "COM2"), "COM2: SILENT"); }, kRunMs)) << dom;
    // Then COM1 sends 5000 bytes; the logger reports its figures once a second.
    m_com1.write(stream_bytes(0, 5000));
    const auto shown = [&] {
        const std::string c1 = card(dom = page(), "COM1");
        return has(c1, "COM1: 5000 B, last byte") && has(c1, "<dt>Written</dt><dd>5000 B</dd>");
    };
    ASSERT_TRUE(eventually(shown, 20000)) << "the status box's words and the bytes written: " << dom;

    EXPECT_TRUE(has(dom, "<p id=\"idle\" hidden=\"\">")) << "no longer 'Not logging yet.'";
    EXPECT_TRUE(has(dom, "<span id=\"run\" class=\"\">Logging.")) << dom;
    EXPECT_FALSE(has(dom, "class=\"shown\"")) << "no note that the logger cannot be reached";
    EXPECT_EQ(occurrences(dom, "<section class=\"port"), 2) << "the two logged ports, no other";
    const std::string c1 = card(dom, "COM1"), c2 = card(dom, "COM2");
    EXPECT_TRUE(has(c1, "<span class=\"state\">RECEIVING</span>")) << c1;
    EXPECT_TRUE(has(c1, "(5000 bytes)")) << c1;
    EXPECT_TRUE(has(c1, "/&lt;b&gt;gps</dd>") && !has(dom, "<b>")) << "the device's name is text, not markup";
    EXPECT_FALSE(has(c2, "RECEIVING")) << c2;
    EXPECT_TRUE(has(c2, pty(2).path() + "</dd>") && has(c2, "(0 bytes)")) << c2;
    for (const std::string *c : {&c1, &c2})
        EXPECT_TRUE(has(*c, "<svg class=\"graph\"") && has(*c, "<path d=\"M0,40 V")) << "a graph of the last hour: " << *c;
    // The graph is scaled to its peak: COM1's minute reaches the top, COM2 stays at the bottom.
    EXPECT_TRUE(has(c1, " V2.00 ") && !has(c1, "peak 0 B/s")) << c1;
    EXPECT_TRUE(!has(c2, " V2.00 ") && has(c2, "peak 0 B/s")) << c2;

    EXPECT_EQ(stop_logger(), 0) << logger.stderr_text();
}
