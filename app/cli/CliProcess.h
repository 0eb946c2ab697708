// What every flashwright-cli command that touches cameras or the temporary
// folder shares: the one-per-user lock, stop requests, the temporary folder's
// removal at exit and the notice of an unfinished run.
#pragma once

#include <string>

// Takes the per-user lock for the rest of the process, before anything is
// touched; a second Flashwright is refused with exit status 1 and a message
// naming the running one. Also turns stop requests (SIGINT, SIGTERM, SIGHUP,
// SIGQUIT) into requests the command honours at its next safe point, and makes
// the temporary folder go when the process ends. The runtime's older variable
// names are mirrored (MirrorRuntimeVariables) before any camera library loads.
void HoldInstanceLock(const char* command);

// Ends the command (exit status 1) when a stop was requested, at a point where
// nothing is half done.
void StopIfRequested();

// While one exists, stop requests are refused with the in-progress message:
// flash is being written or parameters are being restored.
class CRefuseStops {
public:
    CRefuseStops();
    ~CRefuseStops();
    CRefuseStops(const CRefuseStops&) = delete;
    CRefuseStops& operator=(const CRefuseStops&) = delete;
};

// Tells the user, on standard error, when an earlier run left parameters
// unrestored, and how to restore them.
void NoticeUnfinishedRun();

// Removes the temporary folder when the process holds the lock; called once
// as main ends.
void EndCliProcess();

// Text for one table cell: control characters become \xNN (\u00NN for C1),
// so camera text cannot move the cursor or rewrite the terminal.
std::string EscapeControls(const std::string& text);
