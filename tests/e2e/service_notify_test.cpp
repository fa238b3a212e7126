// The real program telling a service manager that it is up and still making
// progress, as systemd asks through NOTIFY_SOCKET and WATCHDOG_USEC: READY=1
// once, then WATCHDOG=1 often enough for the interval asked; and not a word
// where nobody asked. The service manager is a datagram socket of the test's
// in a temporary directory.
#include "logger_station.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <chrono>

using testing_support::eventually;

namespace {

constexpr int kRunPets = 8; // heard after the run has begun
const char *const kWatchdogUsec = "2000000";

double seconds_now()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// COM1 on a pseudo-terminal, logged; every other port none.
class ServiceWord : public Station {
protected:
    ServiceWord() : m_manager(top() + "/notify")
    {
        map_ports({1});
        set_table({{1, {115200, 1, 1, 0}}});
    }

    LoggerProcess &start_with(std::map<std::string, std::string> env)
    {
        LoggerProcess::Options o = options();
        o.env = std::move(env);
        o.unset = {"WATCHDOG_PID"};
        if (o.env.count("NOTIFY_SOCKET") == 0)
            o.unset.push_back("NOTIFY_SOCKET");
        m_spawned = seconds_now();
        return start_logger(o);
    }

    // Listens until the run has begun; false when it did not in time.
    bool listen_until_run()
    {
        return eventually([&] { return m_manager.words(), run_begun(); }, kRunMs);
    }
    // Listens until `pets` more words have come; false when they did not within ms.
    bool listen_for_pets(int pets, int ms)
    {
        const std::size_t wanted = m_manager.words().size() + static_cast<std::size_t>(pets);
        return eventually([&] { return m_manager.words().size() >= wanted; }, ms);
    }
    const std::vector<std::string> &words() { return m_manager.words(); }

    testing_support::NotifySocket m_manager;
    double m_spawned = 0; // when the logger was started, on the test's steady clock
};

} // namespace

// How often the pets come, as against the ticks that send them, is counted
// where the clock can be held (the program's own tests); here, what the
// service manager gets: the order of the words, pets that go on through the
// run, and no more of them than the watchdog's interval calls for.
TEST_F(ServiceWord, ReadyOnceThenPetsPacedToTheWatchdogsIntervalThroughTheRun)
{
    const LoggerProcess &logger = start_with({{"NOTIFY_SOCKET", m_manager.path()}, {"WATCHDOG_USEC", kWatchdogUsec}});
    ASSERT_TRUE(listen_until_run()) << logger.stderr_text();
    ASSERT_TRUE(listen_for_pets(kRunPets, kRunMs)) << "the pets stopped after " << words().size() << " words";
    const double heard = seconds_now();

    ASSERT_FALSE(words().empty());
    EXPECT_EQ(words()[0], "READY=1") << "ready as soon as the countdown waits";
    for (std::size_t i = 1; i < words().size(); ++i)
        ASSERT_EQ(words()[i], "WATCHDOG=1") << "word " << i;
    // A pet a quarter of the interval (0.5 s) at most, never one a tick
    // (every 250 ms): however the ticks were delayed, no more than this in
    // the time the logger has run.
    const double ranFor = heard - m_spawned;
    EXPECT_LE(static_cast<double>(words().size() - 1), ranFor / 0.5 + 1) << "paced, in " << ranFor << " s";
}

TEST_F(ServiceWord, NotAWordWithoutNotifySocket)
{
    LoggerProcess &logger = start_with({{"WATCHDOG_USEC", kWatchdogUsec}});
    ASSERT_TRUE(listen_until_run()) << logger.stderr_text();
    eventually([] { return false; }, 2000); // a while of the run, for any word it might say
    EXPECT_TRUE(words().empty()) << words().size() << " datagrams, the first " << words()[0];
    EXPECT_EQ(logger.wait_exit(0), -1) << "the logger is still running";
}
