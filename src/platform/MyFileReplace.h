// A file written over another only once it is complete: the new bytes go to a temporary file
// beside the target, which is synced to disk and then renamed over the target. A failure, a stop
// or a crash before that leaves the old file as it was.
#pragma once

#include <string>
#include <sys/types.h>

class TFileReplacement {
public:
    // What a temporary export file is called: the target's name with this appended, so that one
    // left by a crash sits beside the file it was meant to become.
    static constexpr const char* PartialSuffix = ".~part";

    // Names the temporary file: Target with Suffix appended, in the target's folder, so that the
    // rename stays within one file system, and notes whether a file is at the target. Nothing is
    // created yet.
    explicit TFileReplacement(const std::string& target, const char* suffix = PartialSuffix);
    // A temporary file that was not committed is removed.
    ~TFileReplacement();
    TFileReplacement(const TFileReplacement&) = delete;
    TFileReplacement& operator=(const TFileReplacement&) = delete;

    const std::string& TargetName() const { return Target; }
    const std::string& TempName() const { return Temp; }
    // A file was at the target when this was made: the new one replaces it.
    bool ReplacesFile() const { return Replaces; }

    // Makes the finished (closed) temporary file the target: syncs its bytes to disk, renames it
    // over the target and syncs the folder so that the new name survives a crash as well. False
    // with the system's reason in ErrorText; the temporary file is then removed and the target
    // is as it was. Without sync the rename alone keeps a killed process from leaving half a
    // file; only a system crash could then lose the new file (not an old one it replaced, which
    // the caller syncs for).
    bool Commit(bool sync = true);
    // Removes the temporary file; the target stays as it was.
    void Abandon();
    const std::string& ErrorText() const { return Error; }

private:
    std::string Target;
    std::string Temp;
    std::string Error;
    bool Replaces = false;
    bool Done = false;
};

// The permissions a file created now is given: what 0666 keeps after the process's umask.
mode_t NewFileMode();
