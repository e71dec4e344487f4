// Ties the queues of Transfers to an account's journal: each change of a row
// goes in as one transaction before the window shows it, progress goes in as
// checkpoints, and a later login gets the rows back.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "transfer/journal.h"
#include "transfer/transfers.h"

namespace qorvel::transfer {

JournalRow journal_row(const DownloadQueue::Task& task);
JournalRow journal_row(const UploadQueue::Task& task);
// The done row of a finished task from the cells its list shows.
JournalRow done_row(JournalList list, const std::vector<std::string>& cells);

// Both queues tell their changes to the journal from now on.
void attach_journal(Transfers& t, std::shared_ptr<Journal> journal);
// The queues stop telling; the journal keeps what it has.
void detach_journal(Transfers& t);

// An account's lists as kept, with the queues refilled: every row of a queue
// goes back as it was, except that a running row waits to be started again.
struct RestoredLists {
    std::vector<JournalRow> downloads, downloads_done, uploads, uploads_done;
    bool download_was_running = false;
    bool upload_was_running = false;
};
RestoredLists restore_queues(Transfers& t, const Journal& journal);

}  // namespace qorvel::transfer
