// A logging run brought up in-process (logger_fixture.h), with the helpers
// its tests share: a clock given in seconds from 14 February 2024, the data
// file a port writes at a moment, bytes sent as an instrument sends them.
#pragma once

#include "logger_fixture.h"

#include <algorithm>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

using testing_support::byte_values;
using testing_support::list_dir;
using testing_support::occurrences;
using testing_support::read_file;
using testing_support::StderrCapture;

namespace run_test {


// The day directory and data-file name of a port for a time given in seconds
// from 14 February 2024 00:00 (day 45).
inline std::string data_file(long when, int port)
{
    char name[64];
    std::snprintf(name, sizeof name, "D%03ld/%03ld%05ld.C%02d", 45 + when / 86400, 45 + when / 86400,
                  when % 86400, port);
    return name;
}

inline void set_clock(long when)
{
    SeamSetClock(2024, 2, static_cast<int>(14 + when / 86400), static_cast<int>(when % 86400 / 3600),
                 static_cast<int>(when % 3600 / 60), static_cast<int>(when % 60));
}

inline long at(int hour, int minute, int second) { return hour * 3600L + minute * 60L + second; }

// How many descriptors of this process are open on the device.
inline int descriptors_of(const std::string &device)
{
    int count = 0;
    for (const std::string &fd : list_dir("/proc/self/fd")) {
        char target[256] = {};
        const std::string link = "/proc/self/fd/" + fd;
        if (readlink(link.c_str(), target, sizeof target - 1) > 0 && device == target)
            ++count;
    }
    return count;
}


} // namespace run_test

using namespace run_test;

// A run with port 2 shown as text in slot 1, port 3 as hexadecimal in slot 2,
// and port 5 logged without a slot.
class Acquisition : public LoggerTest {
protected:
    explicit Acquisition(std::vector<int> ptys = {2, 3, 5}) : LoggerTest(std::move(ptys)) {}

    void SetUp() override
    {
        LoggerTest::SetUp();
        write_config_file(testing_support::port_table({{2, {9600, 1, 1, 0}}, {3, {9600, 1, 2, 1}}, {5, {115200, 1, 0, 0}}}));
    }

    // Starts a run at `when`: hourly files, or a new set every `minutes`.
    void start_run(long when, int minutes = 0)
    {
        start_logger();
        set_clock(when);
        if (minutes > 0) {
            SetCtrlVal(panelHandle, hour_check, 0);
            SetCtrlVal(panelHandle, minute_count, minutes);
        }
        ASSERT_TRUE(SeamClick(panelHandle, start_button));
        ASSERT_TRUE(run_started());
    }

    // Sends as the instrument would, and waits until the bytes are queued
    // (as long as a starved reader thread may take: it returns once they are).
    void send(int port, const std::string &bytes)
    {
        const int before = GetInQLen(port);
        pty(port).write(bytes);
        ASSERT_TRUE(testing_support::eventually(
            [&] { return GetInQLen(port) >= before + static_cast<int>(bytes.size()); }, 30000));
    }

    void tick() { ASSERT_TRUE(SeamTick(panelHandle, acq_timer)); }
    std::string text(int slot) const { return SeamCtrlText(panelHandle, pc_idx[slot]); }
    std::string file(const std::string &name) const { return read_file(start_dir() + "/" + name); }

    // Every data file of the run, as "Dddd/name", in order.
    std::vector<std::string> data_files() const
    {
        std::vector<std::string> files;
        for (const std::string &dir : list_dir(start_dir()))
            if (dir[0] == 'D')
                for (const std::string &name : list_dir(start_dir() + "/" + dir))
                    files.push_back(dir + "/" + name);
        return files;
    }
};

