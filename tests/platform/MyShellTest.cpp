#include "MyShell.h"

#include <QCoreApplication>
#include <QObject>

#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>

#include "TempFolders.h"

namespace fs = std::filesystem;

namespace {
// Pumps events until done holds an answer; false when none came within ten seconds.
bool WaitForAnswer(const std::vector<std::string>& answers) {
    for (int i = 0; i < 1000 && answers.empty(); ++i) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        if (answers.empty())
            usleep(10000);
    }
    return !answers.empty();
}
} // namespace

// The call returns while the opener still runs; its complaint, or an exit code when it gave
// none, comes back once it ends, and a success comes back empty.
TEST(ShellOpenTargetAsync, ReturnsAtOnceAndHearsTheOpenersAnswer) {
    TTempDir dir;
    const std::string file = dir.File("clip.avi");
    const struct {
        int Code;
        std::string Complaint, Answer;
    } cases[] = {
        {3, "xdg-open: no method available for opening \"clip.avi\"",
         "xdg-open: no method available for opening \"clip.avi\""},
        {4, "", "xdg-open ended with exit code 4"},
        {0, "opened", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Code);
        TFakeOpener opener(c.Code, c.Complaint);
        std::vector<std::string> answers;
        QObject context;
        ShellOpenTargetAsync(file, &context,
                             [&](const std::string& why) { answers.push_back(why); });
        for (int i = 0; i < 20; ++i)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        EXPECT_TRUE(answers.empty());
        opener.Answer();
        ASSERT_TRUE(WaitForAnswer(answers));
        EXPECT_EQ(answers, std::vector<std::string>{c.Answer});
    }
}

// The opener is handed an absolute path for a file or folder, relative names taken from the
// current folder, and a link as it stands; what is not there never reaches it. This opener
// answers with the argument it was given.
TEST(ShellOpenTargetAsync, HandsTheOpenerAbsolutePathsAndLinksAsTheyStand) {
    TTempDir dir;
    const std::string file = dir.File("clip one.avi");
    const std::string bin = dir.Path + "/bin";
    fs::create_directory(bin);
    std::ofstream(bin + "/xdg-open") << "#!/bin/sh\nprintf '%s\\n' \"$1\" >&2\nexit 1\n";
    fs::permissions(bin + "/xdg-open", fs::perms::owner_all);
    const std::string oldPath = std::getenv("PATH") ? std::getenv("PATH") : "";
    setenv("PATH", (bin + ":" + oldPath).c_str(), 1);
    const fs::path oldFolder = fs::current_path();
    fs::current_path(dir.Path);
    const struct {
        std::string Target, Answer;
    } cases[] = {
        {file, file},
        {dir.Path, dir.Path},
        {"clip one.avi", file},
        {"https://example.org/help?page=2", "https://example.org/help?page=2"},
        {"mailto:someone@example.org", "mailto:someone@example.org"},
        {"", "nothing was named to open"},
        {"/no/such/folder/anywhere", "/no/such/folder/anywhere does not exist"},
        {"C:/data/clip.avi", "C:/data/clip.avi does not exist"}, // a drive letter is no scheme
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Target);
        std::vector<std::string> answers;
        QObject context;
        ShellOpenTargetAsync(c.Target, &context,
                             [&](const std::string& why) { answers.push_back(why); });
        EXPECT_TRUE(WaitForAnswer(answers));
        EXPECT_EQ(answers, std::vector<std::string>{c.Answer});
    }
    fs::current_path(oldFolder);
    setenv("PATH", oldPath.c_str(), 1);
}

// What cannot start is said before the call returns; a caller gone first hears nothing.
TEST(ShellOpenTargetAsync, TellsAtOnceWhatCannotStartAndNothingToACallerGone) {
    TTempDir dir;
    std::vector<std::string> answers;
    auto keep = [&](const std::string& why) { answers.push_back(why); };
    ShellOpenTargetAsync(dir.Path + "/gone.htm", nullptr, keep);
    EXPECT_EQ(answers, std::vector<std::string>{dir.Path + "/gone.htm does not exist"});
    const std::string oldPath = std::getenv("PATH") ? std::getenv("PATH") : "";
    setenv("PATH", dir.Path.c_str(), 1);
    ShellOpenTargetAsync(dir.Path, nullptr, keep);
    setenv("PATH", oldPath.c_str(), 1);
    ASSERT_EQ(answers.size(), 2u);
    EXPECT_NE(answers[1].find("xdg-open"), std::string::npos) << answers[1];

    answers.clear();
    TFakeOpener opener(3, "no method available");
    auto context = std::make_unique<QObject>();
    ShellOpenTargetAsync(dir.Path, context.get(), keep);
    context.reset();
    opener.Answer();
    // A second open tells when the first one's answer would have come too.
    QObject second;
    ShellOpenTargetAsync(dir.Path, &second, keep);
    ASSERT_TRUE(WaitForAnswer(answers));
    for (int i = 0; i < 20; ++i)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    EXPECT_EQ(answers, std::vector<std::string>{"no method available"});
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

TEST(ShellMoveToTrash, SameNameTwiceKeepsBothAndMissingFileFails) {
    TTempDir home;
    TScratchHome scratch(home.Path);
    ASSERT_TRUE(ShellMoveToTrash(home.File("clip.avi", "first")));
    ASSERT_TRUE(ShellMoveToTrash(home.File("clip.avi", "second")));
    const fs::directory_iterator files(home.Path + "/.local/share/Trash/files");
    EXPECT_EQ(std::distance(fs::begin(files), fs::end(files)), 2);
    EXPECT_FALSE(ShellMoveToTrash(""));
    EXPECT_FALSE(ShellMoveToTrash("/no/such/file.avi"));
}

// A record lock as other programs take it counts; the probe leaves the locks this process holds
// in place (closing its own descriptor must not drop them) and leaves none of its own behind.
TEST(ShellIsFileLocked, RecordLocksCountAndTheProbeKeepsThem) {
    TTempDir dir;
    const std::string file = dir.File("held.avi");
    EXPECT_FALSE(ShellIsFileLocked(file));
    EXPECT_FALSE(ShellIsFileLocked(file));
    for (int command : {F_SETLK, F_OFD_SETLK}) {
        const int fd = ::open(file.c_str(), O_RDWR);
        ASSERT_GE(fd, 0);
        struct flock lock {};
        lock.l_type = F_WRLCK;
        lock.l_whence = SEEK_SET;
        ASSERT_EQ(::fcntl(fd, command, &lock), 0);
        EXPECT_TRUE(ShellIsFileLocked(file));
        if (command == F_OFD_SETLK) {
            EXPECT_TRUE(ShellIsFileLocked(file)); // still held after the first probe
        }
        ::close(fd);
        EXPECT_FALSE(ShellIsFileLocked(file));
    }
}

TEST(ShellIsFileLocked, ReadOnlyFileCounts) {
    if (::geteuid() == 0)
        GTEST_SKIP() << "root opens read-only files for writing";
    TTempDir dir;
    const std::string file = dir.File("readonly.avi");
    fs::permissions(file, fs::perms::owner_read);
    EXPECT_TRUE(ShellIsFileLocked(file));
}
