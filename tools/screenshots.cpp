// Draws the pictures of the README offscreen: the main window during make
// run's demonstration, the configuration window, and the main window during a
// run with its status line.
//
//     build/vorn_screenshots docs
//
// writes docs/make-run.png, docs/config-popup.png and docs/main-panel.png. The
// logger is brought up in-process, as main brings it up, in a temporary
// start-up directory. For the demonstration its ports are make run's
// simulated instruments; for the others they are pseudo-terminals that this
// tool feeds as instruments would, and the clock is fixed, so the run's
// figures come out the same every time.
#include "engine.h"
#include "engine_seams.h"
#include "ptykit/pty.h"
#include "ptykit/station.h"
#include "vornacq4.h"
#include "vorncoms.h"

#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <map>
#include <memory>
#include <set>
#include <spawn.h>
#include <string>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

using ptykit::Pty;

namespace {

// What each instrument sends, a line at a time.
const std::map<int, std::string> kLines = {
    {1, "$GPGGA,104005.00,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*47\r\n"},
    {2, std::string("\x10\x02\x41\x07\xFF\x00\x3C\x10\x03", 9)},
    {3, "0R1,Dn=236D,Dm=240D,Dx=246D,Sn=1.2M,Sm=1.5M,Sx=1.9M\r\n"},
    {4, "T=21.37 RH=48.2 P=1013.6\r\n"},
};

struct Rig {
    ptykit::TempDir dir;
    std::map<int, std::unique_ptr<Pty>> ptys;

    // COM1..4, 6 and 9 are instruments, COM7 is held by another program, COM5
    // names an adapter that is not plugged in and COM8 no terminal at all.
    Rig()
    {
        std::map<int, std::string> paths;
        for (int port : {1, 2, 3, 4, 6, 7, 9}) {
            ptys[port] = std::make_unique<Pty>();
            paths[port] = ptys[port]->path();
        }
        // COM3 by a link, as /dev/serial/by-id names an adapter: pulling it
        // out takes the link away too.
        symlink(ptys[3]->path().c_str(), dir.file("adapter").c_str());
        paths[3] = dir.file("adapter");
        flock(ptys[7]->slave(), LOCK_EX | LOCK_NB);
        paths[5] = "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0";
        paths[8] = "/dev/null";
        ptykit::write_file("comports.map", ptykit::port_map_text(paths));
        SeamReloadPortMap();
        std::vector<ptykit::PortRecord> table(MAX_PORT, {9600, 0, 0, 0});
        table[1 - 1] = {9600, 1, 1, 0};
        table[2 - 1] = {19200, 1, 2, 1};
        table[3 - 1] = {4800, 1, 3, 0};
        table[4 - 1] = {115200, 1, 4, 0};
        table[5 - 1] = {38400, 1, 0, 0};
        table[6 - 1] = {9600, 1, 0, 0};
        table[9 - 1] = {57600, 1, 5, 0};
        ptykit::write_file("coms.cfg", ptykit::config_bytes(table));
    }

    // The adapter's link goes first, so that nothing opens the terminal's
    // name again once another program's terminal takes it.
    void pull_out_adapter()
    {
        unlink(dir.file("adapter").c_str());
        ptys[3]->close();
    }

