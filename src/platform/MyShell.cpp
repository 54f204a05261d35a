#include "MyShell.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QStringList>
#include <QTemporaryFile>
#include <QUrl>

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

bool ShellMoveToTrash(const std::string& fileName) {
    if (fileName.empty())
        return false;
    const QString name = QString::fromStdString(fileName);
    if (!QFileInfo::exists(name))
        return false;
    // The trash in the user's data folder must exist before the move: when Qt cannot make it
    // (the data folder itself is missing), it still moves the file, into "files/" under the
    // current folder, and reports success.
    const QString data = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (data.isEmpty() || !QDir().mkpath(data))
        return false;
    const QDir dataDir(data);
    if (!dataDir.exists(QStringLiteral("Trash")))
        dataDir.mkdir(QStringLiteral("Trash"),
                      QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    if (!QFileInfo(dataDir.filePath(QStringLiteral("Trash"))).isDir())
        return false;
    return QFile::moveToTrash(name);
}

namespace {

// A link names its scheme of two or more characters ("http:", "mailto:"); a single letter
// before a colon is read as a drive-style path, not a scheme.
bool HasUrlScheme(const QString& target) {
    static const QRegularExpression scheme(QStringLiteral("^[A-Za-z][A-Za-z0-9+.\\-]+:"));
    return scheme.match(target).hasMatch();
}

// The link for a target: an existing path made absolute, or a link as written; empty with the
// reason when there is nothing to open.
QUrl TargetUrl(const std::string& target, std::string& why) {
    if (target.empty()) {
        why = "nothing was named to open";
        return {};
    }
    const QString text = QString::fromStdString(target);
    QUrl url;
    if (HasUrlScheme(text)) {
        url = QUrl(text, QUrl::TolerantMode);
    } else {
        QFileInfo info(text);
        if (!info.exists()) {
            why = target + " does not exist";
            return {};
        }
        url = QUrl::fromLocalFile(info.absoluteFilePath());
    }
    if (!url.isValid()) {
        why = target + " is not a valid link";
        return {};
    }
    return url;
}

// The freedesktop launcher; empty with the reason when it is not installed.
QString FindLauncher(std::string& why) {
    const QString launcher = QStandardPaths::findExecutable(QStringLiteral("xdg-open"));
    if (launcher.isEmpty())
        why = "no program opens files on this system (xdg-open of the package xdg-utils is not "
              "installed)";
    return launcher;
}

QString LauncherArgument(const QUrl& url) {
    return url.isLocalFile() ? url.toLocalFile() : url.toString();
}

// The last line the opener wrote to its error output, where it says why it failed. Only the
// file's tail is read: the program it started may have written there for a long time.
std::string LastErrorLine(const QString& fileName) {
    constexpr qint64 TailBytes = 4096;
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    if (file.size() > TailBytes)
        file.seek(file.size() - TailBytes);
    const QStringList lines =
        QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    for (auto it = lines.crbegin(); it != lines.crend(); ++it)
        if (const QString line = it->trimmed(); !line.isEmpty())
            return line.toStdString();
    return {};
}

// Hands the opener's answer to done: nothing on success, else the last line it wrote to the
// error file, or how it ended when it wrote none. Delivered only while receiver lives.
void HearAnswer(QProcess* process, QObject* receiver, const TShellOpenDone& done,
                const QString& errorFile, const std::string& target) {
    QObject::connect(process, &QProcess::finished, receiver,
                     [done, errorFile](int code, QProcess::ExitStatus status) {
                         if (status == QProcess::NormalExit && code == 0) {
                             done({});
                             return;
                         }
                         std::string why = LastErrorLine(errorFile);
                         if (why.empty())
                             why = status == QProcess::NormalExit
                                       ? "xdg-open ended with exit code " + std::to_string(code)
                                       : "xdg-open crashed";
                         done(why);
                     });
    QObject::connect(process, &QProcess::errorOccurred, receiver,
                     [done, process, target](QProcess::ProcessError e) {
                         if (e == QProcess::FailedToStart)
                             done("xdg-open could not be started for " + target + ": " +
                                  process->errorString().toStdString());
                     });
}

} // namespace

void ShellOpenTargetAsync(const std::string& target, QObject* context, TShellOpenDone done) {
    std::string why;
    const QUrl url = TargetUrl(target, why);
    const QString launcher = url.isEmpty() ? QString() : FindLauncher(why);
    if (launcher.isEmpty()) {
        done(why);
        return;
    }
    // The error output goes to a file, not a pipe: the program the opener starts inherits it,
    // and would be killed by a broken pipe once the opener is gone and the pipe closed.
    QTemporaryFile errors(QDir::temp().filePath(QStringLiteral("opener-XXXXXX.txt")));
    errors.setAutoRemove(false);
    if (!errors.open()) {
        done("no temporary file for the opener's messages: " + errors.errorString().toStdString());
        return;
    }
    const QString errorFile = errors.fileName();
    errors.close();
    // Owned by the application, so an opener still running when the caller goes is not killed.
    auto* process = new QProcess(QCoreApplication::instance());
    process->setProgram(launcher);
    process->setArguments({LauncherArgument(url)});
    process->setStandardInputFile(QProcess::nullDevice());
    process->setProcessChannelMode(QProcess::ForwardedOutputChannel);
    process->setStandardErrorFile(errorFile);
    HearAnswer(process, context ? context : process, done, errorFile, target);
    // Connected after the answer, which reads the file first.
    auto finish = [process, errorFile] {
        process->deleteLater();
        QFile::remove(errorFile);
    };
    QObject::connect(process, &QProcess::finished, process, finish);
    QObject::connect(process, &QProcess::errorOccurred, process,
                     [finish](QProcess::ProcessError e) {
                         if (e == QProcess::FailedToStart)
                             finish();
                     });
    process->start();
}

bool ShellIsFileLocked(const std::string& fileName) {
    int fd = ::open(fileName.c_str(), O_RDWR | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0)
        return true;
    // An open-file-description lock, not a classic per-process one: it conflicts with locks held
    // through other opens of this very process too, and closing our descriptor cannot drop a
    // lock the process holds elsewhere on the same file.
    struct flock lock {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    lock.l_start = 0;
    lock.l_len = 0; // to the end of the file, however long it grows
    lock.l_pid = 0;
    bool inUse = false;
    if (::fcntl(fd, F_OFD_SETLK, &lock) != 0) {
        inUse = (errno == EAGAIN || errno == EACCES);
    } else {
        lock.l_type = F_UNLCK;
        ::fcntl(fd, F_OFD_SETLK, &lock);
    }
    ::close(fd);
    return inUse;
}
