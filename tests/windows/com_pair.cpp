#include "com_pair.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

// Long enough for the slowest test, short enough that a leftover socat
// (its test crashed) does not outlast the run for long.
constexpr int kSocatLifeSeconds = 600;
constexpr int kWaitMs = 10000;
constexpr int kPollMs = 50;

std::wstring wide_com(int port)
{
    return L"\\\\.\\COM" + std::to_wstring(port);
}

// Runs a Linux command line under wine; there is no handle to wait on.
bool run_linux(std::string commandLine)
{
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        return false;
    // Wine hands back no handles for a Linux program; close any it did.
    if (process.hProcess != nullptr)
        CloseHandle(process.hProcess);
    if (process.hThread != nullptr)
        CloseHandle(process.hThread);
    return true;
}

// The first line of a file of the prefix (through drive Z:), "" if none.
std::string first_line(const std::string &unixPath)
{
    std::FILE *f = std::fopen(("Z:" + unixPath).c_str(), "r");
    if (f == nullptr)
        return std::string();
    char line[128] = "";
    const bool read = std::fgets(line, sizeof line, f) != nullptr;
    std::fclose(f);
    return read ? line : "";
}

} // namespace

ComPair::ComPair(int loggerPort, int otherPort)
    : m_loggerPort(loggerPort), m_otherPort(otherPort), m_other(INVALID_HANDLE_VALUE)
{
    const char *prefix = std::getenv("WINEPREFIX");
    if (prefix == nullptr || prefix[0] != '/')
        return;
    m_prefix = prefix;
    const std::string pidFile = pid_file();
    DeleteFileA(("Z:" + pidFile).c_str());
    // The shell waits (bounded) for both links, then writes socat's process
    // id, and "up" when the links are there. Opening a link to look would
    // not do: socat may end when the first program to open an end closes it.
    const std::string a = link(loggerPort), b = link(otherPort);
    const std::string script =
        "/usr/bin/timeout " + std::to_string(kSocatLifeSeconds) + " /usr/bin/socat pty,link=" + a +
        ",raw,echo=0 pty,link=" + b + ",raw,echo=0 & i=0; while { [ ! -e " + a + " ] || [ ! -e " + b +
        " ]; } && [ $i -lt 200 ]; do sleep 0.05; i=$((i+1)); done; s=; [ -e " + a + " ] && [ -e " + b +
        " ] && s=up; echo $! $s >" + pidFile + ".new && mv " + pidFile + ".new " + pidFile;
    if (!run_linux("/bin/sh -c \"" + script + "\""))
        return;
    std::string line;
    for (int waited = 0; line.empty() && waited < kWaitMs; waited += kPollMs) {
        Sleep(kPollMs);
        line = first_line(pidFile);
    }
    long pid = 0;
    char state[8] = "";
    if (std::sscanf(line.c_str(), "%ld %7s", &pid, state) < 1 || pid <= 0)
        return;
    m_pid = pid;
    if (std::string(state) != "up")
        hangUp(); // socat did not make its links: end it, and up() says no
}

ComPair::~ComPair()
{
    if (m_other != INVALID_HANDLE_VALUE)
        CloseHandle(m_other);
    hangUp();
    if (!m_prefix.empty()) {
        DeleteFileA(("Z:" + link(m_loggerPort)).c_str());
        DeleteFileA(("Z:" + link(m_otherPort)).c_str());
        DeleteFileA(("Z:" + pid_file()).c_str());
    }
}

std::string ComPair::link(int port) const
{
    return m_prefix + "/dosdevices/com" + std::to_string(port);
}

// Named so that Windows sees no device in it: "com7.socat" would be COM7.
std::string ComPair::pid_file() const
{
    return m_prefix + "/socat-com" + std::to_string(m_loggerPort) + ".pid";
}

std::string ComPair::loggerPath() const
{
    return "\\\\.\\COM" + std::to_string(m_loggerPort);
}

// Whether the link of port still leads to a pseudo-terminal: with the link
// gone, wine finds no device there, or one that is no character device.
bool ComPair::linked(int port) const
{
    HANDLE h = CreateFileW(wide_com(port).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    const bool character = GetFileType(h) == FILE_TYPE_CHAR;
    CloseHandle(h);
    return character;
}

bool ComPair::write(const void *data, std::size_t size)
{
    if (!up())
        return false;
    if (m_other == INVALID_HANDLE_VALUE)
        m_other = CreateFileW(wide_com(m_otherPort).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              0, nullptr);
    if (m_other == INVALID_HANDLE_VALUE)
        return false;
    const char *bytes = static_cast<const char *>(data);
    while (size > 0) {
        DWORD put = 0;
        const DWORD chunk = size > 4096 ? 4096 : static_cast<DWORD>(size);
        if (!WriteFile(m_other, bytes, chunk, &put, nullptr) || put == 0)
            return false;
        bytes += put;
        size -= put;
    }
    return true;
}

void ComPair::hangUp()
{
    if (m_pid <= 0)
        return;
    run_linux("/bin/kill -TERM " + std::to_string(m_pid));
    m_pid = 0;
    for (int waited = 0; waited < kWaitMs && (linked(m_loggerPort) || linked(m_otherPort)); waited += kPollMs)
        Sleep(kPollMs);
}
