// What the parts of VelloranUpdater share: the request it was started
// with, the check's entry points, the dialog and the page opener.
#pragma once

#include <windows.h>

#include <string>

#include "UpdaterLogic.h"

// Updater.cpp: the program's instance and what the caller asked for.
extern HINSTANCE ModuleInstance;
extern UpdaterRequest Request;

// Sent by the check's thread to the window it was given when the check has
// ended (FinishedFeedResponse then holds the answer).
constexpr UINT WM_FEEDCHECKED = WM_APP + 1;

// FeedFetch.cpp: the feed is fetched on a thread of its own, so that the
// window stays responsive and the overall time limit holds whatever the
// network does. `notify` (may be null) gets WM_FEEDCHECKED at the end.
// Returns the thread's handle, or null when no thread could start.
HANDLE StartFeedCheck(const std::wstring& address, HWND notify);
// The answer, once the thread has ended or sent WM_FEEDCHECKED.
const FeedResponse& FinishedFeedResponse();

// UpdateDialog.cpp: the one window (template IDD_UPDATE), modal. With
// VIEW_CHECKING it starts the check at `address` itself and shows its end.
void RunUpdateDialog(UpdaterView view, const CheckResult& result, const std::wstring& address);
