#pragma once
// Start and end of the window system, the mouse cursor and message boxes.

#include <string>
#include <vector>

#include "platform/os/window.h"

namespace os {

// Starts the window system. Headless (SetHeadless(true) first), nothing is started. Without a
// display it fails with a message that says how to run without one; it never aborts the process.
// Ctrl+C and SIGTERM are turned into a close of every open window from here on (a second one ends
// the process the usual way). Safe to call more than once.
bool Init();
const std::string& InitError();
// Turns Ctrl+C, SIGTERM and SIGHUP (a closed terminal) into stop requests from now on (Init does
// it too; a program calls it first thing, so that no request made while it starts up ends it the
// hard way or goes unheard). A second request, or SIGQUIT, ends the process the default way, after
// removing the files AddTemporaryFile names. A write to a pipe nobody reads, or beyond the file
// size limit (ulimit -f), fails with EPIPE or EFBIG instead of ending the process.
void CatchStopRequests();
// A Ctrl+C, SIGTERM or SIGHUP has come since Init (it stays true for the rest of the run, so a
// request made before there is a window still closes the window once there is one); which
// signal, or 0.
bool StopRequested();
int StopSignal();
bool VideoAvailable();  // the window system is up (false headless)
// The name of a stop request's signal for a message: "Ctrl+C", "SIGTERM", "SIGHUP".
const char* StopSignalName(int signal);
// A file of the run's that must not outlive it (an output under its temporary name): removed if
// a signal ends the process the hard way. Up to 16 at a time; forgotten by name.
void AddTemporaryFile(const std::string& path);
void RemoveTemporaryFile(const std::string& path);
// A new file for an output that is renamed onto `finalPath` once complete: an unpredictable hidden
// name in the same folder, created exclusively (never through an existing name or a symbolic
// link), with the permissions any new file of the user gets. Its name is a temporary file (above)
// from before the file exists, so a signal that comes at any moment takes the file along. The
// descriptor (write-only, binary), or -1 with errno set; `name` receives the file's name.
int CreateTemporaryFile(const std::string& finalPath, std::string& name);
// Frees every window and stops the window system.
void Shutdown();

// Cursor shown over the program's windows. Cursor::None hides it.
void SetCursor(Cursor cursor);
Cursor CurrentCursor();

// Button sets and icons of a message box (the values of Win32's MB_* flags).
constexpr unsigned MB_OK = 0x0000;
constexpr unsigned MB_ICONERROR = 0x0010;
constexpr unsigned MB_ICONWARNING = 0x0030;
constexpr unsigned MB_ICONINFORMATION = 0x0040;
constexpr int IDOK = 1;

// Shows a modal message box and writes the same text to standard error (only the latter when
// headless or without a display). A lone carriage return in the text starts a new line.
int MessageBox(HWND owner, const std::string& text, const std::string& caption, unsigned flags);
// Replaces the box (not the standard-error line) by a call, for tests; nullptr restores the box.
using MessageBoxHook = int (*)(const std::string& text, const std::string& caption, unsigned flags);
void SetMessageBoxHook(MessageBoxHook hook);
// The program's name, put first on the standard-error line of every box ("Name: error: text").
void SetProgramName(const std::string& name);

}  // namespace os

namespace os {

// The program's parameters as the show's switches see them (the program name excluded).
void SetParams(const std::vector<std::string>& params);
const std::vector<std::string>& Params();
// True when some parameter begins with `name`, ignoring letter case; the first match ends the
// search. Nothing is stripped from the parameters, so "-name" or "/name" does not match.
bool HasParamPrefix(const std::string& name);

}  // namespace os
