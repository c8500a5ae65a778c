#pragma once

#include "core/error.h"

#include <QString>
#include <memory>

namespace palisor {

class LiveTable;
class TDataPalisor;

namespace ctl {

// A command line that parsed but asks for something palisorctl does not do
// (an unknown setting, a list that does not exist): exit status 2.
class UsageError : public Error {
public:
    using Error::Error;
};

// The data folder a command works on: the one given with --data, else
// PALISOR_DATA, else the window's own.
QString ChooseDataFolder(const QString& given);

// The database of a data folder, opened for one command and closed after
// it, beside whatever other program has the folder open.
class Session {
public:
    // How long a command waits for a maintenance cycle to end; the check
    // answers within a monitoring system's usual ten-second timeout.
    static constexpr int CycleWaitSeconds = 120;
    static constexpr int CheckCycleWaitSeconds = 8;

    explicit Session(const QString& dataFolder, int cycleWaitSeconds = CycleWaitSeconds);
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    TDataPalisor& data() { return *data_; }
    // Ends the attachment; a failure to is the command's failure. The
    // destructor ends it as well, quietly, after a command that failed.
    void close();

private:
    std::unique_ptr<TDataPalisor> data_;
};

// A typed entry for a text column of a list: refused, naming the value and
// the list, when it is empty, holds characters beyond Latin-1 or is longer
// than the column.
QString CheckedEntry(const LiveTable& table, const QString& column, const QString& text, const QString& list);

// The rows a list shows, one per line, for printing.
QString Lines(const QStringList& lines);

}  // namespace ctl
}  // namespace palisor
