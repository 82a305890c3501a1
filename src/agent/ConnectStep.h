#pragma once
// The main form's side of the bookmarks controller and of the link server:
// the one controller of the process (created at `initialized`, freed in the
// shutdown sequence), the connect step that KM_CONNECT starts, its answer
// KM_CONNECT_RESPONSE, and the objects the server layer needs from the
// agent (the client-action queue at start-up; the transport, the posted
// texts and the client singletons at shutdown). Main thread only.

#include <functional>

#include "platform/Window.h"

namespace kelvo {

class TBookmarksCtrl;

// The silent backup of the Favorites into the archive folder that the
// connect step makes when synchronizing is on; the backups module sets it.
// A failure is raised (the connect step logs it and goes on).
using TSilentBackup = std::function<void()>;
void SetSilentBackup(TSilentBackup backup);

// Start-up: the process-wide (empty) client-action queue.
void InitServerClient();
// Shutdown: ends outstanding requests, drops their texts and frees the
// client singletons (archive, response handlers).
void ShutdownServerClient();

// The controller on the Favorites folder and the metadata file of the
// agent, reporting to mainForm; made once (later calls answer it).
TBookmarksCtrl* CreateBookmarksCtrl(HWND mainForm);
// The controller, or null before `initialized` and after shutdown.
TBookmarksCtrl* BookmarksCtrl();
// Shuts the controller down and frees it (nothing when there is none).
void FreeBookmarksCtrl();

// KM_CONNECT: the silent backup and Synchronizable when the sync mode is
// not "no-sync"; the connect script when a nickname and a password are
// stored (answered to mainForm as KM_CONNECT_RESPONSE); IdEstablished.
void ConnectStep(HWND mainForm);
// KM_CONNECT_RESPONSE: its "context" and "request-sync" answers applied.
void HandleConnectResponse(WPARAM wParam, LPARAM lParam);

}  // namespace kelvo
