// Replacing a file only once the new one is complete: the rename over the target, a rename that
// fails, and a temporary file that is never committed.
#include "MyFileReplace.h"

#include <filesystem>
#include <fstream>
#include <iterator>

#include <gtest/gtest.h>

#include "TempFolders.h"

namespace fs = std::filesystem;

namespace {

std::string Content(const std::string& name) {
    std::ifstream in(name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

} // namespace

TEST(FileReplacement, CommitPutsTheNewFileInPlaceAndAFailureLeavesTheOldOne) {
    TTempDir dir;
    const std::string target = dir.File("movie.avi", "old");
    {
        TFileReplacement r(target);
        EXPECT_EQ(r.TempName(), target + ".~part");
        std::ofstream(r.TempName()) << "new";
        EXPECT_EQ(Content(target), "old");
        ASSERT_TRUE(r.Commit());
        EXPECT_FALSE(r.Commit()); // once only
    }
    EXPECT_EQ(Content(target), "new");
    EXPECT_FALSE(fs::exists(target + ".~part"));

    // A folder with something in it cannot be renamed over: the reason is given, the temporary
    // file goes and the folder stays.
    const std::string folder = dir.Path + "/taken";
    fs::create_directories(folder + "/inside");
    TFileReplacement blocked(folder, ".~sav");
    std::ofstream(blocked.TempName()) << "x";
    EXPECT_FALSE(blocked.Commit());
    EXPECT_NE(blocked.ErrorText().find("renaming " + folder + ".~sav"), std::string::npos);
    EXPECT_FALSE(fs::exists(folder + ".~sav"));
    EXPECT_TRUE(fs::is_directory(folder + "/inside"));
}

TEST(FileReplacement, UncommittedTemporaryFileIsRemoved) {
    TTempDir dir;
    const std::string target = dir.File("sound.wav", "old");
    {
        TFileReplacement r(target);
        std::ofstream(r.TempName()) << "half";
    }
    EXPECT_FALSE(fs::exists(target + ".~part"));
    EXPECT_EQ(Content(target), "old");
    // A temporary file that was never made cannot be committed.
    TFileReplacement missing(dir.Path + "/none.bmp");
    EXPECT_FALSE(missing.Commit());
    EXPECT_FALSE(fs::exists(dir.Path + "/none.bmp"));
}
