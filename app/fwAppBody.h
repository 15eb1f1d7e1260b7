// The main program's process body: fixed locations and settings first, then
// one role chosen by the first command-line argument.
#pragma once

#include <string>
#include <vector>

// Creates the main window, runs the message loop until it closes and returns
// the exit code.
using TMainWindowRunner = int (*)();

// The whole process body; returns the exit code. With a null runner the
// interactive role ends once it holds the single-instance mutex and has
// cleaned up, as if its window had been closed at once.
int AppMain(TMainWindowRunner runMainWindow);

// Interactive start flags. ScanNow: the first argument was "/SCAN" (any
// case), so the wizard scans at once. UpdateReady: the updater left new
// executables waiting; after the message loop the program completes the
// update. The updater sets it.
bool ScanNow();
void SetUpdateReady();
bool UpdateReady();

// Starts the main executable with the single argument "/WAIT"; the caller
// then ends its message loop, and the new process continues once this one
// has released the single-instance mutex. True when started.
bool RestartWaiting();

// The address of the install ("INTOVU") or uninstall ("UNTOVU") report: the
// configuration's "LI_URL" with every "%ACTION%" (any case) replaced.
std::string ReportAddress(const std::string &action);

// The decisions of the dispatch, apart from the processes they start.
enum class TAppRole { Install, Uninstall, Stop, CompleteUpdate, Interactive };

// The arguments of a command line after the program's own name, split at
// blanks; double quotes group blanks into an argument and are dropped.
std::vector<std::string> CommandLineArguments(const std::string &commandLine);
// By the first argument, ignoring case; anything else is interactive.
TAppRole RoleFor(const std::vector<std::string> &args);
// "/WAIT" (any case) as first or second argument.
bool WaitRequested(const std::vector<std::string> &args);
// "/UAC" exactly, as first or second argument: the process was already
// relaunched for elevation.
bool AlreadyRelaunched(const std::vector<std::string> &args);

// Whether the interactive role relaunches itself elevated, and the argument
// string it passes: the first argument (if any) followed by " /UAC".
struct TElevationRelaunch {
    bool Relaunch = false;
    std::string Parameters;
};
TElevationRelaunch ElevationRelaunchFor(bool elevated, const std::vector<std::string> &args);
