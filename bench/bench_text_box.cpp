// Live text box cost: what one tick's append of a full queue (32000 bytes)
// costs on a box that already holds its bound, repaint included, and how
// much the box keeps after a long flood.
//
// The box is the size and font of the main panel's display slots. Each
// append is followed by processEvents(), which runs the repaint the append
// scheduled; a counter shows how many paint events that took.
#include "bench_support.h"

#include "engine.h"
#include "engine_seams.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QEvent>

#include <cstdio>
#include <string>

namespace {

constexpr int kBox = 1;
constexpr int kChunk = COM_QUEUE_MAX; // one full queue per append, the most a tick hands over

// One panel like the logger's main window, with one display slot.
const char kPanelText[] = R"({
  "format": "vornacq4 panel resource, version 1",
  "panels": [{
    "resource": 1, "title": "engine_bench", "width": 1200, "height": 140,
    "controls": [
      {"id": 1, "name": "slot_text_box", "kind": "textbox", "x": 228, "y": 16,
       "width": 960, "height": 108, "label": "Display slot", "font": "mono"}
    ]
  }]
})";

// Counts paint events, to show that the repaint really ran in the loop.
class PaintCounter : public QObject {
public:
    long paints = 0;
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Paint)
            ++paints;
        return false;
    }
};

int panel()
{
    static const int handle = [] {
        const int h = SeamLoadPanelFromText(0, kPanelText, 1, "engine_bench panel");
        if (h > 0)
            DisplayPanel(h);
        QApplication::processEvents();
        return h;
    }();
    return handle;
}

// Lines of 78 characters and CR LF, like a GPS's GGA sentences.
std::string nmea_text()
{
    std::string text;
    for (int i = 0; static_cast<int>(text.size()) < kChunk; ++i) {
        char line[128];
        std::snprintf(line, sizeof line, "$GPGGA,%02d%02d%02d.00,4807.%03d,N,01131.%03d,E,1,08,0.9,545.4,M,46.9,M,,",
                      i / 3600 % 24, i / 60 % 60, i % 60, i % 1000, (i * 7) % 1000);
        std::string sentence(line);
        sentence.resize(75, '0');
        unsigned char sum = 0;
        for (std::size_t k = 1; k < sentence.size(); ++k)
            sum ^= static_cast<unsigned char>(sentence[k]);
        std::snprintf(line, sizeof line, "*%02X\r\n", sum);
        text += sentence + line; // 75 + "*HH" CR LF = 80 bytes
    }
    text.resize(kChunk);
    return text;
}

// A binary-ish instrument seen as text: printable bytes, never a line break.
std::string unbroken_text()
{
    std::string text(kChunk, ' ');
    for (int i = 0; i < kChunk; ++i)
        text[static_cast<std::size_t>(i)] = static_cast<char>(' ' + (i * 31) % 95);
    return text;
}

// The hexadecimal view: "41 0D FF " pairs, CR LF after every 16 (50 bytes a line).
std::string hex_text()
{
    static const char digits[] = "0123456789ABCDEF";
    std::string text;
    for (int i = 0; static_cast<int>(text.size()) < kChunk; ++i) {
        const int byte = (i * 37) & 0xFF;
        text += digits[byte >> 4];
        text += digits[byte & 15];
        text += ' ';
        if (i % 16 == 15)
            text += "\r\n";
    }
    text.resize(kChunk);
    return text;
}

const std::string &text_of(int kind)
{
    static const std::string texts[] = {nmea_text(), unbroken_text(), hex_text()};
    return texts[kind];
}

const char *const kKindNames[] = {"nmea_lines", "no_line_breaks", "hex_pairs"};

// Appends one chunk as the logger's tick does, and lets the repaint run
// (unless told not to, which splits the cost between append and paint).
void append(const std::string &chunk, bool repaint = true)
{
    SetCtrlVal(panel(), kBox, chunk.c_str());
    if (repaint)
        QApplication::processEvents();
}

void BM_TextBoxAppend(benchmark::State &state)
{
    const int kind = static_cast<int>(state.range(0));
    const bool repaint = state.range(1) != 0;
    const std::string &chunk = text_of(kind);
    if (panel() <= 0) {
        state.SkipWithError("could not build the panel");
        return;
    }
    state.SetLabel(std::string(kKindNames[kind]) + (repaint ? "" : ", no repaint"));
    // Fill the box to its bound first (2000 lines, or about 1 MiB of characters).
    ResetTextBox(panel(), kBox, "");
    for (int i = 0; i < 40; ++i)
        append(chunk);

    PaintCounter counter;
    qApp->installEventFilter(&counter);
    for (auto _ : state)
        append(chunk, repaint);
    qApp->removeEventFilter(&counter);
    QApplication::processEvents();

    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * kChunk);
    state.counters["paints_per_append"] =
        static_cast<double>(counter.paints) / static_cast<double>(state.iterations());
}
BENCHMARK(BM_TextBoxAppend)
    ->ArgsProduct({{0, 1, 2}, {1, 0}})
    ->ArgNames({"text", "repaint"})
    ->Unit(benchmark::kMicrosecond);

// A box left running for hours: after 10 MiB it must hold no more than its
// bound (about 1 MiB of characters), whatever the input looks like.
void BM_TextBoxMemoryBound(benchmark::State &state)
{
    const int kind = static_cast<int>(state.range(0));
    const std::string &chunk = text_of(kind);
    if (panel() <= 0) {
        state.SkipWithError("could not build the panel");
        return;
    }
    state.SetLabel(kKindNames[kind]);
    constexpr long kFlood = 10L << 20;
    const double rssBefore = bench::rss_now_mib();
    for (auto _ : state) {
        ResetTextBox(panel(), kBox, "");
        for (long done = 0; done < kFlood; done += kChunk)
            append(chunk);
    }
    const std::string kept = SeamCtrlText(panel(), kBox);
    long breaks = 0;
    for (char c : kept)
        breaks += c == '\n';
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * ((kFlood + kChunk - 1) / kChunk) * kChunk);
    // Shown in binary units: the bound is 1 Mi characters.
    state.counters["chars_kept"] = benchmark::Counter(static_cast<double>(static_cast<long>(kept.size()) - breaks),
                                                      benchmark::Counter::kDefaults, benchmark::Counter::kIs1024);
    // Lines as the input broke them; a folded stream counts as one.
    state.counters["text_lines_kept"] = static_cast<double>(breaks + 1);
    state.counters["rss_growth_MiB"] = bench::rss_now_mib() - rssBefore;
    state.counters["max_rss_MiB"] = bench::max_rss_mib();
}
BENCHMARK(BM_TextBoxMemoryBound)->Arg(0)->Arg(1)->Arg(2)->Iterations(1)->Unit(benchmark::kMillisecond);

} // namespace
