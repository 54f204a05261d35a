// Services of the program process: the application object that shows exceptions instead of
// letting them cross the event loop, the single-instance guard, the processor load and clock
// read from the kernel, and the screen-saver inhibit held while the program runs.
#pragma once

#include <QApplication>
#include <QPointer>
#include <QString>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

class QLocalServer;
class QLockFile;

constexpr const char* ProgramName = "Tarvolin";
constexpr const char* ProgramVersion = "1.54";

// ---- Application --------------------------------------------------------------------------------

// Catches what an event handler throws and shows its message; the program keeps running.
class TApplication : public QApplication {
public:
    TApplication(int& argc, char** argv);
    bool notify(QObject* receiver, QEvent* event) override;
};

// The text shown for an exception that reached the event loop.
std::string ExceptionMessage(std::exception_ptr error);

// ---- Folders beside the program ----------------------------------------------------------------

// The folder name ("Capture", "Clips") that lies beside the program: inside the program's folder
// when that can be written, else inside the user's data folder. Made when missing; empty when
// neither place can be made.
std::string BesideProgramFolder(const std::string& name);
// The same for a given program folder.
std::string BesideProgramFolder(const std::string& name, const std::string& programFolder);

// ---- Single instance ----------------------------------------------------------------------------

// One instance per user and name: a lock file in the user's runtime folder marks the running
// instance (the lock of a process that died is taken over), and a local socket beside it lets a
// later start ask the running one to come to the front.
class TInstanceGuard : public QObject {
    Q_OBJECT
public:
    // folder: where the lock and the socket live; the user's runtime folder when empty.
    explicit TInstanceGuard(const QString& name, const QString& folder = {});
    ~TInstanceGuard() override;

    // True when this process is the first instance: it then holds the lock until the guard goes
    // and listens for raise requests. Also true when the lock cannot be made at all (no runtime
    // folder): the program then runs unguarded rather than not at all.
    bool Acquire();
    // Asks the running instance to come to the front; false when it could not be reached.
    bool NotifyFirst();

    QString LockFileName() const;
    QString ServerName() const;

signals:
    void RaiseRequested();

private:
    void OnNewConnection();

    QString Name;
    QString Folder;
    std::unique_ptr<QLockFile> Lock;
    std::unique_ptr<QLocalServer> Server;
};

// True when this process is the first instance of name. Otherwise shows name + " is already
// running", then asks the first instance to raise its main window, and returns false: the caller
// ends the program without creating a window.
bool CheckSingleInstance(const std::string& name);
// The window a raise request from a later start brings to the front.
void SetInstanceMainWindow(QWidget* window);
// Restores a minimised window and brings it to the front.
void RaiseMainWindow(QWidget* window);

// ---- System information -------------------------------------------------------------------------

// Totals of the first line of /proc/stat, in clock ticks summed over all processors.
struct TCpuSample {
    uint64_t Idle = 0;
    uint64_t Total = 0;
};

// The processor load in per cent since the previous call and the number of processors. The first
// call gives 0. False when /proc/stat cannot be read; the previous sample then stays.
bool GetCpuUsage(double& usage, int& processors);
// The same from the text of /proc/stat and the previous sample, which it updates.
bool CpuUsageFromStat(const std::string& statText, TCpuSample& previous, double& usage,
                      int& processors);

// The processor clock as "<MHz> MHz", or empty when it is not known.
std::string GetCpuSpeedText();
// The same from the cpufreq maximum (kHz) and the text of /proc/cpuinfo, either may be empty.
std::string CpuSpeedTextFrom(const std::string& cpufreqKHz, const std::string& cpuinfo);

// ---- Screen saver -------------------------------------------------------------------------------

// Keeps the desktop's screen saver off while it lives, through org.freedesktop.ScreenSaver on the
// session bus; does nothing where that service is missing.
class TScreenSaverInhibit {
public:
    explicit TScreenSaverInhibit(const QString& reason);
    ~TScreenSaverInhibit();
    TScreenSaverInhibit(const TScreenSaverInhibit&) = delete;
    TScreenSaverInhibit& operator=(const TScreenSaverInhibit&) = delete;

    bool Active() const { return Cookie != 0; }

private:
    uint32_t Cookie = 0;
};

// Runs a dialog modally; when a test has set script, the dialog is shown, driven by the script
// and closed instead, so no test waits in a real modal loop.
template <typename D> void RunModal(D& dialog, const std::function<void(D&)>& script) {
    if (!script) {
        dialog.exec();
        return;
    }
    dialog.show();
    script(dialog);
    dialog.close();
}
