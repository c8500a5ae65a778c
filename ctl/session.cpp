#include "ctl/session.h"

#include "core/places.h"
#include "core/startup.h"
#include "store/databaseconf.h"
#include "store/datapalisor.h"
#include "store/firststart.h"
#include "store/letgo.h"
#include "store/livetable.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QThread>

namespace palisor::ctl {

QString ChooseDataFolder(const QString& given)
{
    QString folder = given;
    if (folder.isEmpty())
        folder = qEnvironmentVariable("PALISOR_DATA");
    if (folder.isEmpty())
        folder = FindPlaces(ExecutableFolder()).dataFolder;
    return QDir::cleanPath(QDir(folder).absolutePath());
}

Session::Session(const QString& dataFolder, int cycleWaitSeconds)
{
    const QDir folder(dataFolder);
    // Making a database is palisor-monitor --init's work; a mistyped folder
    // must not gain an empty one.
    if (!ReadDatabaseConf(dataFolder).onServer() && !QFile::exists(folder.filePath(QStringLiteral("PALISOR.GDB")))
        && !QFile::exists(folder.filePath(QStringLiteral("PALISOR.BKP"))))
        throw Error(QStringLiteral("%1 holds no Palisor database (PALISOR.GDB); palisor-monitor --init --data %1 makes one")
                        .arg(dataFolder));
    PrepareDataFolder(dataFolder);
    // A maintenance cycle has the file away for a while; a command is short
    // and lets go by ending, so it waits for the file rather than failing.
    const QDeadlineTimer cycle{std::chrono::seconds(cycleWaitSeconds)};
    while (CycleMark::Running(dataFolder) && !cycle.hasExpired())
        QThread::msleep(100);
    data_ = std::make_unique<TDataPalisor>(DataFolder{dataFolder});
    // A further attachment, not the program's start: the players on the
    // server and the log's start-up lines are the monitor's.
    data_->OpenAttachment();
}

void Session::close() { data_->DisconnectDatabase(); }

Session::~Session()
{
    try {
        data_->DisconnectDatabase();
    } catch (const std::exception&) {
        // Only after a failed command, whose own error is the one reported.
    }
}

QString CheckedEntry(const LiveTable& table, const QString& column, const QString& text, const QString& list)
{
    if (text.trimmed().isEmpty())
        throw Error(QStringLiteral("An empty %1 is refused for the %2 list").arg(column.toLower(), list));
    for (const QChar c : text) {
        if (c.unicode() > 0xFF)
            throw Error(QStringLiteral("\"%1\" is refused for the %2 list: only Latin-1 characters are kept").arg(text, list));
    }
    const int length = table.declaredLength(column);
    if (text.size() > length)
        throw Error(QStringLiteral("\"%1\" is refused for the %2 list: the %3 holds at most %4 characters")
                        .arg(text, list, column.toLower())
                        .arg(length));
    return text;
}

QString Lines(const QStringList& lines)
{
    QString text;
    for (const QString& line : lines)
        text += line + QLatin1Char('\n');
    return text;
}

}  // namespace palisor::ctl
