#pragma once
// What the hive store remembers of the last whole check of its file (PRAGMA quick_check, which
// reads every page), so that opening a file that has not changed since needs no such check and
// costs the same at any size. The record lives beside the file (registry.db-checked); losing it
// costs one check, nothing else.
#include <optional>
#include <string>

namespace velmar::hivestore {

// The file as the file system describes it: device, inode, size, last change of its data
// (mtime) and of its inode (ctime). Every write to the file, by any program, changes it.
// nullopt when the file can not be looked at.
std::optional<std::string> fileState(const std::string& file);

// True when the record says that `file` in `state` passed the whole check, and its last change
// lies in an earlier tick of the file system's clock than the check: a change later in the same
// tick would have left the state as it was.
bool checkedBefore(const std::string& file, const std::string& state);

// The record of one whole check, begun before the file is looked at: it takes the file system's
// time then (from a file of its own made in the same folder). keep() writes it; without, or
// where the folder can not be written, nothing is noted and the next open checks again.
class CheckNote {
public:
    explicit CheckNote(const std::string& file);
    ~CheckNote();
    CheckNote(const CheckNote&) = delete;
    CheckNote& operator=(const CheckNote&) = delete;

    // Notes that the file in `state` (taken after this note was begun) passed the check.
    void keep(const std::string& state);

private:
    std::string file_;
    std::string temp_; // empty when it could not be made
    int fd_ = -1;
    std::string began_;
};

// Drops the record: damage was found in the file.
void forgetChecked(const std::string& file);

// True when the write-ahead log beside `file` holds commits while no connection has the file
// open: the last program that had it open ended without closing it (a crash, a kill, a power
// cut), which the next open is to check the whole file for.
bool logLeftBehind(const std::string& file);

} // namespace velmar::hivestore
