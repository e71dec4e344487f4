#include "transfer/journal_link.h"

namespace qorvel::transfer {

namespace {

JournalState state_of(RowState s) {
    switch (s) {
    case RowState::waiting: return JournalState::waiting;
    case RowState::running: return JournalState::running;
    case RowState::failed: return JournalState::failed;
    case RowState::paused: return JournalState::paused;
    }
    return JournalState::waiting;
}

RowState row_state(JournalState s) {
    switch (s) {
    case JournalState::failed: return RowState::failed;
    case JournalState::paused: return RowState::paused;
    default: return RowState::waiting;  // a running row starts again
    }
}

std::string cell(const std::vector<std::string>& cells, std::size_t i) {
    return i < cells.size() ? cells[i] : std::string();
}

template <class Task>
JournalChange change_of(JournalList list, JournalList done, const QueueChange<Task>& c) {
    JournalChange out;
    for (const auto& t : c.put) out.put.push_back(journal_row(t));
    for (TaskId id : c.gone) out.gone.emplace_back(list, id);
    if (c.completed) out.done.push_back(done_row(done, c.done_cells));
    return out;
}

}  // namespace

JournalRow journal_row(const DownloadQueue::Task& task) {
    JournalRow r;
    r.id = task.id;
    r.list = JournalList::downloads;
    r.state = state_of(task.state);
    r.name = task.entry.name;
    r.size_text = task.entry.size_text;
    r.file_id = task.entry.file_id;
    r.folder = task.entry.folder;
    r.policy = task.entry.policy;
    r.local_path = task.local_path;
    r.failure = task.failure;
    return r;
}

JournalRow journal_row(const UploadQueue::Task& task) {
    JournalRow r;
    r.id = task.id;
    r.list = JournalList::uploads;
    r.state = state_of(task.state);
    r.name = task.entry.path;
    r.size_text = task.entry.size_text;
    r.folder = task.entry.folder_name;
    r.folder_id = task.entry.folder_id;
    r.local_path = task.local_path;
    r.failure = task.failure;
    return r;
}

// "已完成": name, path. "最近已完成": path, size, new id, remark.
JournalRow done_row(JournalList list, const std::vector<std::string>& cells) {
    JournalRow r;
    r.list = list;
    r.state = JournalState::done;
    r.name = cell(cells, 0);
    if (list == JournalList::downloads_done) {
        r.local_path = cell(cells, 1);
    } else {
        r.size_text = cell(cells, 1);
        r.file_id = cell(cells, 2);
        r.remark = cell(cells, 3);
    }
    return r;
}

void attach_journal(Transfers& t, std::shared_ptr<Journal> journal) {
    t.set_journal(journal);
    // Under the queue's lock: the journal sees the changes in their order.
    t.downloads.set_listener([journal](const DownloadQueue::Change& c) {
        journal->apply(change_of(JournalList::downloads, JournalList::downloads_done, c));
    });
    t.uploads.set_listener([journal](const UploadQueue::Change& c) {
        journal->apply(change_of(JournalList::uploads, JournalList::uploads_done, c));
    });
}

void detach_journal(Transfers& t) {
    t.downloads.set_listener({});
    t.uploads.set_listener({});
    t.set_journal(nullptr);
}

RestoredLists restore_queues(Transfers& t, const Journal& journal) {
    RestoredLists out;
    out.downloads = journal.load(JournalList::downloads);
    out.downloads_done = journal.load(JournalList::downloads_done);
    out.uploads = journal.load(JournalList::uploads);
    out.uploads_done = journal.load(JournalList::uploads_done);
    for (const auto& r : out.downloads) {
        DownloadQueue::Task task;
        task.id = r.id;
        task.state = row_state(r.state);
        task.entry = DownloadEntry{r.name, r.size_text, r.file_id, r.folder, r.policy};
        task.failure = r.failure;
        task.local_path = r.local_path;
        task.saved_record = r.record;
        task.saved_partial = r.partial;
        out.download_was_running |= r.state == JournalState::running;
        t.downloads.restore(std::move(task));
    }
    for (const auto& r : out.uploads) {
        UploadQueue::Task task;
        task.id = r.id;
        task.state = row_state(r.state);
        task.entry = UploadEntry{r.name, r.folder, r.folder_id, r.size_text};
        task.failure = r.failure;
        task.local_path = r.local_path;
        task.saved_offset = r.offset;
        out.upload_was_running |= r.state == JournalState::running;
        t.uploads.restore(std::move(task));
    }
    return out;
}

}  // namespace qorvel::transfer
