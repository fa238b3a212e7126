// A pseudo-terminal standing in for a serial instrument: the writer plays the
// instrument on the master side, the logger opens the slave device by name.
#pragma once

#include <cstddef>
#include <string>

namespace ptykit {

// A pseudo-terminal pair: the test writes on the master side as the
// instrument would; path() is the slave device the logger opens. Opening
// throws std::runtime_error when no pseudo-terminal can be had.
class Pty {
public:
    Pty();
    ~Pty();
    Pty(const Pty &) = delete;
    Pty &operator=(const Pty &) = delete;

    const std::string &path() const { return m_path; }
    int master() const { return m_master; }
    // The test's own descriptor of the device, to read its terminal settings.
    int slave() const { return m_slave; }
    // Writes every byte (blocking while the terminal's buffer is full);
    // throws std::runtime_error when the master refuses them.
    void write(const std::string &bytes) const;
    void write(const void *bytes, std::size_t count) const;
    // Closes both sides: the device hangs up and disappears.
    void close();

private:
    int m_master = -1;
    int m_slave = -1; // held open so the device exists while the logger has it closed
    std::string m_path;
};

} // namespace ptykit
