// Running a reader on an input and checking what it made of it: nothing read
// through a link or from anything but a regular file, no number out of its
// range, nothing written outside the directory.
#include "hostile_inputs.h"

#include "files.h"
#include "index.h"
#include "times.h"

#include "engine.h"
#include "engine_seams.h"
#include "vornacq4.h"
#include "vorncoms.h"

#include <QCoreApplication>
#include <QEvent>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace hostile {

namespace {

const char *const kOutside = "../outside"; // what a link in the way points to
const char *const kOutsideText = "not the logger's";

std::string slurp(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void spill(const std::string &path, const std::string &bytes)
{
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

// Whatever stands under name goes (a directory with what is in it).
void clear(const std::string &name)
{
    if (unlink(name.c_str()) != 0 && rmdir(name.c_str()) != 0)
        std::system(("rm -rf '" + name + "' 2>/dev/null").c_str());
}

void place(const std::string &name, const Input &in)
{
    clear(name);
    clear(name + ".new");
    clear("bytes");
    spill(kOutside, kOutsideText);
    switch (in.kind) {
    case Kind::Bytes:
    case Kind::AsideLink:
    case Kind::AsideDirectory: spill(name, in.bytes); break;
    case Kind::LinkToBytes:
        spill("bytes", in.bytes);
        symlink("bytes", name.c_str());
        break;
    case Kind::Fifo: mkfifo(name.c_str(), 0666); break;
    case Kind::Directory: mkdir(name.c_str(), 0777); break;
    case Kind::DeviceLink: symlink("/dev/zero", name.c_str()); break;
    case Kind::Huge:
        spill(name, in.bytes);
        truncate(name.c_str(), 100L * 1024 * 1024);
        break;
    case Kind::Dangling: symlink("no-such-file", name.c_str()); break;
    }
    if (in.kind == Kind::AsideLink)
        symlink(kOutside, (name + ".new").c_str());
    if (in.kind == Kind::AsideDirectory)
        mkdir((name + ".new").c_str(), 0777);
}

bool holds_bytes(Kind kind)
{
    return kind == Kind::Bytes || kind == Kind::LinkToBytes || kind == Kind::AsideLink ||
           kind == Kind::AsideDirectory;
}

std::string encode_table()
{
    std::string s;
    for (int port = 1; port <= MAX_PORT; ++port)
        s += le32(baudrate[port]) + le32(RS232Sel[port]) + le32(RS232Disp[port]) + le32(HEXDisp[port]);
    return s;
}

// Whether a complete table stored the port as logged (its selection field
// exactly 1): only then may a port whose device is missing be logged.
bool stored_logged(const Input &in, int port)
{
    const bool complete = holds_bytes(in.kind) && in.bytes.size() >= CONFIG_BYTES;
    return complete && in.bytes.substr(16 * (port - 1) + 4, 4) == le32(1);
}

std::string table_fault(const Input &in)
{
    int taken[MAX_SLOT + 1] = {};
    for (int port = 1; port <= MAX_PORT; ++port) {
        bool allowed = false;
        for (int rate : pbauds)
            allowed = allowed || rate == baudrate[port];
        if (!allowed || (RS232Sel[port] != 0 && RS232Sel[port] != 1) ||
            (RS232Err[port] != 0 && RS232Sel[port] != 0 && !stored_logged(in, port)))
            return "port " + std::to_string(port) + ": rate or selection out of range";
        if (RS232Disp[port] < 0 || RS232Disp[port] > MAX_SLOT)
            return "port " + std::to_string(port) + ": slot out of range";
        if (RS232Disp[port] > 0 && taken[RS232Disp[port]]++ > 0)
            return "slot " + std::to_string(RS232Disp[port]) + " held twice";
    }
    return std::string();
}

// What coms.cfg must be after start-up: a table read whole is left as it
// is; anything else gives way to the defaults, unless nothing can take its
// place (a directory, or a directory in the way of the file written aside).
std::string config_fault(const Input &in)
{
    struct stat st;
    const bool present = lstat("coms.cfg", &st) == 0;
    if (in.kind == Kind::Huge)
        return present && st.st_size == 100L * 1024 * 1024 ? "" : "a complete table was rewritten at start-up";
    const bool complete = holds_bytes(in.kind) && in.bytes.size() >= CONFIG_BYTES;
    if (complete)
        return slurp("coms.cfg") == in.bytes ? "" : "a complete table was rewritten at start-up";
    if (in.kind == Kind::Directory || in.kind == Kind::AsideDirectory)
        return std::string();
    if (!present || !S_ISREG(st.st_mode) || slurp("coms.cfg") != encode_table())
        return "the defaults were not saved in its place";
    return lstat("coms.cfg.new", &st) == 0 ? "coms.cfg.new left behind" : "";
}

std::string run_config(const Input &in)
{
    place("coms.cfg", in);
    for (int port = 1; port <= MAX_PORT; ++port)
        RS232Err[port] = (in.extra >> port) & 1 ? COM_ERR_NO_DEVICE : 0;
    init_bauds();
    std::string fault = table_fault(in);
    if (fault.empty() && slurp(kOutside) != kOutsideText)
        fault = "written through a link";
    return fault.empty() ? config_fault(in) : fault;
}

std::string run_map(const Input &in)
{
    place("comports.map", in);
    char cwd[PATH_MAX];
    if (getcwd(cwd, sizeof cwd) == nullptr)
        return "no current directory";
    SeamReloadPortMap(); // read again from the current directory
    const std::string map = holds_bytes(in.kind) && in.bytes.size() <= 64 * 1024 ? in.bytes : std::string();
    for (int port = 0; port <= COM_PORTS + 1; ++port) {
        const std::string path = SeamPortPath(port);
        const bool ok = path.empty() || path == "/dev/ttyS" + std::to_string(port - 1) ||
                        (map.find(path) != std::string::npos && path.find('\0') == std::string::npos &&
                         path.size() < 4096);
        if (!ok || ((port < 1 || port > COM_PORTS) && !path.empty()))
            return "COM" + std::to_string(port) + " resolved to a path the map does not hold";
    }
    const std::string word = in.bytes.substr(0, in.bytes.find_first_of(" \t\r\n"));
    const std::string named = SeamPortPath(1, word.c_str());
    if (!word.empty() && word.find('\0') == std::string::npos && named != word && named.find("/dev/ttyS") != 0 &&
        map.find(named) == std::string::npos)
        return "a device name resolved to a path nobody gave";
    return std::string();
}

std::string layout_fault(const SeamPanelNumbers &panel)
{
    const auto outside = [](int v) { return v < 0 || v > 8192; };
    if (outside(panel.width) || outside(panel.height))
        return "panel size out of range";
    for (const SeamControlNumbers &c : panel.controls) {
        if (outside(c.x) || outside(c.y) || outside(c.width) || outside(c.height) || c.fontSize < 0 ||
            c.fontSize > 200 || !(c.interval >= 0.001 && c.interval <= 86400.0) || c.id <= 0)
            return "control " + std::to_string(c.id) + ": a number out of range";
    }
    return std::string();
}

std::string run_panel(const Input &in)
{
    const int resource = static_cast<int>(in.extra);
    if (!holds_bytes(in.kind)) {
        place("panel.uir", in);
        char cwd[PATH_MAX];
        const std::string path = std::string(getcwd(cwd, sizeof cwd) != nullptr ? cwd : ".") + "/panel.uir";
        return LoadPanel(0, path.c_str(), resource) == UI_ERR_FILE ? std::string() : "a file that is no panel resource was read";
    }
    SeamPanelNumbers numbers;
    std::string error;
    const int parsed = SeamParsePanel(in.bytes, resource, "fuzz.uir", numbers, error);
    if (parsed != 0)
        return error.rfind("fuzz.uir: ", 0) == 0 ? std::string() : "a refusal that does not name the file";
    const std::string fault = layout_fault(numbers);
    if (!fault.empty())
        return fault;
    // Built as the engine builds it: widgets, timers, fonts.
    const int panel = SeamLoadPanelFromText(0, in.bytes, resource, "fuzz.uir");
    if (panel > 0)
        DiscardPanel(panel);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return panel > 0 || panel == UI_ERR_CALLBACK ? std::string() : "parsed, yet not loaded";
}

// What the index reader must hold to, whatever the index: every record it
// gives lies within the data file, in time order within itself and within
// 1970..2200; no more records than the index has bytes; and what the
// generator knew to be damaged or sound is found so.
std::string index_fault(const Input &in, when::IndexReader &reader, const when::Recording &rec)
{
    long long records = 0;
    for (when::Burst b{}; reader.next(b);) {
        const long long covers = b.gap ? 0 : b.count; // a gap holds no byte of the file
        if (b.count < 1 || b.offset < 0 || b.offset > rec.size - covers || b.first > b.last ||
            b.first < when::kEarliestUs || b.last >= when::kLatestUs)
            return "a record out of range at data offset " + std::to_string(b.offset);
        if (when::byte_time(b, b.offset + b.count - 1) != (b.count == 1 ? b.first : b.last) || when::format_time(b.first, true).size() != 27)
            return "a record's times misread";
        if (++records > rec.indexLength)
            return "more records than the index has bytes";
    }
    const bool known = in.kind == Kind::Bytes || in.kind == Kind::LinkToBytes;
    const long long damaged = reader.summary().damagedTotal();
    if (known && (in.extra & kExpectDamage) != 0 && damaged == 0)
        return "records that claim bytes the data lack were taken as sound";
    if (known && (in.extra & kExpectClean) != 0 && damaged != 0)
        return "a sound index was found damaged";
    return std::string();
}

// The data file D001/data of the input's length, its index T001/data.
std::string run_index(const Input &in)
{
    mkdir("D001", 0777);
    mkdir("T001", 0777);
    spill("D001/data", std::string(in.extra & kDataLengthMask, 'x'));
    if (chdir("T001") != 0)
        return "no index directory";
    place("data", in);
    if (chdir("..") != 0)
        return "no way back";
    when::Recording rec;
    std::string error;
    const bool regular = holds_bytes(in.kind) || in.kind == Kind::Huge;
    if (when::open_recording("D001/data", rec, error) != regular)
        return regular ? "a regular index refused: " + error : "an index that is no regular file was opened";
    if (!regular)
        return error.find("T001/data") != std::string::npos ? "" : "a refusal that does not name the index";
    when::IndexReader reader(rec);
    if (!reader.is_index())
        return (in.extra & kExpectClean) != 0 ? "a sound index was not taken for one" : "";
    return index_fault(in, reader, rec);
}

} // namespace

void prepare(Target target)
{
    DisableBreakOnLibraryErrors();
    if (target != Target::Panel)
        return;
    static char arg0[] = "hostile_inputs", arg1[] = "-platform", arg2[] = "offscreen";
    static char *argv[] = {arg0, arg1, arg2, nullptr};
    InitEngine(0, argv, 0);
    RegisterCallbacks(callback_table);
}

std::string run_input(Target target, const Input &input)
{
    switch (target) {
    case Target::Config: return run_config(input);
    case Target::Map: return run_map(input);
    case Target::Panel: return run_panel(input);
    case Target::Index: return run_index(input);
    }
    return "unknown target";
}

} // namespace hostile
