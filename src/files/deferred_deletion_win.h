// Deferred deletion: files and directories that a run leaves behind are
// recorded in two lists in the current user's registry (see
// files/deletion_list.h), and a later run deletes what nobody holds any more.
// Nothing here reports an error or stops the process: a failure leaves the
// lists as they were, and the log says what happened. Updates of the lists
// by several processes are ordered through a named mutex.
#pragma once

#include <string>

// Appends `path` and ';' to the list `valueName` (created when missing).
// A list longer than kMaxDeletionListBytes, or a path holding ';', is left
// alone (with an error line in the log).
void scheduleForDeletion(const std::string& path, const char* valueName);

// scheduleForDeletion into "delete_file" / "delete_dir". A scheduled file is
// not kept open by this process: every sweep runs in a later process, and
// cleanup runs at every message, so held handles would only pile up.
void scheduleFileDeletion(const std::string& path);
void scheduleDirDeletion(const std::string& path);

// True iff the file can be opened for reading and writing with no sharing,
// that is, no other handle to it is open.
bool canOpenExclusively(const std::string& path);

// Deletes every listed file nobody holds open, then removes every listed
// directory that is empty, and writes back the entries that still exist.
// Does nothing (and creates nothing) when the key does not exist.
void sweepScheduledDeletions();
