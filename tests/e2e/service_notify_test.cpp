// The real program telling a service manager that it is up and still making
// progress, as systemd asks through NOTIFY_SOCKET and WATCHDOG_USEC: READY=1
// once, then WATCHDOG=1 often enough for the interval asked; and not a word
// where nobody asked. The service manager is a datagram socket of the test's
// in a temporary directory.
#include "logger_process.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

using testing_support::config_bytes;
using testing_support::eventually;
using testing_support::list_dir;
using testing_support::PortRecord;
using testing_support::Pty;
using testing_support::TempDir;
using testing_support::write_file;

namespace {

constexpr int kRunMs = 40000;   // the countdown takes 12 s
constexpr int kWatchMs = 5000;  // of the run, for its pets
const char *const kWatchdogUsec = "2000000";

double seconds_now()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

struct Word {
    double at; // when it arrived, on the test's steady clock
    std::string text;
};

class ServiceWord : public ::testing::Test {
protected:
    ServiceWord() : m_start(m_top.path() + "/start"), m_socketPath(m_top.path() + "/notify")
    {
        ::mkdir(m_start.c_str(), 0755);
        // COM1 on a pseudo-terminal, logged; every other port none.
        write_file(m_start + "/comports.map", testing_support::port_map_text({{1, m_com1.path()}}));
        std::vector<PortRecord> table(18, PortRecord{9600, 0, 0, 0});
        table[0] = {115200, 1, 1, 0};
        write_file(m_start + "/coms.cfg", config_bytes(table));
        bind_socket();
    }
    ~ServiceWord() override { ::close(m_socket); }

    std::unique_ptr<LoggerProcess> start_logger(std::map<std::string, std::string> env)
    {
        LoggerProcess::Options o;
        o.startDir = m_start;
        o.stderrPath = m_top.path() + "/stderr.txt";
        o.env = std::move(env);
        o.unset = {"WATCHDOG_PID"};
        if (o.env.count("NOTIFY_SOCKET") == 0)
            o.unset.push_back("NOTIFY_SOCKET");
        return std::make_unique<LoggerProcess>(o);
    }

    // Listens until the run is on (its data file is there); false when it
    // did not begin in time.
    bool listen_until_run()
    {
        return eventually([&] { return take() && run_started(); }, kRunMs);
    }
    void listen_for(int ms)
    {
        eventually([&] { return !take(); }, ms);
    }

    TempDir m_top;
    Pty m_com1;
    const std::string m_start, m_socketPath;
    std::vector<Word> m_words;

private:
    void bind_socket()
    {
        m_socket = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        sockaddr_un a{};
        a.sun_family = AF_UNIX;
        if (m_socketPath.size() >= sizeof a.sun_path)
            throw std::runtime_error("socket path too long: " + m_socketPath);
        std::memcpy(a.sun_path, m_socketPath.c_str(), m_socketPath.size() + 1);
        if (m_socket < 0 || ::bind(m_socket, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0)
            throw std::runtime_error("cannot bind " + m_socketPath);
    }
    // Keeps the datagrams that wait; always true, for eventually().
    bool take()
    {
        char buffer[4096];
        for (ssize_t n; (n = ::recv(m_socket, buffer, sizeof buffer, MSG_DONTWAIT)) > 0;)
            m_words.push_back({seconds_now(), std::string(buffer, static_cast<std::size_t>(n))});
        return true;
    }
    bool run_started() const
    {
        for (const std::string &day : list_dir(m_start))
            if (day.size() == 4 && day[0] == 'D' && !list_dir(m_start + "/" + day).empty())
                return true;
        return false;
    }

    int m_socket = -1;
};

} // namespace

TEST_F(ServiceWord, ReadyOnceThenAPetAtLeastEverySecondOfTheRun)
{
    const auto logger = start_logger({{"NOTIFY_SOCKET", m_socketPath}, {"WATCHDOG_USEC", kWatchdogUsec}});
    ASSERT_TRUE(listen_until_run()) << logger->stderr_text();
    const double runFrom = seconds_now();
    listen_for(kWatchMs);
    const double runTo = seconds_now();

    ASSERT_FALSE(m_words.empty());
    EXPECT_EQ(m_words[0].text, "READY=1") << "ready as soon as the countdown waits";
    double lastPet = m_words[0].at;
    int runPets = 0;
    for (std::size_t i = 1; i < m_words.size(); ++i) {
        const Word &w = m_words[i];
        ASSERT_EQ(w.text, "WATCHDOG=1") << "word " << i;
        // The countdown's pets keep within the interval, the run's within half.
        EXPECT_LT(w.at - lastPet, 2.0) << "a gap the watchdog would end the logger for, at word " << i;
        if (w.at > runFrom) {
            EXPECT_LE(w.at - lastPet, 1.0) << "a gap in the run, at word " << i;
            ++runPets;
        }
        lastPet = w.at;
    }
    EXPECT_LE(runTo - lastPet, 1.0) << "the pets stopped";
    // Paced, not one a tick (20 in 5 s).
    EXPECT_GE(runPets, 5);
    EXPECT_LE(runPets, 12);
}

TEST_F(ServiceWord, NotAWordWithoutNotifySocket)
{
    const auto logger = start_logger({{"WATCHDOG_USEC", kWatchdogUsec}});
    ASSERT_TRUE(listen_until_run()) << logger->stderr_text();
    listen_for(2000);
    EXPECT_TRUE(m_words.empty()) << m_words.size() << " datagrams, the first " << m_words[0].text;
    EXPECT_EQ(logger->wait_exit(0), -1) << "the logger is still running";
}
