#pragma once

#include <QString>

namespace palisor {

// One program per data folder: the window and the headless monitor never
// open the same database at once (the embedded engine could not share the
// file anyway), while programs on different data folders run side by side.
// The lock is an advisory lock on PALISOR.LCK in the folder; the file names
// the program that holds it, so a refused program can say who. The kernel
// drops the lock when its process ends, however it ends.
class DataFolderLock {
public:
    static constexpr const char FileName[] = "PALISOR.LCK";

    DataFolderLock() = default;
    ~DataFolderLock();
    DataFolderLock(const DataFolderLock&) = delete;
    DataFolderLock& operator=(const DataFolderLock&) = delete;

    // Takes the folder's lock for program without waiting. False only while
    // another live process holds it; a folder where no lock can be set up at
    // all (missing, not ours) is not refused: opening the database there
    // reports its own error.
    bool take(const QString& folder, const QString& program);

    // After a refusal: "The data folder F is in use by P (process N)."
    QString refusal() const { return refusal_; }

private:
    int fd_ = -1;
    QString refusal_;
};

}  // namespace palisor
