// The poll of every front end on the real event loop: it runs after events and at the
// deadlines its parts name, never on a tick, and a part that keeps saying "now" cannot
// spin the loop.
#include "platform/DeadlinePoll.h"

#include "platform/Clock.h"
#include "platform/NextWake.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QSocketNotifier>
#include <chrono>
#include <gtest/gtest.h>
#include <optional>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// Runs the loop the way the program does between events: asleep until something comes.
void Sleep(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// A socket read the way the transports read theirs: the notifier marks an arrival and
// rests; one poll reads it into a queue, the next hands it over.
class FakeSource
{
public:
    FakeSource()
    {
        EXPECT_EQ(::socketpair(AF_UNIX, SOCK_DGRAM | SOCK_NONBLOCK, 0, m_fds), 0);
        m_notifier = std::make_unique<QSocketNotifier>(m_fds[0], QSocketNotifier::Read);
        QObject::connect(m_notifier.get(), &QSocketNotifier::activated, [this] {
            m_arrived = true;
            m_notifier->setEnabled(false);
        });
    }
    ~FakeSource()
    {
        m_notifier.reset();
        ::close(m_fds[0]);
        ::close(m_fds[1]);
    }
    void Send() { EXPECT_EQ(::write(m_fds[1], "x", 1), 1); }
    void Poll()
    {
        if (m_queued) {
            m_queued = false;
            ++HandedOver;
        }
        char byte;
        while (::read(m_fds[0], &byte, 1) == 1)
            m_queued = true;
        m_arrived = false;
        m_notifier->setEnabled(true);
    }
    void NextWake(CNextWake& wake) const
    {
        if (m_arrived || m_queued)
            wake.Now();
    }
    int HandedOver = 0;

private:
    int m_fds[2] = {-1, -1};
    std::unique_ptr<QSocketNotifier> m_notifier;
    bool m_arrived = false;
    bool m_queued = false;
};

TEST(DeadlinePollTest, SleepsWhileNothingIsDueAndKeepsADeadlineWithoutTicking)
{
    const IClock& clock = CSystemClock::Instance();
    std::optional<uint32_t> due;
    std::vector<int32_t> lateness;
    CDeadlinePoll poll(
        clock,
        [&] {
            if (due && static_cast<int32_t>(clock.TickCount() - *due) >= 0) {
                lateness.push_back(static_cast<int32_t>(clock.TickCount() - *due));
                due.reset();
            }
        },
        [&](CNextWake& wake) {
            if (due)
                wake.AtTick(*due);
        });
    poll.Start();
    Sleep(300);
    EXPECT_EQ(poll.PollCount(), 1u) << "only the first poll, with nothing due";

    due = clock.TickCount() + 150;
    Sleep(0); // the loop goes round once and learns of the deadline
    Sleep(600);
    ASSERT_EQ(lateness.size(), 1u);
    EXPECT_GE(lateness[0], 0);
    EXPECT_LT(lateness[0], 300);
    EXPECT_LE(poll.PollCount(), 3u);
}

TEST(NextWakeTest, CalendarSecondsAreKeptApartFromTickMoments)
{
    CManualClock clock;
    clock.SetNow(1'000'000);
    clock.SetTicks(5000);
    clock.Advance(250); // a quarter into the second
    {
        CNextWake wake(clock);
        wake.AtSecond(1'000'003);
        wake.AtSecond(1'000'002);
        wake.AtTick(5250 + 4000);
        EXPECT_EQ(wake.Milliseconds(), 1750u);
        EXPECT_EQ(wake.TickMilliseconds(), 4000u);
        EXPECT_EQ(wake.Second(), std::optional<std::time_t>(1'000'002));
    }
    {
        CNextWake wake(clock);
        wake.AtSecond(1'000'000); // begun already: now, on any clock
        EXPECT_EQ(wake.Milliseconds(), 0u);
        EXPECT_EQ(wake.TickMilliseconds(), 0u);
        EXPECT_FALSE(wake.Second());
    }
    CNextWake none(clock);
    EXPECT_FALSE(none.IsSet());
    EXPECT_EQ(none.TickMilliseconds(), CNextWake::kNever);
}

// A calendar second (a Send Later moment) is kept by the calendar clock's own timer, once,
// at the start of that second.
TEST(DeadlinePollTest, ACalendarSecondIsKeptOnceAtItsStart)
{
    const IClock& clock = CSystemClock::Instance();
    std::optional<std::time_t> due;
    std::vector<std::chrono::system_clock::time_point> polled;
    CDeadlinePoll poll(
        clock,
        [&] {
            polled.push_back(std::chrono::system_clock::now());
            if (due && clock.Now() >= *due)
                due.reset();
        },
        [&](CNextWake& wake) {
            if (due)
                wake.AtSecond(*due);
        });
    poll.Start();
    Sleep(50);
    polled.clear();
    due = clock.Now() + 2;
    std::time_t dueSecond = *due;
    Sleep(0);
    Sleep(2600);
    ASSERT_EQ(polled.size(), 1u);
    auto start = std::chrono::system_clock::from_time_t(dueSecond);
    EXPECT_GE(polled[0], start);
    EXPECT_LT(polled[0], start + std::chrono::milliseconds(300));
}

TEST(DeadlinePollTest, AnArrivalIsReadAndHandedOverAtOnceByTwoPolls)
{
    FakeSource source;
    CDeadlinePoll poll(
        CSystemClock::Instance(), [&] { source.Poll(); },
        [&](CNextWake& wake) { source.NextWake(wake); });
    poll.Start();
    Sleep(50);
    auto before = poll.PollCount();
    for (int i = 1; i <= 3; ++i) {
        source.Send();
        for (int waited = 0; source.HandedOver < i && waited < 2000; waited += 10)
            Sleep(10);
        EXPECT_EQ(source.HandedOver, i);
    }
    EXPECT_EQ(poll.PollCount() - before, 6u) << "one poll to read, one to hand over";
}

// A nested loop that only spins (processEvents without waiting) never says it is about
// to sleep; arrivals must still be polled.
TEST(DeadlinePollTest, ASpinningLoopStillPollsArrivals)
{
    FakeSource source;
    CDeadlinePoll poll(
        CSystemClock::Instance(), [&] { source.Poll(); },
        [&](CNextWake& wake) { source.NextWake(wake); });
    poll.Start();
    QCoreApplication::processEvents();
    source.Send();
    QElapsedTimer timer;
    timer.start();
    while (source.HandedOver == 0 && timer.elapsed() < 2000)
        QCoreApplication::processEvents();
    EXPECT_EQ(source.HandedOver, 1);
}

TEST(DeadlinePollTest, APartThatKeepsSayingNowIsHeldToTheOldTick)
{
    CDeadlinePoll poll(
        CSystemClock::Instance(), [] {}, [](CNextWake& wake) { wake.Now(); });
    QElapsedTimer timer;
    timer.start();
    poll.Start();
    Sleep(300);
    double allowed = CDeadlinePoll::kImmediatePolls + 1 +
                     static_cast<double>(timer.elapsed()) / CDeadlinePoll::kShortestWaitMs;
    EXPECT_LE(static_cast<double>(poll.PollCount()), allowed);
    EXPECT_GE(poll.PollCount(), 10u) << "it still runs";
}

} // namespace
