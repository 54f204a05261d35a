#include "MyShell.h"

#include <QDesktopServices>
#include <QObject>
#include <QUrl>

#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <unistd.h>

#include <gtest/gtest.h>

#include "TempFolders.h"

namespace fs = std::filesystem;

namespace {

// Catches what would go to the desktop, so no program is started by the tests.
class TUrlCatcher : public QObject {
    Q_OBJECT
public:
    TUrlCatcher() {
        for (const char* scheme : {"file", "https", "mailto"})
            QDesktopServices::setUrlHandler(QString::fromLatin1(scheme), this, "Catch");
    }
    ~TUrlCatcher() override {
        for (const char* scheme : {"file", "https", "mailto"})
            QDesktopServices::unsetUrlHandler(QString::fromLatin1(scheme));
    }
    QList<QUrl> Urls;
public slots:
    void Catch(const QUrl& url) { Urls << url; }
};

} // namespace

TEST(ShellOpenTarget, PathsBecomeAbsoluteFileUrls) {
    TTempDir dir;
    const std::string file = dir.File("clip one.avi");
    TUrlCatcher catcher;
    EXPECT_TRUE(ShellOpenTarget(file));
    EXPECT_TRUE(ShellOpenTarget(dir.Path));
    // A relative name is taken from the current folder.
    const fs::path old = fs::current_path();
    fs::current_path(dir.Path);
    EXPECT_TRUE(ShellOpenTarget("clip one.avi"));
    fs::current_path(old);
    ASSERT_EQ(catcher.Urls.size(), 3);
    EXPECT_EQ(catcher.Urls[0].toLocalFile().toStdString(), file);
    EXPECT_EQ(catcher.Urls[1].toLocalFile().toStdString(), dir.Path);
    EXPECT_EQ(catcher.Urls[2].toLocalFile().toStdString(), file);
}

TEST(ShellOpenTarget, LinksKeepTheirScheme) {
    TUrlCatcher catcher;
    EXPECT_TRUE(ShellOpenTarget("https://example.org/help?page=2"));
    EXPECT_TRUE(ShellOpenTarget("mailto:someone@example.org"));
    ASSERT_EQ(catcher.Urls.size(), 2);
    EXPECT_EQ(catcher.Urls[0].toString().toStdString(), "https://example.org/help?page=2");
    EXPECT_EQ(catcher.Urls[1].scheme().toStdString(), "mailto");
    EXPECT_EQ(catcher.Urls[1].path().toStdString(), "someone@example.org");
}

TEST(ShellOpenTarget, MissingPathOrEmptyTextFails) {
    TUrlCatcher catcher;
    EXPECT_FALSE(ShellOpenTarget(""));
    EXPECT_FALSE(ShellOpenTarget("/no/such/folder/anywhere"));
    EXPECT_FALSE(ShellOpenTarget("C:/data/clip.avi")); // a drive letter is no scheme
    EXPECT_TRUE(catcher.Urls.isEmpty());
}

TEST(ShellStartDetached, ReportsWhetherTheProgramStarted) {
    EXPECT_TRUE(ShellStartDetached("true", {"ignored argument"}));
    EXPECT_FALSE(ShellStartDetached("/no/such/program", {}));
}

TEST(ShellMoveToTrash, MakesTheHomeTrashWhenTheDataFolderIsMissing) {
    TTempDir home, elsewhere;
    TScratchHome scratch(home.Path);
    const std::string file = home.File("take 2.avi");
    const fs::path old = fs::current_path();
    fs::current_path(elsewhere.Path);
    const bool moved = ShellMoveToTrash(file);
    fs::current_path(old);
    ASSERT_TRUE(moved);
    EXPECT_FALSE(fs::exists(file));
    EXPECT_TRUE(fs::exists(home.Path + "/.local/share/Trash/files/take 2.avi"));
    // Nothing may land in the current folder.
    EXPECT_TRUE(fs::is_empty(elsewhere.Path));
}

TEST(ShellMoveToTrash, SameNameTwiceKeepsBoth) {
    TTempDir home;
    TScratchHome scratch(home.Path);
    ASSERT_TRUE(ShellMoveToTrash(home.File("clip.avi", "first")));
    ASSERT_TRUE(ShellMoveToTrash(home.File("clip.avi", "second")));
    int count = 0;
    for (const auto& e : fs::directory_iterator(home.Path + "/.local/share/Trash/files")) {
        (void)e;
        ++count;
    }
    EXPECT_EQ(count, 2);
}

TEST(ShellMoveToTrash, MissingFileFails) {
    EXPECT_FALSE(ShellMoveToTrash(""));
    EXPECT_FALSE(ShellMoveToTrash("/no/such/file.avi"));
}

TEST(ShellIsFileLocked, FreeFileIsNotLocked) {
    TTempDir dir;
    const std::string file = dir.File("free.avi");
    EXPECT_FALSE(ShellIsFileLocked(file));
    // Asking twice works: the test leaves no lock behind.
    EXPECT_FALSE(ShellIsFileLocked(file));
}

namespace {
bool TakeWriteLock(int fd, int command) {
    struct flock lock {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    return ::fcntl(fd, command, &lock) == 0;
}
} // namespace

TEST(ShellIsFileLocked, ClassicRecordLockCounts) {
    TTempDir dir;
    const std::string file = dir.File("held.avi");
    int fd = ::open(file.c_str(), O_RDWR);
    ASSERT_GE(fd, 0);
    ASSERT_TRUE(TakeWriteLock(fd, F_SETLK)); // the kind of lock other programs take
    EXPECT_TRUE(ShellIsFileLocked(file));
    ::close(fd);
    EXPECT_FALSE(ShellIsFileLocked(file));
}

TEST(ShellIsFileLocked, ProbeLeavesOtherLocksOfThisProcessInPlace) {
    TTempDir dir;
    const std::string file = dir.File("held.avi");
    int fd = ::open(file.c_str(), O_RDWR);
    ASSERT_GE(fd, 0);
    ASSERT_TRUE(TakeWriteLock(fd, F_OFD_SETLK));
    EXPECT_TRUE(ShellIsFileLocked(file));
    // Closing the probe's descriptor must not have dropped the lock held through fd.
    EXPECT_TRUE(ShellIsFileLocked(file));
    ::close(fd);
    EXPECT_FALSE(ShellIsFileLocked(file));
}

TEST(ShellIsFileLocked, ReadOnlyFileCounts) {
    if (::geteuid() == 0)
        GTEST_SKIP() << "root opens read-only files for writing";
    TTempDir dir;
    const std::string file = dir.File("readonly.avi");
    fs::permissions(file, fs::perms::owner_read);
    EXPECT_TRUE(ShellIsFileLocked(file));
}

#include "MyShellTest.moc"
