#include "MyAppLibs.h"
#include "MyCommonParams.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusInterface>
#include <QDBusReply>
#include <QDir>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QMessageBox>
#include <QStandardPaths>
#include <QWidget>
#include <cmath>
#include <filesystem>
#include <sstream>
#include <unistd.h>

#include "MyBase.h"
#include "MyExceptions.h"

// ---- Folders beside the program ----------------------------------------------------------------

namespace {

bool MakeWritableFolder(const std::filesystem::path& folder) {
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    return std::filesystem::is_directory(folder, ec) && ::access(folder.c_str(), W_OK | X_OK) == 0;
}

} // namespace

std::string BesideProgramFolder(const std::string& name) {
    return BesideProgramFolder(name, QCoreApplication::applicationDirPath().toStdString());
}

std::string BesideProgramFolder(const std::string& name, const std::string& programFolder) {
    const std::filesystem::path beside = std::filesystem::path(programFolder) / name;
    if (!programFolder.empty() && MakeWritableFolder(beside))
        return beside.string();
    // An installed program's folder belongs to the system; the user's own data folder does not.
    const std::filesystem::path data =
        std::filesystem::path(
            QStandardPaths::writableLocation(QStandardPaths::AppDataLocation).toStdString()) /
        name;
    return MakeWritableFolder(data) ? data.string() : std::string();
}

// ---- Application --------------------------------------------------------------------------------

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv) {}

std::string ExceptionMessage(std::exception_ptr error) {
    try {
        std::rethrow_exception(error);
    } catch (const Exception& e) {
        return e.GetMessage();
    } catch (const std::exception& e) {
        return e.what();
    } catch (...) {
        return "Unknown error";
    }
}

bool TApplication::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (...) {
        const std::string text = ExceptionMessage(std::current_exception());
        QMessageBox::critical(activeWindow(), QString::fromLatin1(ProgramName),
                              QString::fromStdString(text));
        return false;
    }
}

// ---- Single instance ----------------------------------------------------------------------------

namespace {

constexpr const char* RaiseRequest = "raise\n";

QString RuntimeFolder() {
    QString dir = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (dir.isEmpty())
        dir = QDir::tempPath();
    return dir;
}

} // namespace

TInstanceGuard::TInstanceGuard(const QString& name, const QString& folder)
    : Name(name), Folder(folder.isEmpty() ? RuntimeFolder() : folder) {}

TInstanceGuard::~TInstanceGuard() {
    if (Server)
        Server->close();
    if (Lock)
        Lock->unlock();
}

QString TInstanceGuard::LockFileName() const {
    return Folder + QLatin1Char('/') + Name + ".lock";
}

QString TInstanceGuard::ServerName() const {
    return Folder + QLatin1Char('/') + Name + ".socket";
}

bool TInstanceGuard::Acquire() {
    Lock = std::make_unique<QLockFile>(LockFileName());
    // Only a dead owner makes a lock stale, never its age: a program may run for days.
    Lock->setStaleLockTime(0);
    if (!Lock->tryLock(0)) {
        if (Lock->error() == QLockFile::LockFailedError) {
            Lock.reset();
            return false;
        }
        // No lock can be made here at all: run unguarded.
        Lock.reset();
        return true;
    }
    // The socket of a crashed instance may still be there; holding the lock makes it ours.
    QLocalServer::removeServer(ServerName());
    Server = std::make_unique<QLocalServer>();
    Server->setSocketOptions(QLocalServer::UserAccessOption);
    if (!Server->listen(ServerName())) {
        Server.reset();
        return true;
    }
    connect(Server.get(), &QLocalServer::newConnection, this, &TInstanceGuard::OnNewConnection);
    return true;
}

void TInstanceGuard::OnNewConnection() {
    while (QLocalSocket* socket = Server->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
            // One short line per request; anything else is ignored.
            while (socket->canReadLine())
                if (socket->readLine() == RaiseRequest)
                    emit RaiseRequested();
        });
    }
}

bool TInstanceGuard::NotifyFirst() {
    QLocalSocket socket;
    socket.connectToServer(ServerName());
    if (!socket.waitForConnected(1000))
        return false;
    socket.write(RaiseRequest);
    const bool ok = socket.waitForBytesWritten(1000);
    socket.disconnectFromServer();
    if (socket.state() != QLocalSocket::UnconnectedState)
        socket.waitForDisconnected(1000);
    return ok;
}

namespace {
// Lives as long as the process, as the lock must.
std::unique_ptr<TInstanceGuard> InstanceGuard;
QPointer<QWidget> InstanceMainWindow;
} // namespace

void RaiseMainWindow(QWidget* window) {
    if (!window)
        return;
    if (window->isMinimized())
        window->setWindowState(window->windowState() & ~Qt::WindowMinimized);
    window->show();
    window->raise();
    window->activateWindow();
}

void SetInstanceMainWindow(QWidget* window) {
    InstanceMainWindow = window;
}

