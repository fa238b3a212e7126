// vornacq4-when - when did the bytes of a data file arrive?
//
// The logger keeps, beside each data file Dddd/name, an arrival-time index
// Tddd/name. This tool reads it:
//
//   vornacq4-when when FILE OFFSET          the arrival time of byte OFFSET
//   vornacq4-when slice FILE FROM TO [-o OUT]
//                                           the bytes that arrived from FROM
//                                           (included) to TO (excluded)
//   vornacq4-when replay FILE... [--to DEVICE] [--speed N] [--delay SECONDS]
//                                           the bytes of consecutive files at
//                                           their original pace (N times
//                                           faster), to DEVICE or to a new
//                                           pseudo-terminal whose name it prints
//   vornacq4-when check FILE                whether the index and the data
//                                           file agree, and what it covers
//
// Times are UTC: 2024-02-14T14:03:00 (a fraction and a Z may follow) or
// @1707919380.5 (seconds since 1970). Within a burst of reads the bytes are
// taken to have arrived evenly from its first read to its last.
//
// Exit status: 0 done, 1 the files do not tell (no index, an offset or time
// outside it, an index that claims bytes the data file lacks), 2 a wrong
// command line.
#include "index.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <pty.h>
#include <string>
#include <sys/stat.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace when;

namespace {

int usage()
{
    std::fprintf(stderr, "usage: vornacq4-when when FILE OFFSET\n"
                         "       vornacq4-when slice FILE FROM TO [-o OUT]\n"
                         "       vornacq4-when replay FILE... [--to DEVICE] [--speed N] [--delay SECONDS]\n"
                         "       vornacq4-when check FILE\n"
                         "times: 2024-02-14T14:03:00[.fraction][Z] (UTC) or @seconds since 1970\n");
    return 2;
}

int fail(const std::string &message)
{
    std::fprintf(stderr, "vornacq4-when: %s\n", message.c_str());
    return 1;
}

bool read_data(const std::string &path, std::string &bytes)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return true;
}

// A data file's index, and the file's bytes when they are wanted.
struct Recording {
    std::string path;
    long long size = 0;
    std::string data;
    std::vector<Burst> bursts;
};

bool load(const std::string &path, Recording &r, std::string &error, bool withData)
{
    r.path = path;
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || (withData && !read_data(path, r.data))) {
        error = path + " cannot be read";
        return false;
    }
    r.size = static_cast<long long>(st.st_size);
    return read_index(path, r.bursts, error);
}

// The burst that holds byte `offset`, or null. The last one that does: a
// file appended to again holds no byte twice, but a later segment wins.
const Burst *burst_of(const Recording &r, long long offset)
{
    const Burst *found = nullptr;
    for (const Burst &b : r.bursts)
        if (offset >= b.offset && offset < b.offset + b.count)
            found = &b;
    return found;
}

int cmd_when(const std::vector<std::string> &args)
{
    if (args.size() != 2)
        return usage();
    Recording r;
    std::string error;
    if (!load(args[0], r, error, false))
        return fail(error);
    char *end = nullptr;
    const long long offset = std::strtoll(args[1].c_str(), &end, 10);
    if (*end != '\0' || offset < 0)
        return usage();
    if (offset >= r.size)
        return fail("offset " + args[1] + " is past the end of " + r.path);
    const Burst *b = burst_of(r, offset);
    if (b == nullptr)
        return fail("the index does not tell when byte " + args[1] + " arrived");
    std::printf("%s\n", format_time(byte_time(*b, offset)).c_str());
    return 0;
}

int cmd_slice(const std::vector<std::string> &args)
{
    std::vector<std::string> rest;
    std::string out;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "-o" && i + 1 < args.size())
            out = args[++i];
        else
            rest.push_back(args[i]);
    }
    long long from = 0, to = 0;
    if (rest.size() != 3 || !parse_time(rest[1], from) || !parse_time(rest[2], to))
        return usage();
    Recording r;
    std::string error;
    if (!load(rest[0], r, error, true))
        return fail(error);
    std::string bytes;
    for (const Burst &b : r.bursts) {
        if (b.last < from || b.first >= to)
            continue;
        const long long end = std::min<long long>(b.offset + b.count, static_cast<long long>(r.data.size()));
        for (long long i = b.offset; i < end; ++i) {
            const long long t = byte_time(b, i);
            if (t >= from && t < to)
                bytes += r.data[static_cast<std::size_t>(i)];
        }
    }
    std::FILE *f = out.empty() ? stdout : std::fopen(out.c_str(), "wb");
    if (f == nullptr)
        return fail(out + " cannot be written");
    const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    if (f != stdout && std::fclose(f) != 0)
        return fail(out + " cannot be written");
    return ok ? 0 : fail("the bytes could not be written");
}

