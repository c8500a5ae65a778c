#pragma once

#include <QString>

namespace palisor {

// One headless monitor per data folder: two palisor-monitor processes on one
// folder would both enforce its rules on the same game server. The window
// and palisorctl open the folder beside it. The lock is an advisory lock on
// PALISOR.LCK in the folder; the file names the program that holds it, so a
// refused program can say who. The kernel drops the lock when its process
// ends, however it ends.
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