    // Rounds of a line from every instrument still sending, a tenth of a
    // second apart, with the event loop running (timers, the reader thread).
    void feed(int rounds, const std::set<int> &quiet)
    {
        for (int i = 0; i < rounds; ++i) {
            for (const auto &line : kLines)
                if (quiet.count(line.first) == 0)
                    ptys[line.first]->write(line.second);
            SeamProcessEventsUntil([] { return false; }, 100);
        }
    }
};

bool grab(int panel, const std::string &path)
{
    SeamProcessEventsUntil([] { return false; }, 200);
    const bool saved = SeamGrabPanel(panel, path.c_str());
    std::printf("%s %s\n", saved ? "wrote" : "could not write", path.c_str());
    return saved;
}

bool grab_popup(const std::string &out)
{
    if (!SeamClick(panelHandle, config_button))
        return false;
    const bool saved = grab(config_handle, out + "/config-popup.png");
    SeamClick(config_handle, config_close_button);
    return saved;
}

// A run of a few seconds on the fixed clock: COM9 cannot be opened (another
// program took it after the probe), COM6 never sends, COM4 stops sending and
// COM3's adapter is pulled out.
bool grab_run(Rig &rig, const std::string &out)
{
    flock(rig.ptys[9]->slave(), LOCK_EX | LOCK_NB);
    if (!SeamClick(panelHandle, start_button))
        return false;
    rig.feed(10, {});
    rig.pull_out_adapter();
    SeamProcessEventsUntil([] { return false; }, 200);
    SeamSetClock(2024, 2, 14, 10, 40, 47);
    rig.feed(10, {3, 4});
    SeamTick(panelHandle, status_timer);
    return grab(panelHandle, out + "/main-panel.png");
}

std::string absolute(const char *dir)
{
    char path[PATH_MAX];
    return realpath(dir, path) != nullptr ? path : dir;
}

bool start_engine_offscreen()
{
    static char arg0[] = "vorn_screenshots", platform[] = "-platform", offscreen[] = "offscreen";
    static char *engineArgs[] = {arg0, platform, offscreen, nullptr};
    if (InitEngine(0, engineArgs, 0) == 0)
        return false;
    RegisterCallbacks(callback_table);
    return true;
}

// make run's six instruments (tools/make-run.sh) in the current directory,
// with its comports.map and coms.cfg; their reports go nowhere. 0 when they
// could not be started.
pid_t start_instruments()
{
    const char *args[] = {INSTRUMENT_SIM_BINARY, "-c", "COM1=nmea", "COM2=weather", "COM3=binary",
                          "COM4=chatty", "COM5=pattern", "COM6=nmea:9600", nullptr};
    posix_spawn_file_actions_t quiet;
    posix_spawn_file_actions_init(&quiet);
    posix_spawn_file_actions_addopen(&quiet, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&quiet, 1, 2);
    pid_t pid = 0;
    const int failed = posix_spawn(&pid, args[0], &quiet, nullptr, const_cast<char **>(args), environ);
    posix_spawn_file_actions_destroy(&quiet);
    if (failed != 0)
        return 0;
    if (!ptykit::eventually([] { return ptykit::file_exists("comports.map"); }, 10000)) {
        kill(pid, SIGTERM);
        waitpid(pid, nullptr, 0);
        return 0;
    }
    return pid;
}

// make run a few seconds after the countdown has started the run by itself.
bool grab_demo(const std::string &out)
{
    const ptykit::TempDir dir;
    const pid_t instruments = start_instruments();
    if (instruments == 0)
        return false;
    bool ok = start_engine_offscreen() && set_up_main_panel();
    for (int tick = 0; ok && tick <= COUNTDOWN_START; ++tick)
        ok = SeamTick(panelHandle, countdown_timer);
    if (ok)
        SeamProcessEventsUntil([] { return false; }, 4000);
    ok = ok && SeamTick(panelHandle, status_timer) && grab(panelHandle, out + "/make-run.png");
    kill(instruments, SIGTERM);
    waitpid(instruments, nullptr, 0);
    return ok;
}

// The configuration window, and a run with a port in each state the status line tells.
bool grab_popup_and_run(const std::string &out)
{
    if (!start_engine_offscreen())
        return false;
    SeamSetClock(2024, 2, 14, 10, 40, 5);
    SeamAnswerPopups(1);
    Rig rig;
    if (!set_up_main_panel())
        return false;
    const bool ok = grab_popup(out) && grab_run(rig, out);
    DiscardPanel(panelHandle);
    DisableBreakOnLibraryErrors();
    for (int port = 1; port <= MAX_PORT; ++port)
        CloseCom(port);
    return ok;
}

} // namespace

int main(int argc, char *argv[])
{
    const std::string out = absolute(argc > 1 ? argv[1] : ".");
    // A run happens once in the life of a logger, and the logger's state is
    // the process's: the demonstration runs in a child process of its own.
    const pid_t demo = fork();
    if (demo == 0) {
        const bool drawn = grab_demo(out);
        std::fflush(stdout);
        _exit(drawn ? 0 : 1);
    }
    int status = -1;
    waitpid(demo, &status, 0);
    const bool ok = grab_popup_and_run(out);
    return ok && status == 0 ? 0 : 1;
}
