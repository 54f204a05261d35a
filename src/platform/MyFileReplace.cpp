#include "MyFileReplace.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sys/stat.h>

namespace {

// Flushes a file's (or a folder's) contents to the disk; false with errno set when that fails.
bool SyncPath(const std::string& path, int flags) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | flags);
    if (fd < 0)
        return false;
    const bool ok = ::fsync(fd) == 0;
    const int saved = errno;
    ::close(fd);
    errno = saved;
    return ok;
}

} // namespace

TFileReplacement::TFileReplacement(const std::string& target, const char* suffix)
    : Target(target), Temp(target + suffix) {
    std::error_code ec;
    Replaces = std::filesystem::exists(Target, ec);
}

TFileReplacement::~TFileReplacement() {
    Abandon();
}

bool TFileReplacement::Commit(bool sync) {
    if (Done)
        return false;
    Error.clear();
    if (sync && !SyncPath(Temp, 0)) {
        Error = std::string("syncing ") + Temp + ": " + std::strerror(errno);
        Abandon();
        return false;
    }
    if (std::rename(Temp.c_str(), Target.c_str()) != 0) {
        Error = std::string("renaming ") + Temp + ": " + std::strerror(errno);
        Abandon();
        return false;
    }
    Done = true;
    // The rename is on disk only once the folder is; a folder that cannot be synced (some
    // network file systems) still has the complete file under its name.
    const std::filesystem::path folder = std::filesystem::path(Target).parent_path();
    if (sync)
        SyncPath(folder.empty() ? "." : folder.string(), O_DIRECTORY);
    return true;
}

void TFileReplacement::Abandon() {
    if (Done)
        return;
    Done = true;
    std::error_code ec;
    std::filesystem::remove(Temp, ec);
}

mode_t NewFileMode() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("Umask:", 0) == 0)
            return 0666 & ~mode_t(std::strtoul(line.c_str() + 6, nullptr, 8));
    // Without the kernel's word the mask can only be read by setting it for a moment.
    const mode_t mask = ::umask(022);
    ::umask(mask);
    return 0666 & ~mask;
}
