#include "test_support.h"

#include "engine.h"
#include "engine_seams.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <stdexcept>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace testing_support {

bool is_directory(const std::string &path)
{
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

const std::vector<Hostile> &all_hostile()
{
    static const std::vector<Hostile> kinds = {Hostile::Fifo, Hostile::Directory, Hostile::DeviceLink, Hostile::Huge};
    return kinds;
}

const char *hostile_name(Hostile kind)
{
    switch (kind) {
    case Hostile::Fifo: return "Fifo";
    case Hostile::Directory: return "Directory";
    case Hostile::DeviceLink: return "DeviceLink";
    case Hostile::Huge: return "Huge";
    }
    return "?";
}

void make_hostile(const std::string &path, Hostile kind)
{
    int result = -1;
    switch (kind) {
    case Hostile::Fifo: result = mkfifo(path.c_str(), 0666); break;
    case Hostile::Directory: result = mkdir(path.c_str(), 0777); break;
    case Hostile::DeviceLink: result = symlink("/dev/zero", path.c_str()); break;
    case Hostile::Huge:
        write_file(path, "");
        result = truncate(path.c_str(), 100L * 1024 * 1024);
        break;
    }
    if (result != 0)
        throw std::runtime_error("cannot make " + path + " " + hostile_name(kind));
}

PortRig::PortRig(const std::vector<int> &ptyPorts)
{
    std::map<int, std::string> paths;
    for (int port : ptyPorts) {
        m_ptys[port] = std::make_unique<Pty>();
        paths[port] = m_ptys[port]->path();
    }
    write_file("comports.map", port_map_text(paths));
    SeamReloadPortMap();
}

std::string command_line_output(const std::string &command, int *status)
{
    std::FILE *p = popen((command + " 2>&1").c_str(), "r");
    char line[1024] = {};
    if (p == nullptr || std::fgets(line, sizeof line, p) == nullptr)
        line[0] = '\0';
    const int result = p != nullptr ? pclose(p) : -1;
    if (status != nullptr)
        *status = WIFEXITED(result) ? WEXITSTATUS(result) : -1;
    std::string text = line;
    if (!text.empty() && text.back() == '\n')
        text.pop_back();
    return text;
}

void start_engine()
{
    static char arg0[] = "vornacq4-test";
    static char *argv[] = {arg0, nullptr};
    ASSERT_EQ(InitEngine(0, argv, 0), 1);
}

} // namespace testing_support
