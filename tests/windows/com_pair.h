// com_pair.h - two COM ports of the wine prefix joined back to back.
//
// socat makes a pair of pseudo-terminals and links them into the prefix as
// dosdevices/comN and dosdevices/comM, so \\.\COMN and \\.\COMM are the two
// ends of one line: what one end writes, the other reads, unaltered. A test
// opens one end as the logger's port and writes the other. Each test uses COM
// numbers of its own, so tests may run side by side in one prefix.
//
// Wine starts a Linux program from a Windows one, but hands back no process
// handle for it: socat is started by a shell that reports its process id in
// a file of the prefix, and ended by that id. A socat that outlives its test
// (the test crashed) ends by itself after kSocatLifeSeconds.
//
// Only under wine: without WINEPREFIX in the environment, up() is false.
#pragma once

#include <cstddef>
#include <string>

class ComPair {
public:
    // Links COM<loggerPort> and COM<otherPort>, waiting at most 10 s for both.
    ComPair(int loggerPort, int otherPort);
    // Ends socat, if it still runs, and removes both links.
    ~ComPair();
    ComPair(const ComPair &) = delete;
    ComPair &operator=(const ComPair &) = delete;

    // Whether the pair is up: both links came up, and it was not hung up.
    bool up() const { return m_pid > 0; }
    // The device path of the logger's end: \\.\COM<loggerPort>.
    std::string loggerPath() const;
    // Writes all of data to the other end; false when it could not.
    bool write(const void *data, std::size_t size);
    // Ends socat, so the logger's end hangs up as an unplugged device does;
    // waits at most 10 s for the links to go.
    void hangUp();

private:
    bool linked(int port) const;
    std::string link(int port) const;
    std::string pid_file() const;

    int m_loggerPort;
    int m_otherPort;
    long m_pid = 0;      // of the process that runs socat; 0 when none
    void *m_other;       // the other end, opened at the first write
    std::string m_prefix;
};
