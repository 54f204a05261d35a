// Scratch folders for tests: a temporary folder removed with everything in it, a scope that
// points HOME and the user's data folder at such a folder, so trash and settings never reach the
// real ones even when a test program runs outside the test script, and numbered names.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <string_view>
#include <unistd.h>

// prefix, n and suffix joined: the name of a numbered file or node ("n3.mpr"). Built by appending:
// g++ 12 at -O3 warns, falsely, of an overlapping copy when a literal is put before a temporary
// string.
inline std::string NumberedName(std::string_view prefix, int64_t n, std::string_view suffix = {}) {
    std::string name(prefix);
    name += std::to_string(n);
    name += suffix;
    return name;
}

class TTempDir {
public:
    TTempDir() {
        std::string tmpl = (std::filesystem::temp_directory_path() / "tarvolin-XXXXXX").string();
        if (::mkdtemp(tmpl.data()))
            Path = tmpl;
    }
    ~TTempDir() {
        std::error_code ec;
        if (Path.empty())
            return;
        // Give back write access a test may have taken away, or the removal fails.
        std::filesystem::permissions(Path, std::filesystem::perms::owner_all, ec);
        std::filesystem::remove_all(Path, ec);
    }
    TTempDir(const TTempDir&) = delete;
    TTempDir& operator=(const TTempDir&) = delete;

    // Writes a small file in the folder and returns its full name.
    std::string File(const std::string& name, const std::string& content = "data") const {
        std::string p = (std::filesystem::path(Path) / name).string();
        std::ofstream(p, std::ios::binary) << content;
        return p;
    }
    std::string Path;
};

class TScratchHome {
public:
    explicit TScratchHome(const std::string& dir) {
        Save("HOME", OldHome);
        Save("XDG_DATA_HOME", OldData);
        setenv("HOME", dir.c_str(), 1);
        setenv("XDG_DATA_HOME", (dir + "/.local/share").c_str(), 1);
    }
    ~TScratchHome() {
        Restore("HOME", OldHome);
        Restore("XDG_DATA_HOME", OldData);
    }
    TScratchHome(const TScratchHome&) = delete;
    TScratchHome& operator=(const TScratchHome&) = delete;

private:
    static void Save(const char* name, std::optional<std::string>& into) {
        if (const char* v = std::getenv(name))
            into = v;
    }
    static void Restore(const char* name, const std::optional<std::string>& value) {
        if (value)
            setenv(name, value->c_str(), 1);
        else
            unsetenv(name);
    }
    std::optional<std::string> OldHome, OldData;
};

// A scratch settings folder: XDG_CONFIG_HOME points into a new temporary folder for the object's
// life, so a window under test reads and writes no real settings. Its folder also holds the
// test's files.
class TScratchConfig {
public:
    TScratchConfig() {
        if (const char* v = std::getenv("XDG_CONFIG_HOME"))
            Old = v;
        setenv("XDG_CONFIG_HOME", Dir.Path.c_str(), 1);
    }
    ~TScratchConfig() {
        if (Old)
            setenv("XDG_CONFIG_HOME", Old->c_str(), 1);
        else
            unsetenv("XDG_CONFIG_HOME");
    }
    TScratchConfig(const TScratchConfig&) = delete;
    TScratchConfig& operator=(const TScratchConfig&) = delete;

    // Full name of a file in the folder (nothing is written).
    std::string PathOf(const std::string& name) const {
        return (std::filesystem::path(Dir.Path) / name).string();
    }
    TTempDir Dir;

private:
    std::optional<std::string> Old;
};

// A desktop opener of the test's making, first on PATH for the object's life: it waits until
// Answer is called (or the object is gone), writes complaint to its error output and exits with
// code.
class TFakeOpener {
public:
    TFakeOpener(int code, const std::string& complaint) {
        const std::string bin = Dir.Path + "/bin";
        std::filesystem::create_directory(bin);
        const std::string script = bin + "/xdg-open";
        std::ofstream(script) << "#!/bin/sh\n"
                              << "while [ ! -e '" << GoFile() << "' ] && [ -d '" << Dir.Path
                              << "' ]; do sleep 0.02; done\n"
                              << "printf '%s\\n' '" << complaint << "' >&2\n"
                              << ": > '" << Dir.Path << "/ended'\n"
                              << "exit " << code << "\n";
        std::filesystem::permissions(script, std::filesystem::perms::owner_all);
        if (const char* v = std::getenv("PATH"))
            OldPath = v;
        setenv("PATH", (bin + ":" + OldPath).c_str(), 1);
    }
    ~TFakeOpener() {
        Answer(); // an opener still waiting would outlive the test
        setenv("PATH", OldPath.c_str(), 1);
    }
    TFakeOpener(const TFakeOpener&) = delete;
    TFakeOpener& operator=(const TFakeOpener&) = delete;

    void Answer() const { std::ofstream(GoFile()) << "go"; }
    // The opener is about to exit.
    bool Ended() const { return std::filesystem::exists(Dir.Path + "/ended"); }

private:
    std::string GoFile() const { return Dir.Path + "/go"; }
    TTempDir Dir;
    std::string OldPath;
};
