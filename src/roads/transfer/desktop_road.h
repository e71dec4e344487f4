// The queues as the desktop sees them: one notice per run through the
// desktop's notification service (the tray icon's message where none
// answers), the sleep lock while a run goes, and the tray icon's progress.
#pragma once

#include <string>

#include "roads/client.h"
#include "transfer/notice_rules.h"

namespace qorvel {

// False when the profile turns notices off ("配置.ini", [desktop] notifications=0).
bool desktop_notices_enabled(const Client& c);

// The roads report here from their workers.
void note_transfer_done(Client& c, transfer::QueueKind kind, const std::string& path);
void note_transfer_failed(Client& c, transfer::QueueKind kind, const std::string& name,
                          const std::string& why);
void note_run_ended(Client& c, transfer::QueueKind kind);

// Sends one notice without waiting; the tray icon shows it when no service does.
void tell_desktop(Client& c, const transfer::NoticeText& notice);

// One look at both queues: the sleep lock follows whether either runs, the
// tray tooltip their progress. held is the lock's state between looks.
void desktop_watch_step(Client& c, bool& held);
// A worker that looks four times a second until the program stops.
void start_desktop_watch(Client& c);

}  // namespace qorvel
