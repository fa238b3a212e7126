#include "logger_process.h"

#include "ptykit/station.h"
#include "ptykit/stream.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <fstream>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace bench {

pid_t spawn(const std::vector<std::string> &args, const std::string &dir, const std::string &in,
            const std::string &out, const std::vector<std::string> &env)
{
    const pid_t pid = fork();
    if (pid != 0)
        return pid;
    std::vector<char *> argv, envp;
    for (const std::string &a : args)
        argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    for (const std::string &e : env)
        envp.push_back(const_cast<char *>(e.c_str()));
    envp.push_back(nullptr);
    // Should the benchmark itself be killed, its children go with it.
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    const int fin = open(in.c_str(), O_RDONLY | O_NOCTTY);
    const int fout = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fin < 0 || fout < 0 || dup2(fin, 0) < 0 || dup2(fout, 1) < 0 || dup2(fout, 2) < 0 ||
        chdir(dir.c_str()) != 0)
        _exit(120);
    execve(argv[0], argv.data(), envp.data());
    _exit(121);
}

void stop(pid_t pid, int graceMs)
{
    if (pid <= 0)
        return;
    kill(pid, SIGTERM);
    if (ptykit::eventually([&] { return waitpid(pid, nullptr, WNOHANG) != 0; }, graceMs))
        return;
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
}

bool running(pid_t pid)
{
    // WNOWAIT: an ended child stays unreaped, so that its id is not given to
    // another process before stop() reaps it.
    siginfo_t info{};
    return pid > 0 && waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
           info.si_pid == 0;
}

double cpu_seconds(pid_t pid)
{
    clockid_t clock;
    timespec t{};
    if (clock_getcpuclockid(pid, &clock) != 0 || clock_gettime(clock, &t) != 0)
        return 0;
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

std::map<std::string, double> thread_cpu_seconds(pid_t pid)
{
    std::map<std::string, double> byName;
    const std::string tasks = "/proc/" + std::to_string(pid) + "/task/";
    for (const std::string &tid : ptykit::list_dir(tasks)) {
        std::string name = ptykit::read_file(tasks + tid + "/comm");
        if (!name.empty() && name.back() == '\n')
            name.pop_back();
        std::ifstream in(tasks + tid + "/schedstat");
        unsigned long long ns = 0;
        if (in >> ns)
            byName[tid == std::to_string(pid) ? "window" : name] += static_cast<double>(ns) / 1e9;
    }
    return byName;
}

std::string thread_shares(const std::map<std::string, double> &before, const std::map<std::string, double> &after,
                          double wall)
{
    std::string text;
    for (const auto &[name, seconds] : after) {
        const auto was = before.find(name);
        char share[96];
        std::snprintf(share, sizeof share, "%s%s %.2f%%", text.empty() ? "" : " ", name.c_str(),
                      100.0 * (seconds - (was != before.end() ? was->second : 0.0)) / wall);
        text += share;
    }
    return text;
}

double peak_rss_mib(pid_t pid)
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(in, line);)
        if (line.rfind("VmHWM:", 0) == 0)
            return std::stod(line.substr(6)) / 1024.0;
    return 0;
}

std::vector<std::string> logger_env(const std::string &home)
{
    std::vector<std::string> env = {"PATH=/usr/bin:/bin", "HOME=" + home, "TZ=UTC"};
    const char *display = std::getenv("DISPLAY");
    env.push_back(display != nullptr ? std::string("DISPLAY=") + display : "QT_QPA_PLATFORM=offscreen");
    if (const char *auth = std::getenv("XAUTHORITY"))
        env.push_back(std::string("XAUTHORITY=") + auth);
    return env;
}

void write_station(const std::string &dir, const std::vector<std::string> &paths, bool views)
{
    std::map<int, std::string> byPort;
    for (std::size_t i = 0; i < paths.size(); ++i)
        byPort[static_cast<int>(i) + 1] = paths[i];
    std::vector<ptykit::PortRecord> table(kPorts, ptykit::PortRecord{115200, 1, 0, 0});
    for (int slot = 1; views && slot <= 5; ++slot)
        table[static_cast<std::size_t>(slot - 1)] = {115200, 1, slot, slot == 2 || slot == 4 ? 1 : 0};
    ptykit::write_file(dir + "/comports.map", ptykit::port_map_text(byPort));
    ptykit::write_file(dir + "/coms.cfg", ptykit::config_bytes(table));
}

bool wait_for_run(const std::string &dir, int ports, int timeoutMs)
{
    const auto begun = [&] {
        for (int port = 1; port <= ports; ++port)
            if (ptykit::data_files(dir, port).empty())
                return false;
        return true;
    };
    if (!ptykit::eventually(begun, timeoutMs))
        return false;
    std::this_thread::sleep_for(std::chrono::seconds(1));
    return true;
}

std::string recorded(const std::string &dir, int port)
{
    return ptykit::recording(dir, port);
}

std::uint64_t bytes_under(const std::string &dir, char letter)
{
    std::uint64_t total = 0;
    for (const std::string &day : ptykit::list_dir(dir))
        if (day[0] == letter)
            for (const std::string &name : ptykit::list_dir(dir + "/" + day)) {
                struct stat st {};
                if (::stat((dir + "/" + day + "/" + name).c_str(), &st) == 0)
                    total += static_cast<std::uint64_t>(st.st_size);
            }
    return total;
}

std::uint64_t intact_prefix(const std::string &data)
{
    std::uint64_t n = 0;
    while (n < data.size()) {
        const std::size_t part = std::min<std::size_t>(ptykit::kStreamChunk, data.size() - n);
        if (!ptykit::stream_intact(data.data() + n, part, n))
            break;
        n += part;
    }
    return n;
}

std::string load_average()
{
    std::string text = ptykit::read_file("/proc/loadavg");
    std::size_t end = 0;
    for (int field = 0; field < 3 && end != std::string::npos; ++field)
        end = text.find(' ', end + (field > 0 ? 1 : 0));
    return text.substr(0, end);
}

} // namespace bench