bool CheckSingleInstance(const std::string& name) {
    const QString qname = QString::fromStdString(name);
    auto guard = std::make_unique<TInstanceGuard>(qname);
    if (!guard->Acquire()) {
        QMessageBox::information(nullptr, qname, qname + QStringLiteral(" is already running"));
        // Raised only once the message is closed, as the user expects the first window on top.
        guard->NotifyFirst();
        return false;
    }
    QObject::connect(guard.get(), &TInstanceGuard::RaiseRequested,
                     [] { RaiseMainWindow(InstanceMainWindow); });
    InstanceGuard = std::move(guard);
    return true;
}

// ---- System information -------------------------------------------------------------------------

namespace {

std::string ReadSmallFile(const char* path) {
    QFile f(QString::fromLatin1(path));
    if (!f.open(QIODevice::ReadOnly))
        return {};
    // /proc and /sys files report size 0; read what is there, bounded.
    return f.read(1 << 20).toStdString();
}

// The whole text as a finite number, or nothing.
bool ParseNumber(const std::string& text, long double& value) {
    const std::string t = TrimText(text);
    if (t.empty())
        return false;
    std::istringstream in(t);
    in.imbue(std::locale::classic());
    long double v = 0;
    in >> v;
    if (in.fail() || !in.eof() || !std::isfinite(v))
        return false;
    value = v;
    return true;
}

TCpuSample CpuSampleState;

} // namespace

bool CpuUsageFromStat(const std::string& statText, TCpuSample& previous, double& usage,
                      int& processors) {
    usage = 0;
    processors = 1;
    std::istringstream lines(statText);
    std::string line;
    bool haveTotals = false;
    TCpuSample now;
    int cpus = 0;
    while (std::getline(lines, line)) {
        if (line.rfind("cpu", 0) != 0)
            continue;
        if (line.size() > 3 && line[3] >= '0' && line[3] <= '9') {
            ++cpus;
            continue;
        }
        if (haveTotals)
            continue;
        // cpu  user nice system idle iowait irq softirq steal guest guest_nice
        std::istringstream fields(line.substr(3));
        uint64_t v[8] = {};
        int n = 0;
        while (n < 8 && fields >> v[n])
            ++n;
        if (n < 4)
            return false;
        for (int i = 0; i < n; ++i)
            now.Total += v[i]; // guest time is inside user already
        now.Idle = v[3] + v[4];
        haveTotals = true;
    }
    if (!haveTotals)
        return false;
    if (cpus > 0)
        processors = cpus;
    if (previous.Idle != 0 && now.Total >= previous.Total && now.Idle >= previous.Idle) {
        const double elapsed = static_cast<double>(now.Total - previous.Total);
        if (elapsed == 0)
            return false; // nothing measured since the last call; keep that sample
        // The totals add up all processors; the wall time is their share of one.
        const double time = elapsed / processors;
        const double idle = static_cast<double>(now.Idle - previous.Idle);
        usage = 100.5 - (idle / time) * 100.0 / processors;
    }
    previous = now;
    return true;
}

bool GetCpuUsage(double& usage, int& processors) {
    return CpuUsageFromStat(ReadSmallFile("/proc/stat"), CpuSampleState, usage, processors);
}

std::string CpuSpeedTextFrom(const std::string& cpufreqKHz, const std::string& cpuinfo) {
    long double value = 0;
    if (ParseNumber(cpufreqKHz, value) && value > 0 && value < 1e12L)
        return std::to_string(Round64(value / 1000.0L)) + " MHz";
    std::istringstream lines(cpuinfo);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.rfind("cpu MHz", 0) != 0)
            continue;
        const size_t colon = line.find(':');
        if (colon == std::string::npos)
            return {};
        if (ParseNumber(line.substr(colon + 1), value) && value > 0 && value < 1e12L)
            return std::to_string(Round64(value)) + " MHz";
        return {};
    }
    return {};
}

std::string GetCpuSpeedText() {
    return CpuSpeedTextFrom(ReadSmallFile("/sys/devices/system/cpu/cpu0/cpufreq/cpuinfo_max_freq"),
                            ReadSmallFile("/proc/cpuinfo"));
}

// ---- Screen saver -------------------------------------------------------------------------------

namespace {
const char* const SaverService = "org.freedesktop.ScreenSaver";
const char* const SaverPath = "/org/freedesktop/ScreenSaver";
} // namespace

TScreenSaverInhibit::TScreenSaverInhibit(const QString& reason) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || !bus.interface())
        return;
    if (!bus.interface()->isServiceRegistered(QString::fromLatin1(SaverService)))
        return;
    QDBusInterface saver(QString::fromLatin1(SaverService), QString::fromLatin1(SaverPath),
                         QString::fromLatin1(SaverService), bus);
    QDBusReply<uint> reply =
        saver.call(QStringLiteral("Inhibit"), QString::fromLatin1(ProgramName), reason);
    if (reply.isValid())
        Cookie = reply.value();
}

TScreenSaverInhibit::~TScreenSaverInhibit() {
    if (Cookie == 0)
        return;
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return;
    QDBusInterface saver(QString::fromLatin1(SaverService), QString::fromLatin1(SaverPath),
                         QString::fromLatin1(SaverService), bus);
    saver.call(QStringLiteral("UnInhibit"), Cookie);
}