int cmd_check(const std::vector<std::string> &args)
{
    if (args.size() != 1)
        return usage();
    Recording r;
    std::string error;
    if (!load(args[0], r, error, false))
        return fail(error);
    long long covered = 0, beyond = 0;
    for (const Burst &b : r.bursts) {
        covered += b.count;
        if (b.offset + b.count > r.size)
            ++beyond;
    }
    std::printf("%s: %lld bytes, %zu records covering %lld bytes", r.path.c_str(), r.size, r.bursts.size(),
                covered);
    if (!r.bursts.empty())
        std::printf(", from %s to %s", format_time(r.bursts.front().first).c_str(),
                    format_time(r.bursts.back().last).c_str());
    std::printf("\n");
    if (beyond > 0)
        return fail(std::to_string(beyond) + " records claim bytes the data file does not hold");
    return 0;
}

// A device to replay onto: the one named, or a new pseudo-terminal whose
// name is printed. Raw, so that nothing is translated on the way.
int open_target(const std::string &device)
{
    if (!device.empty()) {
        const int fd = ::open(device.c_str(), O_WRONLY | O_NOCTTY);
        termios tio{};
        if (fd >= 0 && tcgetattr(fd, &tio) == 0) {
            cfmakeraw(&tio);
            tcsetattr(fd, TCSANOW, &tio);
        }
        return fd;
    }
    int master = -1, slave = -1;
    char name[256];
    termios raw{};
    cfmakeraw(&raw);
    if (openpty(&master, &slave, name, &raw, nullptr) != 0)
        return -1;
    // The slave stays open here, so the device lives while readers come and go.
    std::printf("%s\n", name);
    std::fflush(stdout);
    return master;
}

bool write_all(int fd, const char *bytes, std::size_t count)
{
    while (count > 0) {
        const ssize_t n = ::write(fd, bytes, count);
        if (n <= 0)
            return false;
        bytes += n;
        count -= static_cast<std::size_t>(n);
    }
    return true;
}

using Clock = std::chrono::steady_clock;

// Sends one recording's bytes, each burst spread over its span, a slice
// every 10 ms, at `start` + (arrival - origin) / speed. False when the
// device refuses them.
bool replay_one(int fd, const Recording &r, Clock::time_point start, long long &origin, double speed)
{
    long long sent = 0;
    const long long size = static_cast<long long>(r.data.size());
    for (const Burst &b : r.bursts) {
        if (origin < 0)
            origin = b.first;
        const long long end = std::min<long long>(b.offset + b.count, size);
        for (long long at = std::max(sent, b.offset); at < end;) {
            const long long t = byte_time(b, at);
            std::this_thread::sleep_until(start + std::chrono::microseconds(static_cast<long long>((t - origin) / speed)));
            long long upto = at + 1;
            while (upto < end && byte_time(b, upto) - t < 10000)
                ++upto;
            // Bytes before the burst that no record covers go with it.
            if (!write_all(fd, r.data.data() + sent, static_cast<std::size_t>(upto - sent)))
                return false;
            sent = at = upto;
        }
    }
    return write_all(fd, r.data.data() + sent, static_cast<std::size_t>(size - sent));
}

int cmd_replay(const std::vector<std::string> &args)
{
    std::vector<std::string> files;
    std::string device;
    double speed = 1.0, delay = 0.0;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--to" && i + 1 < args.size())
            device = args[++i];
        else if (args[i] == "--speed" && i + 1 < args.size())
            speed = std::atof(args[++i].c_str());
        else if (args[i] == "--delay" && i + 1 < args.size())
            delay = std::atof(args[++i].c_str());
        else
            files.push_back(args[i]);
    }
    if (files.empty() || speed <= 0 || delay < 0)
        return usage();
    // Every index first, so that a missing one stops the replay before it begins.
    std::string error;
    for (const std::string &file : files) {
        Recording r;
        if (!load(file, r, error, false))
            return fail(error);
    }
    const int fd = open_target(device);
    if (fd < 0)
        return fail("cannot open " + (device.empty() ? std::string("a pseudo-terminal") : device));
    const Clock::time_point start = Clock::now() + std::chrono::microseconds(static_cast<long long>(delay * 1e6));
    long long origin = -1;
    // One recording in memory at a time: a day of them may not fit.
    for (const std::string &file : files) {
        Recording r;
        if (!load(file, r, error, true))
            return fail(error);
        if (!replay_one(fd, r, start, origin, speed))
            return fail("the device refused the bytes of " + file);
    }
    // Let the last bytes leave before the device goes.
    tcdrain(fd);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc < 2)
        return usage();
    const std::string command = argv[1];
    const std::vector<std::string> args(argv + 2, argv + argc);
    if (command == "when")
        return cmd_when(args);
    if (command == "slice")
        return cmd_slice(args);
    if (command == "replay")
        return cmd_replay(args);
    if (command == "check")
        return cmd_check(args);
    return usage();
}
