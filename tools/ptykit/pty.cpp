#include "ptykit/pty.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <pty.h>
#include <stdexcept>
#include <unistd.h>

namespace ptykit {

Pty::Pty()
{
    char name[256];
    if (openpty(&m_master, &m_slave, name, nullptr, nullptr) != 0)
        throw std::runtime_error("openpty failed");
    // A program started meanwhile (the logger, a simulator) must not hold the
    // device open: closing both sides here would then not unplug it.
    fcntl(m_master, F_SETFD, FD_CLOEXEC);
    fcntl(m_slave, F_SETFD, FD_CLOEXEC);
    m_path = name;
}

Pty::~Pty()
{
    close();
}

void Pty::write(const std::string &bytes) const
{
    write(bytes.data(), bytes.size());
}

void Pty::write(const void *bytes, std::size_t count) const
{
    const char *p = static_cast<const char *>(bytes);
    while (count > 0) {
        const ssize_t n = ::write(m_master, p, count);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            throw std::runtime_error(std::string("write to pty master failed: ") + std::strerror(errno));
        p += n;
        count -= static_cast<std::size_t>(n);
    }
}

void Pty::close()
{
    if (m_slave >= 0)
        ::close(m_slave);
    if (m_master >= 0)
        ::close(m_master);
    m_slave = m_master = -1;
}

} // namespace ptykit
