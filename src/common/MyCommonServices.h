// The shared services every window and loader relies on: the settings store, the keyed
// confirmation that can be told not to come back, the list of messages collected while a project
// loads, and the widget-free half of the windows' base class.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

class IUiServices;
class QSettings;

// ---- Settings store -------------------------------------------------------------------------

// Sections and values of the user's settings, kept as text in an INI file under the user's
// configuration folder: integers in decimal, Booleans as "1" and "0". A missing or unreadable
// value reads as the default the caller passes. Writes reach the file at once.
class TMyRegistry {
public:
    // key: the store's registry-style path, e.g. "\Software\Draskel\Tarvolin\", which maps to
    // $XDG_CONFIG_HOME/Draskel/Tarvolin.ini.
    explicit TMyRegistry(const std::string& key);
    ~TMyRegistry();
    TMyRegistry(const TMyRegistry&) = delete;
    TMyRegistry& operator=(const TMyRegistry&) = delete;

    // The program's folder, set by whoever opens the store.
    std::string ProgramFolder;

    std::string ReadString(const std::string& section, const std::string& ident,
                           const std::string& defaultValue) const;
    int32_t ReadInteger(const std::string& section, const std::string& ident,
                        int32_t defaultValue) const;
    // Any integer other than 0 reads as True.
    bool ReadBool(const std::string& section, const std::string& ident, bool defaultValue) const;
    void WriteString(const std::string& section, const std::string& ident,
                     const std::string& value);
    void WriteInteger(const std::string& section, const std::string& ident, int32_t value);
    void WriteBool(const std::string& section, const std::string& ident, bool value);
    bool ValueExists(const std::string& section, const std::string& ident) const;
    void DeleteKey(const std::string& section, const std::string& ident);

    // Full name of the INI file behind the store.
    std::string GetFileName() const;

    // The file that a registry-style key maps to.
    static std::string FileNameForKey(const std::string& key);

private:
    std::unique_ptr<QSettings> Store;
};

// The program's settings; opened by the main window when it is created and closed when it is
// destroyed. Code that runs while it is not open reads no setting.
extern std::unique_ptr<TMyRegistry> Settings;

// ---- Keyed confirmations --------------------------------------------------------------------

// A message the user may ask never to see again; suppression is remembered under "Dialogs"\Id.
struct TDialogText {
    uint8_t Kind;          // 1 question with OK and Cancel, 2 information with OK only
    std::string_view Id;   // settings key of the suppression
    std::string_view Text; // lines separated by '\n'
};

inline constexpr TDialogText DlgHugeOutput{
    1, "HugeOutput",
    "Output file will be saved as uncompressed (Can be set in \nproject property). This option "
    "will produce a huge file.\nContinue exporting?"};
inline constexpr TDialogText DlgNoStopPoint{
    2, "NoStopPoint",
    "Effect can also be set in a range of time. Set begin-peg\nand end-peg of the parent first "
    "to set this property.\n\nDbl-click on the parent timeline to set the pegs."};

// True when the message is suppressed (shown nothing) or the user closed it with OK. A ticked
// "Don't show this message again" is stored whichever button closed it. Without a user interface
// to ask, an unsuppressed message counts as not confirmed.
bool ShowConfirm(const TDialogText& text, IUiServices* ui);

// ---- Load messages --------------------------------------------------------------------------

// Lines of problems met while a project loads, shown together once loading is done.
class TErrorReport {
public:
    std::vector<std::string> Lines;

    void Add(std::string line) { Lines.push_back(std::move(line)); }
    void Clear() { Lines.clear(); }
    int Count() const { return static_cast<int>(Lines.size()); }
};

extern TErrorReport LoadMessages;

// ---- Window base ----------------------------------------------------------------------------

// What the windows' base class keeps apart from its widget: the optional list that collects the
// user-visible texts of a window for a review listing, and the form of its lines. The widget half
// walks its controls and feeds the lines in here.
class TMyFormBase {
public:
    // Nesting depth from which text collection starts.
    int Level = 0;
    // Not owned; nothing is collected while it is null.
    std::vector<std::string>* Collector = nullptr;

    // After construction a window owned by another window collects into the owner's list.
    void InheritCollector(const TMyFormBase* owner) {
        if (owner)
            Collector = owner->Collector;
    }

    // One control's line: `depth` blanks and the caption for controls that show one, then
    // "  Hint:" and the hint when there is one. Only non-empty lines are collected.
    void CollectControl(int depth, const std::string* caption, const std::string& hint);
    // One visible menu item of a window's main menu.
    void CollectMenuItem(const std::string& caption);
};
