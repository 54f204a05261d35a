#include "MyAppLibs.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QThread>
#include <cstdlib>
#include <gtest/gtest.h>
#include <iostream>

#include "MyExceptions.h"

// ---- processor load and clock -------------------------------------------------------------------

// The first sample gives no load; later ones the load since the previous one. Text that can not
// be read, or no time passed, keeps the previous sample.
TEST(CpuUsage, LoadSinceThePreviousSampleOrNothing) {
    TCpuSample prev;
    double usage = -1;
    int cpus = 0;
    ASSERT_TRUE(CpuUsageFromStat("cpu  100 0 100 800 0 0 0 0 0 0\ncpu0 50 0 50 400 0 0 0 0 0 0\n"
                                 "cpu1 50 0 50 400 0 0 0 0 0 0\nintr 1 2 3\n",
                                 prev, usage, cpus));
    EXPECT_EQ(usage * 10 + cpus, 2);
    // 1000 ticks over two processors, 900 of them idle (iowait counts as idle).
    ASSERT_TRUE(
        CpuUsageFromStat("cpu  150 0 150 1600 100 0 0 0 0 0\ncpu0\ncpu1\n", prev, usage, cpus));
    EXPECT_DOUBLE_EQ(usage, 10.5);
    prev = {800, 1000};
    for (const char* bad : {"", "cpu  1 2\n", "cpu  100 0 100 800 0 0 0 0\n"})
        EXPECT_FALSE(CpuUsageFromStat(bad, prev, usage, cpus)) << bad;
    EXPECT_EQ(prev.Total, 1000u);
    EXPECT_EQ(usage, 0);
}

TEST(CpuSpeed, FromCpufreqElseCpuinfoElseNothing) {
    // cpufreq (kHz), cpuinfo (first "cpu MHz" line, halves to even), expected text.
    const std::tuple<const char*, const char*, const char*> cases[] = {
        {"2400000\n", "cpu MHz : 1.0\n", "2400 MHz"},
        {"0\n", "cpu MHz : 1200\n", "1200 MHz"}, // a stopped clock falls back to cpuinfo
        {"", "processor\t: 0\ncpu MHz\t\t: 2445.410\ncpu MHz : 9\n", "2445 MHz"},
        {"", "cpu MHz : 2444.5\n", "2444 MHz"},
        {"", "cpu MHz : 0.8\n", "1 MHz"},
        {"fast", "cpu MHz : 2,4 GHz\n", ""},
        {"", "cpu MHz : \n", ""},
        {"", "cpu MHz : nan\n", ""},
        {"", "", ""}};
    for (auto [freq, info, text] : cases)
        EXPECT_EQ(CpuSpeedTextFrom(freq, info), text) << info;
}

TEST(ExceptionText, TakesTheMessageOfOurExceptionsAndOthers) {
    EXPECT_EQ(ExceptionMessage(std::make_exception_ptr(EReadError("bad chunk", "a.avi", 12))) +
                  "|" + ExceptionMessage(std::make_exception_ptr(std::runtime_error("x"))) + "|" +
                  ExceptionMessage(std::make_exception_ptr(42)),
              "bad chunk|x|Unknown error");
}

// ---- single instance ----------------------------------------------------------------------------

namespace {
const char* const HoldEnv = "TARVOLIN_TEST_HOLD_INSTANCE";
QString UniqueName() {
    return QStringLiteral("tarvolin-test-%1-%2")
        .arg(QCoreApplication::applicationPid())
        .arg(QString::number(reinterpret_cast<quintptr>(&HoldEnv), 16));
}
} // namespace

// Not a test of its own: the process the stale-lock test starts and kills. It takes the lock
// named in the environment and waits to be killed.
TEST(InstanceGuardHelper, HoldLock) {
    const char* held = std::getenv(HoldEnv);
    if (!held)
        GTEST_SKIP() << "run by InstanceGuard.SecondStartRefusedAndLockOfAKilledProcessTakenOver";
    const QStringList parts = QString::fromLocal8Bit(held).split(QLatin1Char('|'));
    ASSERT_EQ(parts.size(), 2);
    TInstanceGuard guard(parts[1], parts[0]);
    ASSERT_TRUE(guard.Acquire());
    std::cout << "locked" << std::endl;
    QThread::sleep(60);
}

// A second start is refused while the first lives; the lock of a killed one is taken over.
TEST(InstanceGuard, SecondStartRefusedAndLockOfAKilledProcessTakenOver) {
    QTemporaryDir dir;
    const QString name = UniqueName() + "-stale";
    QProcess holder;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(HoldEnv, dir.path() + "|" + name);
    holder.setProcessEnvironment(env);
    holder.start(QCoreApplication::applicationFilePath(),
                 {QStringLiteral("--gtest_filter=InstanceGuardHelper.HoldLock")});
    ASSERT_TRUE(holder.waitForStarted(10000));
    QByteArray out;
    while (!out.contains("locked") && holder.waitForReadyRead(30000))
        out += holder.readAll();
    ASSERT_TRUE(out.contains("locked")) << out.constData();

    TInstanceGuard meanwhile(name, dir.path());
    EXPECT_FALSE(meanwhile.Acquire());

    holder.kill(); // no chance to remove its lock or socket
    ASSERT_TRUE(holder.waitForFinished(10000));
    EXPECT_TRUE(QFile::exists(dir.path() + "/" + name + ".lock"));

    // The next start takes it over and listens on the socket the dead one left behind; a start
    // after that is refused and raises it. Another name is another program.
    TInstanceGuard next(name, dir.path());
    ASSERT_TRUE(next.Acquire());
    EXPECT_TRUE(QFile::exists(next.LockFileName()));
    QSignalSpy raised(&next, &TInstanceGuard::RaiseRequested);
    TInstanceGuard later(name, dir.path()), other(name + "x", dir.path());
    EXPECT_FALSE(later.Acquire());
    EXPECT_TRUE(later.NotifyFirst());
    EXPECT_TRUE(raised.count() == 1 || raised.wait(5000));
    EXPECT_EQ(raised.count(), 1);
    EXPECT_FALSE(other.NotifyFirst());
    EXPECT_TRUE(other.Acquire());
}
