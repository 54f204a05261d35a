// Desktop shell services: the freedesktop trash, opening files, folders and links with the
// user's preferred programs, starting a helper program, and asking whether a file is held by
// another program.
#pragma once

#include <functional>
#include <string>
#include <vector>

class QObject;

// Moves a file to the user's trash; false when the file is missing or cannot be trashed.
bool ShellMoveToTrash(const std::string& fileName);

// Opens a file or folder (a plain path) or a link with a scheme ("https://…", "mailto:…") with
// the desktop's preferred program. False when a path does not exist or nothing could open it;
// then why, when given, says which of the two it was.
bool ShellOpenTarget(const std::string& target, std::string* why = nullptr);

// The end of an open started by ShellOpenTargetAsync: why is empty when the target was opened,
// else the opener's own words or what kept it from starting.
using TShellOpenDone = std::function<void(const std::string& why)>;

// Opens a file, folder or link as ShellOpenTarget does, but through the desktop opener alone,
// whose answer it learns without waiting: done runs from the event loop once the opener has
// ended (it may run as long as the program it starts), or before the return when nothing could
// be started. A context destroyed first cancels done; without one, done may run until the
// application ends.
void ShellOpenTargetAsync(const std::string& target, QObject* context, TShellOpenDone done);

// Starts a program without waiting for it; false when it could not be started.
bool ShellStartDetached(const std::string& program, const std::vector<std::string>& arguments);

// True when the file cannot be opened for reading and writing, or another open holds a lock on
// it. Linux has no exclusive opens, so this tries an advisory write lock over the whole file.
bool ShellIsFileLocked(const std::string& fileName);
