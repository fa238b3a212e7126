// The logger for Windows, the real vornacq4.exe of the folder that runs on
// Windows as it stands, started under wine in a start-up directory of its
// own, its window on the X display the run provides (Xvfb).
//
// Each COM port of the station is a pseudo-terminal linked into the wine
// prefix as dosdevices/comN: wine opens the device the link names, as the
// Linux logger opens the device comports.map names, and the test writes the
// master side as the instrument would. A COM port with no link is missing,
// as an unplugged adapter's is on Windows.
//
// The operator's actions are real input: clicks go to the X server
// (xdotool), which hands them to wine as mouse messages; closing the window
// is Windows' WM_CLOSE (taskkill without /F); Ctrl+C is the SIGINT wine
// turns into the console's CTRL_C_EVENT. What the window shows is read back
// from the screen (xwd).
//
// Only under tools/windows-test.sh, which sets VORN_WINDOWS_FOLDER,
// WINEPREFIX and DISPLAY, and hides the machine's serial devices.
#pragma once

#include "logger_process.h"
#include "ptykit/pty.h"
#include "ptykit/station.h"

#include <map>
#include <memory>
#include <string>
#include <vector>

// An RGB colour read off the screen.
struct Rgb {
    int r = -1, g = -1, b = -1;
};

class WineStation {
public:
    // Links a pseudo-terminal as each of the ports; throws when the
    // environment of tools/windows-test.sh is missing. The program is that of
    // VORN_WINDOWS_FOLDER, or of `folder` when one is given.
    explicit WineStation(const std::vector<int> &ports, const std::string &folder = "");
    ~WineStation(); // ends the program if it still runs; removes the links

    WineStation(const WineStation &) = delete;
    WineStation &operator=(const WineStation &) = delete;

    const std::string &prefix() const { return m_prefix; }
    const std::string &start_dir() const { return m_start; }
    std::string in_start(const std::string &name) const { return m_start + "/" + name; }
    ptykit::Pty &pty(int port) { return *m_ptys.at(port); }

    // Starts vornacq4.exe in the start-up directory, or in `dir`, which
    // becomes the station's start-up directory; false when its window is not
    // up within a minute.
    bool start(const std::string &dir = "");
    // The exit status the program ends with (-1: not within timeoutMs).
    int wait_exit(int timeoutMs);
    std::string stderr_text() const;

    // A left click at (x, y) of the main window's client area.
    void click(int x, int y);
    // A left click at (x, y) of the window that has this title.
    void click_in(const std::string &title, int x, int y);
    // The colour of the main window's pixel at (x, y).
    Rgb pixel(int x, int y) const;
    // How many pixels of a part of the window with this title are darker
    // than its background: text drawn there (-1: no such window).
    int dark_pixels(const std::string &title, int x, int y, int width, int height) const;
    // Windows' WM_CLOSE to the program's windows, as when the operator
    // closes the window.
    void close_window();
    // Ctrl+C, as in the console the program was started from.
    void interrupt();
    // Saves the main window's picture as PNG; false when it could not.
    bool screenshot(const std::string &pngPath) const;

    // Every byte the program wrote for the port after await_reading's 'W's,
    // from its data files in the order they were begun (their names sort
    // so), and the names of those files.
    std::string recording(int port) const;
    std::vector<std::string> data_files(int port) const;
    // Sends the byte 'W' to the port every 100 ms until the program has
    // written one to the port's data file: from then on it reads the port
    // (a run flushes what came before its ports were open). False when no
    // byte came through in timeoutMs.
    bool await_reading(int port, int timeoutMs);
    // Waits until the port's recording has grown to `size` bytes.
    bool recorded(int port, std::size_t size, int timeoutMs);
    // Whether wine has taken every byte written to the port off its line.
    bool line_drained(int port) const;

private:
    std::string raw_recording(int port) const;
    std::string window(const std::string &title, int timeoutMs) const;
    std::string link(int port) const;

    std::string m_folder;    // the program's folder
    std::string m_prefix;    // the wine prefix
    ptykit::TempDir m_top;   // start-up directory and stderr
    std::string m_start;
    std::map<int, std::unique_ptr<ptykit::Pty>> m_ptys;
    std::unique_ptr<LoggerProcess> m_logger;
    std::string m_window;    // X id of the main window
};

// Runs a shell command to its end in this process's environment (the
// run's display and wine prefix), killed after limitMs as run_tool does.
ToolRun shell(const std::string &command, int limitMs = kToolMs);

// The title of the logger's main window and of its configuration window.
extern const char *const kMainTitle;
extern const char *const kConfigTitle;
