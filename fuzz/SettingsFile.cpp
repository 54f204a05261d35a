// Fuzz target for the settings file: the bytes become the program's INI file, every key the
// program reads is read as text, number and switch, and a value written back must read back
// unchanged beside whatever the file held.
#include <stdlib.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "MyCommonServices.h"

namespace {

const char* const Key = "\\Software\\Draskel\\Tarvolin\\";

// The settings live in a folder of this process's own.
std::string ConfigFolder() {
    static const std::string folder = [] {
        char dir[] = "/tmp/fuzz-settings-XXXXXX";
        if (!mkdtemp(dir))
            std::abort();
        setenv("XDG_CONFIG_HOME", dir, 1);
        return std::string(dir);
    }();
    return folder;
}

struct TKey {
    const char* Section;
    const char* Ident;
};

// What the program's windows read at start and when they open.
const TKey Keys[] = {{"Recents", "ProjectFile"},
                     {"Recents", "WaveFile"},
                     {"Recents", "OutputFile"},
                     {"Recents", "Bitmap file"},
                     {"Recents", "ClipDir"},
                     {"Export Bitmap", "Output directory"},
                     {"Export Bitmap", "From start"},
                     {"Export Bitmap", "Back to current"},
                     {"Export Bitmap", "Open target"},
                     {"Preference", "Video Background Color"},
                     {"Export progress", "Show Images"},
                     {"Export progress", "Play result"},
                     {"Dialogs", "HugeOutput"},
                     {"Dialogs", "NoStopPoint"},
                     {"", ""}};

void Check(bool ok) {
    if (!ok)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ConfigFolder();
    const std::string file = TMyRegistry::FileNameForKey(Key);
    {
        std::error_code ec;
        std::filesystem::create_directories(std::filesystem::path(file).parent_path(), ec);
        std::ofstream out(file, std::ios::binary | std::ios::trunc);
        Check(bool(out));
        out.write(reinterpret_cast<const char*>(data), std::streamsize(size));
    }
    TMyRegistry registry(Key);
    for (const TKey& k : Keys) {
        registry.ReadString(k.Section, k.Ident, "default");
        registry.ReadInteger(k.Section, k.Ident, 7);
        registry.ReadBool(k.Section, k.Ident, true);
        registry.ValueExists(k.Section, k.Ident);
    }
    // A value the program writes is read back as written, whatever else the file holds.
    std::string text;
    for (size_t i = 0; i < size && text.size() < 40; ++i)
        text += char(' ' + data[i] % 95); // printable ASCII, which the file keeps exactly
    registry.WriteString("Recents", "ProjectFile", text);
    registry.WriteInteger("Preference", "Video Background Color", 0x123456);
    Check(registry.ReadInteger("Preference", "Video Background Color", 0) == 0x123456);
    Check(registry.ReadString("Recents", "ProjectFile", "") == text);
    return 0;
}
