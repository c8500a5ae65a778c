#include "store/datapalisor.h"

#include "core/datafiles.h"
#include "core/dialogs.h"
#include "core/error.h"
#include "core/shellutils.h"
#include "core/timing.h"
#include "store/dbevents.h"
#include "store/letgo.h"
#include "store/monitorclaim.h"
#include "store/outage.h"
#include "store/ruleindexes.h"
#include "store/sqltext.h"
#include "store/upgrade.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QScopeGuard>
#include <QSqlQuery>
#include <QThread>
#include <atomic>
#include <cstdio>
#include <utility>

namespace palisor {

TDataPalisor* DataPalisor = nullptr;

using namespace palisor::sql;

namespace {

QString nextConnectionName()
{
    static std::atomic<int> counter{0};
    return QStringLiteral("palisor-data-%1").arg(++counter);
}

QString executablePath()
{
    return QCoreApplication::instance() ? QCoreApplication::applicationFilePath() : QString();
}

// "h:mm" and the system's own morning or afternoon designator.
QString clockText(const QDateTime& at)
{
    const QTime t = at.time();
    const int hour = t.hour() % 12 == 0 ? 12 : t.hour() % 12;
    const QLocale locale = QLocale::system();
    return QStringLiteral("%1:%2 %3")
        .arg(hour)
        .arg(t.minute(), 2, 10, QLatin1Char('0'))
        .arg(t.hour() < 12 ? locale.amText() : locale.pmText());
}

}  // namespace

TDataPalisor::TDataPalisor(const QString& baseFolder, QObject* parent)
    : QObject(parent), base_(baseFolder), connection_(nextConnectionName())
{
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QIBASE"), connection_);
    db.setUserName(QString::fromLatin1(DbUser));
    db.setPassword(QString::fromLatin1(DbPassword));

    tblPlayers = new LiveTable(QStringLiteral("PLAYERS"), QStringLiteral("CLIENTID"), LiveTable::Reading::AtOpen, this);
    // The main window shows players and settings; the lists are read when
    // first used.
    const auto later = LiveTable::Reading::OnFirstUse;
    tblBanned = new LiveTable(QStringLiteral("BANNED"), QStringLiteral("NAME"), later, this);
    tblMessages = new LiveTable(QStringLiteral("MESSAGES"), QStringLiteral("SEQ"), later, this);
    tblRecent = new LiveTable(QStringLiteral("RECENT"), QStringLiteral("LASTSEEN"), later, this);
    tblSettings = new LiveTable(QStringLiteral("SETTINGS"), QString(), LiveTable::Reading::AtOpen, this);
    tblImmune = new LiveTable(QStringLiteral("IMMUNE"), QString(), later, this);
    tblIllegal = new LiveTable(QStringLiteral("ILLEGAL"), QString(), later, this);
    tblMapAlias = new LiveTable(QStringLiteral("MAPALIAS"), QString(), later, this);
    tblMessages->setAfterPost([this](LiveTable& table) { tblMessagesAfterPost(table); });
    rules_ = std::make_unique<RuleIndexes>(*tblImmune, *tblBanned, *tblIllegal);
    kept_ = std::make_unique<KeptRecords>();
    events_ = new DbEvents(this);
    QObject::connect(events_, &DbEvents::heard, this, &TDataPalisor::notified);
    QObject::connect(events_, &DbEvents::refused, this, &TDataPalisor::WriteLog);
}

TDataPalisor::TDataPalisor(const DataFolder& folder, QObject* parent) : TDataPalisor(QString(), parent)
{
    data_ = QDir::cleanPath(QDir(folder.path).absolutePath());
}

TDataPalisor::~TDataPalisor()
{
    rules_.reset();
    for (LiveTable* table : tables())
        delete table;
    events_->stop();
    {
        QSqlDatabase db = QSqlDatabase::database(connection_, false);
        if (db.isOpen()) {
            db.rollback();
            db.close();
        }
    }
    QSqlDatabase::removeDatabase(connection_);
}

QList<LiveTable*> TDataPalisor::tables() const
{
    return {tblSettings, tblPlayers, tblIllegal, tblImmune, tblRecent, tblBanned, tblMessages, tblMapAlias};
}

QSqlDatabase TDataPalisor::database() const { return QSqlDatabase::database(connection_, false); }
bool TDataPalisor::isConnected() const { return database().isOpen(); }

QString TDataPalisor::dataFolder() const
{
    if (!data_.isEmpty())
        return data_;
    const QDir base(base_.isEmpty() ? QDir::currentPath() : base_);
    return QDir::cleanPath(base.absoluteFilePath(QStringLiteral("data")));
}

QString TDataPalisor::databasePath() const { return dataFolder() + QStringLiteral("/PALISOR.GDB"); }
QString TDataPalisor::backupPath() const { return dataFolder() + QStringLiteral("/PALISOR.BKP"); }
QString TDataPalisor::gbkPath() const { return dataFolder() + QStringLiteral("/PALISOR.GBK"); }
QString TDataPalisor::logPath() const { return dataFolder() + QStringLiteral("/PALISOR.LOG"); }
QString TDataPalisor::upgradeCopyPath() const { return dataFolder() + QStringLiteral("/PALISOR.UPG"); }
QString TDataPalisor::restoredPath() const { return dataFolder() + QStringLiteral("/PALISOR.NEW"); }

const DatabaseConf& TDataPalisor::place() const
{
    if (!place_)
        place_ = ReadDatabaseConf(dataFolder());
    return *place_;
}

// ---- start-up and shut-down ---------------------------------------------

void TDataPalisor::DataModuleCreate()
{
    ProtectDataFolder(dataFolder());
    WriteLog(executablePath() + QStringLiteral(" Started"));
    // The compact copy of a cycle that never finished; the live file or
    // PALISOR.BKP still holds what it held.
    QFile::remove(restoredPath());
    initialiseVariables();
    ConnectDatabase();
    // The engine has made its lock files, with modes of its own.
    ProtectDataFolder(dataFolder());
}

void TDataPalisor::OpenAttachment()
{
    initialiseVariables();
    connect(false);
}

void TDataPalisor::initialiseVariables()
{
    VariableMark = QStringLiteral("$");
    const QString m = VariableMark;
    Variables = QStringList{
        m + QStringLiteral("serverip") + m + QStringLiteral("=0.0.0.0"),
        m + QStringLiteral("servername") + m + QStringLiteral("=none"),
        m + QStringLiteral("time") + m + QLatin1Char('=') + clockText(now()),
        m + QStringLiteral("gametype") + m + QStringLiteral("=none"),
        m + QStringLiteral("crntmap") + m + QStringLiteral("=none"),
        m + QStringLiteral("nextmap") + m + QStringLiteral("=none"),
        m + QStringLiteral("banned") + m + QStringLiteral("=none"),
        m + QStringLiteral("recent") + m + QStringLiteral("=none"),
    };
}

void TDataPalisor::DataModuleDestroy()
{
    // Shut-down goes on past a failing step: the log and stderr keep the
    // error, since no window is left to show it.
    auto step = [this](auto&& action) {
        try {
            action();
        } catch (const std::exception& e) {
            const QString message = messageOf(e);
            std::fprintf(stderr, "Palisor: %s\n", OneLine(message).toLocal8Bit().constData());
            WriteLog(QStringLiteral("Exception: ") + message);
        }
    };
    // The monitor engine has ended: what it recorded since this attachment's
    // transaction began is seen only in a fresh one, and a maintenance cycle
    // may have left the attachment closed.
    step([this] {
        Resynchronise({tblPlayers});
        // The players of a server another program monitors are its own.
        const std::optional<MonitorClaim> claim = HasHistory() ? ReadClaim(database(), server_) : std::nullopt;
        if (!claim || MonitorIdentity::current().holds(*claim) || claim->staleAt(now().toUTC()))
            DeletePlayers();
    });
    step([this] { DisconnectDatabase(); });
    Variables.clear();
    WriteLog(executablePath() + QStringLiteral(" Exiting"));
    WriteLog(QString());
}

void TDataPalisor::restoreMissingLiveFile()
{
    // A maintenance cycle cut short after moving the live file aside. The
    // backup it was making may be cut short as well.
    if (!onServer() && !QFile::exists(databasePath()) && QFile::exists(backupPath())) {
        if (!QFile::rename(backupPath(), databasePath()))
            throw Error(QStringLiteral("Cannot move %1 back to %2").arg(backupPath(), databasePath()));
        QFile::remove(gbkPath());
        WriteLog(QStringLiteral("Restored the database from ") + backupPath());
    }
}

void TDataPalisor::ConnectDatabase() { connect(true); }

void TDataPalisor::requireNoCycleElsewhere() const
{
    // The file may be away, or about to be: attaching now would take back
    // what the cycle moved aside, or keep it from beginning.
    if (!cycling_ && !onServer() && CycleMark::Running(dataFolder()))
        throw Error(QStringLiteral("The database is being compacted; it is back in a moment."));
}

void TDataPalisor::connect(bool logged)
{
    if (!isConnected())
        requireNoCycleElsewhere();
    restoreMissingLiveFile();
    QSqlDatabase db = database();
    if (!db.isOpen())
        openConnection();
    db.transaction();
    openWhenClosed_.clear();
    for (LiveTable* table : tables())
        table->open(db);
    expiredMark_ = expiredMark();
    namesLogged_ = run(db, QStringLiteral("SELECT 1 FROM RDB$RELATIONS WHERE RDB$RELATION_NAME = 'NAME_CHANGES'")).next();
    nameCounts_.clear();
    if (logged)
        WriteLog(QStringLiteral("Database Connection Successful"));
}

void TDataPalisor::Resynchronise(const QList<LiveTable*>& tables)
{
    // A connection the database server no longer serves stays open to the
    // driver: it is let go of here, and opened afresh once the server is back.
    if (lost_ && !Reconnect())
        throw Error(QStringLiteral("The database server is gone: ") + lostError_);
    try {
        resynchronise(tables);
    } catch (const std::exception& e) {
        NoteLoss(messageOf(e));
        throw;
    }
}

void TDataPalisor::resynchronise(const QList<LiveTable*>& tables)
{
    QSqlDatabase db = database();
    if (!db.isOpen()) {
        requireNoCycleElsewhere();
        restoreMissingLiveFile();
        openConnection();
        db.transaction();
        // Connected again by its owner's own work after letting go for another
        // program's cycle: every table it had open is open again, not only
        // those this work asks for.
        for (LiveTable* table : std::exchange(openWhenClosed_, {}))
            if (!tables.contains(table) && !table->isOpen())
                table->open(db);
    } else {
        // Nothing is pending, so ending the transaction loses nothing.
        db.rollback();
        db.transaction();
    }
    for (LiveTable* table : tables) {
        if (table->isOpen())
            table->refresh();
        else
            table->open(db);
    }
    if (tables.contains(tblRecent))
        expiredMark_ = expiredMark();
}

void TDataPalisor::RenewSnapshot()
{
    QSqlDatabase db = database();
    if (lost_ || !db.isOpen())
        return;
    db.rollback();
    db.transaction();
}

std::function<std::unique_ptr<TDataPalisor>()> TDataPalisor::Maker() const
{
    return [base = base_, data = data_, server = server_] {
        auto made = data.isEmpty() ? std::make_unique<TDataPalisor>(base) : std::make_unique<TDataPalisor>(DataFolder{data});
        made->SetServer(server);
        return made;
    };
}

void TDataPalisor::Listen(const QStringList& events) { events_->add(events); }

bool TDataPalisor::Listening() const { return events_->listening(); }

void TDataPalisor::setOtherAttachments(std::function<QString()> release, std::function<void(bool)> resume)
{
    releaseOthers_ = std::move(release);
    resumeOthers_ = std::move(resume);
}

void TDataPalisor::DisconnectDatabase()
{
    const QList<LiveTable*> order = tables();
    openWhenClosed_.clear();
    for (LiveTable* table : order)
        if (table->isOpen())
            openWhenClosed_.append(table);
    for (auto it = order.rbegin(); it != order.rend(); ++it)
        (*it)->close();
    QSqlDatabase db = database();
    if (!db.isOpen())
        return;
    events_->stop();
    const bool committed = db.commit();
    const QSqlError failure = db.lastError();
    // The connection ends either way; a transaction the database would not
    // commit is rolled back, or it would hold the connection open.
    if (!committed)
        db.rollback();
    db.close();
    if (!committed)
        throw Error(QStringLiteral("Unable to commit transaction: ") + errorText(failure));
}

void TDataPalisor::openConnection()
{
    // A database that cannot be upgraded keeps working as before, without
    // the history; the log says why.
    const auto log = [this](const QString& line) { WriteLog(line); };
    QSqlDatabase db = database();
    if (onServer()) {
        const DatabaseConf& conf = place();
        const QString password = ReadDatabasePassword(PasswordFilePath(dataFolder(), conf));
        try {
            history_ = UpgradeServerDatabase(conf.location, conf.user, password, log);
        } catch (const Error& e) {
            throw Error(QStringLiteral("Cannot open the database %1 as %2: %3")
                            .arg(conf.location, conf.user, ServerRefusal(conf.location, e.message())));
        }
        db.setUserName(conf.user);
        db.setPassword(password);
        db.setDatabaseName(conf.location);
    } else {
        history_ = UpgradeDatabaseFile(databasePath(), upgradeCopyPath(), log);
        db.setDatabaseName(databasePath());
    }
    if (!db.open())
        throw Error(errorText(db.lastError()));
    history_ = history_ && convertLocalSamples();
    // Named for a maintenance cycle that finds this attachment in its way.
    const QString program = QFileInfo(executablePath()).fileName();
    // The value is set as the row is fetched.
    run(db, QStringLiteral("SELECT RDB$SET_CONTEXT('USER_SESSION', 'PALISOR_PROGRAM', ?) FROM RDB$DATABASE"),
        {QStringLiteral("%1 (process %2)").arg(program.isEmpty() ? QStringLiteral("Palisor") : program)
             .arg(QCoreApplication::applicationPid())})
        .next();
    bindServer(db);
    events_->start(db);
    emit attached();
}

void TDataPalisor::bindServer(QSqlDatabase& db)
{
    // A database left as it was by a failed upgrade has one server and no
    // server columns: its tables hold that server's rows only.
    if (!history_) {
        server_ = 1;
        for (LiveTable* table : {tblSettings, tblPlayers})
            table->setScope(QString(), 0);
        return;
    }
    if (server_ <= 0) {
        QSqlQuery first = run(db, QStringLiteral("SELECT MIN(ID) FROM SERVERS"));
        server_ = first.next() ? first.value(0).toInt() : 0;
    }
    run(db, QStringLiteral("SELECT RDB$SET_CONTEXT('USER_SESSION', 'PALISOR_SERVER', ?) FROM RDB$DATABASE"),
        {server_ > 0 ? QVariant(server_) : QVariant(QMetaType::fromType<int>())})
        .next();
    for (LiveTable* table : {tblSettings, tblPlayers})
        table->setScope(QStringLiteral("SERVER_ID"), server_);
}

void TDataPalisor::SetServer(int id)
{
    server_ = id;
    QSqlDatabase db = database();
    if (!db.isOpen())
        return;
    bindServer(db);
    for (LiveTable* table : {tblSettings, tblPlayers})
        if (table->isOpen())
            table->refresh();
}

bool TDataPalisor::HasHistory() const { return history_ && isConnected(); }

// ---- maintenance cycle --------------------------------------------------

namespace {

// What a failing tool said, on one line for the log and the event.
QString toolSaid(const QString& output)
{
    QStringList lines;
    for (const QString& line : output.split(QLatin1Char('\n'))) {
        const QString kept = line.trimmed();
        if (!kept.isEmpty())
            lines << kept;
    }
    return lines.isEmpty() ? QString() : QStringLiteral(": ") + lines.join(QStringLiteral("; "));
}

}  // namespace

void TDataPalisor::runGbak(const QString& mode, const QString& from, const QString& to, const QString& failure) const
{
    QString output;
    if (RunAndWait(gbakCommand(mode, from, to), false, &output) != 0 || !QFile::exists(to))
        throw Error(failure + toolSaid(output));
}

QString TDataPalisor::gbakCommand(const QString& mode, const QString& from, const QString& to) const
{
    auto arg = [this](const QString& path) {
        // Relative to the working folder, as the tool is started there,
        // unless the data lives elsewhere.
        const QString shown = base_.isEmpty() && data_.isEmpty() ? QDir::current().relativeFilePath(path) : path;
        return shown.contains(QLatin1Char(' ')) ? QLatin1Char('"') + shown + QLatin1Char('"') : shown;
    };
    return QStringLiteral("gbak %1 -user %2 -password %3 %4 %5")
        .arg(mode, QString::fromLatin1(DbUser), QString::fromLatin1(DbPassword), arg(from), arg(to));
}

void TDataPalisor::postEvent(const char* name)
{
    QSqlDatabase db = database();
    if (!db.isOpen())
        return;
    // Delivered when committed.
    run(db, QStringLiteral("EXECUTE BLOCK AS BEGIN POST_EVENT '%1'; END").arg(QLatin1String(name)));
    commitAndContinue(db);
}

QStringList TDataPalisor::OtherAttachments()
{
    // The engine's monitoring tables are a snapshot taken at their first
    // read in a transaction: a fresh one sees who is attached now.
    QSqlDatabase db = database();
    db.rollback();
    db.transaction();
    QSqlQuery q = run(db, QStringLiteral("SELECT C.MON$VARIABLE_VALUE, A.MON$REMOTE_PROCESS, A.MON$REMOTE_PID "
                                         "FROM MON$ATTACHMENTS A LEFT JOIN MON$CONTEXT_VARIABLES C "
                                         "ON C.MON$ATTACHMENT_ID = A.MON$ATTACHMENT_ID "
                                         "AND C.MON$VARIABLE_NAME = 'PALISOR_PROGRAM' "
                                         "WHERE A.MON$ATTACHMENT_ID <> CURRENT_CONNECTION AND A.MON$SYSTEM_FLAG = 0 "
                                         "ORDER BY A.MON$ATTACHMENT_ID"));
    QStringList others;
    while (q.next()) {
        // A data module names itself; a tool over the network is named by
        // the server; an embedded tool (isql-fb, say) by nobody.
        const QString named = q.value(0).toString();
        const QString remote = QFileInfo(q.value(1).toString().trimmed()).fileName();
        others << (!named.isEmpty() ? named
                   : !remote.isEmpty() ? QStringLiteral("%1 (process %2)").arg(remote, q.value(2).toString())
                                       : QStringLiteral("another program"));
    }
    return others;
}

QStringList TDataPalisor::othersAfterLetGo()
{
    QStringList others = OtherAttachments();
    if (others.isEmpty())
        return others;
    postEvent(LetGoEvent);
    QDeadlineTimer deadline(LetGoSeconds * 1000);
    while (!others.isEmpty() && !deadline.hasExpired()) {
        QThread::msleep(100);
        others = OtherAttachments();
    }
    return others;
}

void TDataPalisor::postpone(const QString& why)
{
    // Put off at every poll while the same attachment stays: said once.
    if (why == postponed_)
        return;
    postponed_ = why;
    WriteLog(QStringLiteral("Database Sweep postponed: ") + why);
    emit cyclePostponed(why);
}

void TDataPalisor::SweepDatabase()
{
    // A server keeps its file compact itself while transactions stay short.
    if (onServer())
        return;
    QFile live(databasePath());
    if (!live.open(QIODevice::ReadOnly))
        throw Error(QStringLiteral("Cannot open file \"%1\". %2").arg(databasePath(), live.errorString()));
    const qint64 size = live.size();
    live.close();
    if (size <= sweepAbove_)
        return;
    // A cycle that failed (a disk without room for the copies, say) would
    // fail again at every poll: it is tried again an hour later, or once the
    // file has doubled.
    if (retryAt_.isValid() && now() < retryAt_ && size <= retryAbove_)
        return;

    // The mark first: a cycle that cannot have it (another program's, or
    // another server's engine in this one, runs) has asked nobody to let go,
    // so it tells nobody to come back, which would end the running cycle's
    // wait for them.
    CycleMark mark(dataFolder());
    if (!mark.take()) {
        postpone(QStringLiteral("another attachment is compacting the database"));
        return;
    }
    if (releaseOthers_) {
        const QString kept = releaseOthers_();
        if (!kept.isEmpty()) {
            postpone(kept);
            return;
        }
    }
    bool completed = false;
    const auto resume = qScopeGuard([this, &completed, &mark] {
        cycling_ = false;
        mark.release();
        // Those that let go look at the mark; this tells the others.
        try {
            postEvent(BackEvent);
        } catch (const Error&) {
            // Only for those still attached, who lose nothing by missing it.
        }
        if (resumeOthers_)
            resumeOthers_(completed);
    });
    cycling_ = true;
    const QStringList others = othersAfterLetGo();
    if (!others.isEmpty()) {
        postpone(QStringLiteral("the database is still open in ") + others.join(QStringLiteral(", ")));
        return;
    }
    postponed_.clear();
    retryAt_ = now().addSecs(SweepRetrySeconds);
    retryAbove_ = 2 * size;

    emit cycleBegun();
    WriteLog(QStringLiteral("Performing Database Sweep"));
    if (QFile::exists(backupPath()) && !QFile::remove(backupPath()))
        throw Error(QStringLiteral("Database sweep failed: cannot delete ") + backupPath());
    if (namesLogged_) {
        // Only the newest change of each list is ever looked at.
        QSqlDatabase db = database();
        run(db, QStringLiteral("DELETE FROM NAME_CHANGES N WHERE N.ID < "
                               "(SELECT MAX(M.ID) FROM NAME_CHANGES M WHERE M.LIST = N.LIST)"));
        commitAndContinue(db);
    }
    try {
        DisconnectDatabase();
    } catch (const Error&) {
        ConnectDatabase();
        throw;
    }
    if (!QFile::rename(databasePath(), backupPath())) {
        ConnectDatabase();
        throw Error(QStringLiteral("Database sweep failed: cannot rename %1 to %2").arg(databasePath(), backupPath()));
    }

    // The compact file is restored under a temporary name and becomes the live
    // file only when both runs succeeded; an old backup is never restored.
    const QString restored = restoredPath();
    qint64 left = 0;
    bool backedUp = false;
    try {
        QFile::remove(gbkPath());
        QFile::remove(restored);
        runGbak(QStringLiteral("-b"), backupPath(), gbkPath(), QStringLiteral("gbak could not back up ") + backupPath());
        backedUp = true;
        runGbak(QStringLiteral("-r"), gbkPath(), restored, QStringLiteral("gbak could not restore ") + gbkPath());
        left = QFileInfo(restored).size();
        ProtectDataFile(restored);
        if (!QFile::rename(restored, databasePath()))
            throw Error(QStringLiteral("cannot rename %1 to %2").arg(restored, databasePath()));
    } catch (const Error& e) {
        QFile::remove(restored);
        // A backup cut short is no backup, whatever its name promises.
        if (!backedUp)
            QFile::remove(gbkPath());
        QString outcome;
        if (QFile::rename(backupPath(), databasePath())) {
            try {
                ConnectDatabase();
            } catch (const Error& again) {
                outcome = QStringLiteral("; reconnecting failed: ") + again.message();
            }
        } else {
            outcome = QStringLiteral("; the database is in ") + backupPath();
        }
        throw Error(QStringLiteral("Database sweep failed: ") + e.message() + outcome);
    }
    // A database whose live data alone is past the threshold would otherwise
    // be cycled at every poll.
    sweepAbove_ = left > SweepThreshold ? 2 * left : SweepThreshold;
    ConnectDatabase();
    retryAt_ = QDateTime();
    completed = true;
}

// ---- event log ----------------------------------------------------------

void TDataPalisor::WriteLog(const QString& line)
{
    // The log must never stop the program: a line that cannot be written is lost.
    QFile log(logPath());
    if (!log.open(QIODevice::WriteOnly | QIODevice::Append))
        return;
    // Errors carry the server's own texts: their line breaks and other
    // controls are escaped, so that one entry stays one line.
    const QString entry = now().toString(Qt::ISODate) + QLatin1Char(' ') + OneLine(line) + QStringLiteral("\r\n");
    log.write(entry.toLatin1());
    log.flush();
}

// ---- announcement variables ---------------------------------------------

QString TDataPalisor::variable(const QString& key) const
{
    for (const QString& line : Variables) {
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        if (eq >= 0 && line.left(eq).compare(key, Qt::CaseInsensitive) == 0)
            return line.mid(eq + 1);
    }
    return QString();
}

void TDataPalisor::setVariable(const QString& key, const QString& value)
{
    for (qsizetype i = 0; i < Variables.size(); ++i) {
        const qsizetype eq = Variables[i].indexOf(QLatin1Char('='));
        if (eq >= 0 && Variables[i].left(eq).compare(key, Qt::CaseInsensitive) == 0) {
            // As a name=value list does: an empty value removes the line.
            if (value.isEmpty())
                Variables.removeAt(i);
            else
                Variables[i] = Variables[i].left(eq + 1) + value;
            return;
        }
    }
    if (!value.isEmpty())
        Variables.append(key + QLatin1Char('=') + value);
}

}  // namespace palisor
