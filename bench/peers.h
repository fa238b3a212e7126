// peers.h - the programs the logger is measured against in one run: one
// `cat` per port (the floor: a copy from a terminal to a file, nothing more)
// and one Debian `tio` per port logging to a file (what a station would run
// instead of a logger). Each peer has pseudo-terminals of its own, fed by the
// same paced writer as the logger's.
#pragma once

#include "ptykit/pty.h"

#include <cstdint>
#include <memory>
#include <string>
#include <sys/types.h>
#include <vector>

namespace bench {

class Peers {
public:
    enum class Kind { Cat, Tio };

    // kPorts pseudo-terminals in raw mode; their files go to dir/<name>/.
    Peers(Kind kind, const std::string &dir);
    ~Peers(); // stops every program
    Peers(const Peers &) = delete;
    Peers &operator=(const Peers &) = delete;

    // Whether the program is installed (cat always is).
    bool available() const;
    const char *name() const { return m_kind == Kind::Cat ? "cat" : "tio"; }
    // Starts one program a port, in the environment `env`.
    void start(const std::vector<std::string> &env);
    std::vector<int> masters() const;
    // CPU seconds all of them have used so far.
    double cpu() const;
    // Bytes in their files so far (tio may still hold a few in its buffer).
    std::uint64_t kept() const;

private:
    std::vector<std::string> command(int port) const;

    Kind m_kind;
    std::string m_dir;
    std::vector<std::unique_ptr<ptykit::Pty>> m_lines;
    std::unique_ptr<ptykit::Pty> m_console; // tio's terminal: nobody types on it
    std::vector<pid_t> m_pids;
};

} // namespace bench
