#include "MyShell.h"

#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QStringList>
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

} // namespace

bool ShellOpenTarget(const std::string& target, std::string* why) {
    auto fail = [why](const std::string& reason) {
        if (why)
            *why = reason;
        return false;
    };
    if (target.empty())
        return fail("nothing was named to open");
    const QString text = QString::fromStdString(target);
    QUrl url;
    if (HasUrlScheme(text)) {
        url = QUrl(text, QUrl::TolerantMode);
    } else {
        QFileInfo info(text);
        if (!info.exists())
            return fail(target + " does not exist");
        url = QUrl::fromLocalFile(info.absoluteFilePath());
    }
    if (!url.isValid())
        return fail(target + " is not a valid link");
    if (QDesktopServices::openUrl(url))
        return true;
    // Without a desktop session the freedesktop launcher is asked directly.
    const QString launcher = QStandardPaths::findExecutable(QStringLiteral("xdg-open"));
    if (launcher.isEmpty())
        return fail("no program opens files on this system (xdg-open of the package xdg-utils "
                    "is not installed)");
    const QString argument = url.isLocalFile() ? url.toLocalFile() : url.toString();
    if (QProcess::startDetached(launcher, {argument}))
        return true;
    return fail("xdg-open could not be started for " + target);
}

bool ShellStartDetached(const std::string& program, const std::vector<std::string>& arguments) {
    QStringList args;
    for (const std::string& a : arguments)
        args << QString::fromStdString(a);
    return QProcess::startDetached(QString::fromStdString(program), args);
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
