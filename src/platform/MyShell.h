// Desktop shell services: the freedesktop trash, opening files, folders and links with the
// user's preferred programs, and asking whether a file is held by another program.
#pragma once

#include <functional>
#include <string>

class QObject;

// Moves a file to the user's trash; false when the file is missing or cannot be trashed.
bool ShellMoveToTrash(const std::string& fileName);

// The end of an open started by ShellOpenTargetAsync: why is empty when the target was opened,
// else the opener's own words or what kept it from starting.
using TShellOpenDone = std::function<void(const std::string& why)>;

// Opens a file or folder (a plain path) or a link with a scheme ("https://…", "mailto:…") with
// the desktop's preferred program, through the desktop opener, whose answer it learns without
// waiting: done runs from the event loop once the opener has ended (it may run as long as the
// program it starts), or before the return when nothing could be started. A context destroyed first
// cancels done; without one, done may run until the application ends.
void ShellOpenTargetAsync(const std::string& target, QObject* context, TShellOpenDone done);

// True when the file cannot be opened for reading and writing, or another open holds a lock on
// it. Linux has no exclusive opens, so this tries an advisory write lock over the whole file.
bool ShellIsFileLocked(const std::string& fileName);
