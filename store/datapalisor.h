#pragma once

#include "store/databaseconf.h"
#include "store/history.h"
#include "store/livetable.h"

#include <QDateTime>
#include <QHash>
#include <QObject>
#include <QSqlDatabase>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <optional>

namespace palisor {

class RuleIndexes;
class DbEvents;
class KeptRecords;
struct KeptEvent;

// A folder that holds the data files itself (an installed copy's or a
// service's data folder) rather than in data/ below it.
struct DataFolder {
    QString path;
};

// A player as a poll of the server lists him.
struct PlayerRecord {
    QString clientId, name, address, port, ping;
};

// The data module: the connection to data/PALISOR.GDB, one live table object
// per table, the stored-procedure calls, the maintenance cycle, the rule
// look-ups and the announcement variable list. One instance for the run.
class TDataPalisor : public QObject {
    Q_OBJECT
public:
    // baseFolder holds data/; empty means the working folder.
    explicit TDataPalisor(const QString& baseFolder = QString(), QObject* parent = nullptr);
    explicit TDataPalisor(const DataFolder& folder, QObject* parent = nullptr);
    ~TDataPalisor() override;

    // The live file is compacted once it grows beyond this many bytes.
    static constexpr qint64 SweepThreshold = 10'000'000;
    // After a failed cycle the next waits this long, unless the file doubles.
    static constexpr int SweepRetrySeconds = 3600;
    // How long a cycle waits for every other attachment to let go before it
    // is put off to a later poll.
    static constexpr int LetGoSeconds = 5;
    static constexpr const char* DbUser = "SYSDBA";
    static constexpr const char* DbPassword = "quillstar";

    void DataModuleCreate();
    void DataModuleDestroy();
    void ConnectDatabase();
    void DisconnectDatabase();
    void SweepDatabase();

    // A further attachment to the same file for another thread, made on that
    // thread: the variables as at creation and every table open; the start-up
    // lines are the first attachment's to write.
    void OpenAttachment();
    // Each attachment reads from a snapshot taken when its transaction began,
    // so what another attachment committed since is unseen until then. Ends
    // the running transaction (it never holds changes: every change is
    // committed when made), starts a fresh one and re-reads the tables,
    // opening those that are closed and connecting first if need be.
    void Resynchronise(const QList<LiveTable*>& tables);
    // The same without re-reading anything, for an attachment that mostly
    // waits: the engine keeps every row version a running transaction might
    // still read, so a transaction held for days would keep every poll's
    // players and make each later poll slower.
    void RenewSnapshot();
    // The maintenance cycle moves the live file aside, so every other
    // attachment to it must be closed first and may come back after: release
    // returns once they are closed, or why one stays open (the cycle is then
    // put off to a later poll), or throws to skip the cycle; resume is called
    // when the file is back, told whether the cycle succeeded.
    void setOtherAttachments(std::function<QString()> release, std::function<void(bool completed)> resume);
    QList<LiveTable*> tables() const;   // the eight, in the order they open
    // Every attachment a cycle finds besides its own and those released
    // above, one line each ("palisorctl (process 12)"); empty when alone.
    QStringList OtherAttachments();
    // Makes, on the thread that calls it, another data module over the same
    // files, addressed the same way, working for the same server.
    std::function<std::unique_ptr<TDataPalisor>()> Maker() const;
    void WriteLog(const QString& line);
    // The database events (posted by the attachments as they commit, this
    // one included) this attachment hears from now on, each through
    // notified(). They are asked for again whenever it opens; events
    // committed while it was closed go unheard, so attached() says it opened.
    void Listen(const QStringList& events);
    // Whether every event asked for is heard from now on (the engine's first
    // notice of each has come).
    bool Listening() const;

    LiveTable* tblPlayers;
    LiveTable* tblBanned;
    LiveTable* tblMessages;
    LiveTable* tblRecent;
    LiveTable* tblSettings;
    LiveTable* tblImmune;
    LiveTable* tblIllegal;
    LiveTable* tblMapAlias;

    QStringList Variables;   // "$name$=value", eight lines
    QString VariableMark;    // "$"
    QString variable(const QString& key) const;   // key like "$servername$", case-blind
    void setVariable(const QString& key, const QString& value);

    static QString FixQuotes(const QString& text);
    // A player present and recently seen, in one commit.
    void RecordPlayer(const QString& clientId, const QString& name, const QString& address,
                      const QString& port, const QString& ping);
    // Players present and recently seen, in one commit; replacing, they are
    // everybody in PLAYERS (a poll's players).
    void RecordPlayers(const QList<PlayerRecord>& players, bool replacing);
    // The ban and its record in the penalty log are one commit.
    void BanPlayer(const QString& name, const QString& address, const Penalty& why = Penalty());
    bool IsImmune(const QString& name);
    bool IsBanned(const QString& name, const QString& address);
    bool IsIllegalName(const QString& name);
    int CountRows(LiveTable* table);
    void SortTable(const QString& column, LiveTable* table);
    void DeletePlayers();
    // One row of PLAYERS, by its client number; nothing when it has gone.
    void DeletePlayer(const QString& clientId);
    void FindPlayer(bool ask, QString& searchText, LiveTable* table);
    QString SelectMatches(const QString& resultColumn, const QString& keyColumn, LiveTable* table);
    QString LookupMapAlias(const QString& mapName);
    void tblMessagesAfterPost(LiveTable& table);

    // The penalty log and the server's samples (store/history.cpp). Both do
    // nothing on a database that could not gain their tables.
    void RecordEvent(const QString& kind, const Penalty& why, const QString& name, const QString& address);
    void RecordSample(const ServerSample& sample);
    // Whether the connected database has the penalty log and the samples.
    bool HasHistory() const;
    // Tells the database who makes the next change to BANNED and why, for the
    // record its triggers write; null clears it. Lasts until the next commit.
    void SetPenaltyContext(const Penalty* why);
    // Tells the database that the next change to BANNED only moves a name's
    // ban to the player's current address, which is no new ban. Lasts until
    // the next commit.
    void SetBanFollowsPlayer(bool follows);

    bool isConnected() const;
    QSqlDatabase database() const;

    // ---- a database server that stops, restarts or cannot be reached ----
    // (store/outage.cpp) How long an attempt to reconnect waits for the
    // server's host to take the connection.
    static constexpr int ReconnectProbeMs = 2000;
    // Whether the database server was found gone. Meanwhile the penalties,
    // bans, samples and players recorded are kept in memory (bounded) and
    // the rule look-ups answer from the lists as they were.
    bool Lost() const { return lost_; }
    // Takes note of an error: true when it says the server is gone; the
    // first such error is logged and told through databaseLost().
    bool NoteLoss(const QString& message);
    // While gone, one attempt to reconnect: the events are asked for again,
    // the tables read again and what was kept written out, then
    // databaseBack() tells it. True when back; a failed attempt says nothing.
    bool Reconnect();
    // The same without first checking that the server's host takes
    // connections, for a caller that checked (ServerProbe).
    bool ReconnectNow();
    // Lets go of a connection the server no longer serves for good, the log
    // saying how many records kept meanwhile are lost with it.
    void Abandon();
    // Opens the attachment afresh, asking for its events again: for one that
    // had nothing to record while its server was gone.
    void Reattach();
    // Builds the rule look-ups while the database can be read, so that they
    // can answer without it should it go.
    void PrepareRules();
    // The pings of the players last recorded (while gone, of those kept).
    QList<int> PlayerPings();

    // The game server this module works for (its SERVERS.ID): tblSettings
    // holds its settings row and tblPlayers its players, and the players,
    // samples and penalties on its players this module records are its. 0
    // before the first connect unless chosen: then the first server.
    int ServerId() const { return server_; }
    // Works for that server from now on; its settings and players are read
    // at once when connected.
    void SetServer(int id);
    // Where the database is, as the data folder's database.conf says (read
    // once, at the first look); on a server there is no file here to
    // compact or put back. Throws Error when database.conf cannot be used.
    const DatabaseConf& place() const;
    bool onServer() const { return place().onServer(); }
    QString dataFolder() const;     // absolute path of data/
    QString databasePath() const;   // data/PALISOR.GDB
    QString backupPath() const;     // data/PALISOR.BKP, the previous live file
    QString gbkPath() const;        // data/PALISOR.GBK, gbak's backup
    QString logPath() const;        // data/PALISOR.LOG
    QString upgradeCopyPath() const;   // data/PALISOR.UPG, the file as it was before an upgrade
    QString restoredPath() const;   // data/PALISOR.NEW, the cycle's compact copy

signals:
    void notified(const QString& event);
    // A connection to the file was opened (at start, or again after a cycle).
    void attached();
    // The cycle has the file to itself and begins.
    void cycleBegun();
    // The cycle was put off because the file was not let go (why says who
    // kept it); once, not at every poll that finds the same.
    void cyclePostponed(const QString& why);
    // The database server was found gone (error: what told), and is back
    // with the records kept meanwhile written (dropped: those that gave way).
    void databaseLost(const QString& error);
    void databaseBack(int written, int dropped);

private:
    // A write of the recording: done at once, or kept when the database is
    // gone or found gone by this very write.
    void writeOrKeep(const std::function<void()>& write, const std::function<void()>& keep);
    // Whether the penalty log and the samples are recorded (kept while gone).
    bool recordsHistory() const;
    // Writes a row of the penalty log, drawing its number first; a number
    // it has already is written only where no row has it yet.
    void writeEvent(KeptEvent& event, bool kept);
    // Writes a sample unless its server has one taken at that moment.
    void writeSample(const ServerSample& sample);
    void writeKept(int& written);
    // A rule look-up: online, or from memory when the database is gone.
    bool checkRule(const std::function<bool()>& online, const std::function<bool()>& fromMemory);
    int countRows(LiveTable* table);
    void resynchronise(const QList<LiveTable*>& tables);
    void writePlayers(const QList<PlayerRecord>& players, bool replacing);
    void writeBan(const QString& name, const QString& address, const Penalty& why);
    // Lets go of a connection the server no longer serves, tables included.
    void dropLostConnection();
    void initialiseVariables();
    // Refuses to connect while another attachment's cycle has the file away.
    void requireNoCycleElsewhere() const;
    // Posts the event on this attachment; quietly nothing when closed.
    void postEvent(const char* name);
    // Asks the others to let go and waits for them; who is left.
    QStringList othersAfterLetGo();
    void postpone(const QString& why);
    void connect(bool logged);
    void restoreMissingLiveFile();
    void openConnection();
    // Tells the database which server the attachment works for and scopes
    // the settings and players to it.
    void bindServer(QSqlDatabase& db);
    // The server a penalty was given on, for the penalty log; null for none.
    QVariant penaltyServer(const Penalty& why) const;
    // Converts samples an earlier Palisor stored in local time, once per
    // database; false when they could not be, so none may be added.
    bool convertLocalSamples();
    QString gbakCommand(const QString& mode, const QString& from, const QString& to) const;
    // Throws failure, followed by what gbak said, unless it made the file.
    void runGbak(const QString& mode, const QString& from, const QString& to, const QString& failure) const;
    void callProcedure(const QString& name, const QVariantList& inputs);
    void requireOpen(const LiveTable* table) const;
    qint64 expiredMark() const;
    struct NameChanges {
        qint64 newest = 0;
        qint64 rows = 0;
        bool operator==(const NameChanges&) const = default;
    };
    std::optional<NameChanges> nameChanges(const QString& list) const;
    void rereadRecent(const QString& name, const QString& address, bool recorded, qint64 mark);

    QString base_;
    QString data_;   // set when the data files are not in base_/data
    mutable std::optional<DatabaseConf> place_;
    QString connection_;
    std::unique_ptr<RuleIndexes> rules_;
    qint64 expiredMark_ = 0;   // RECENT_EXPIRED as of the last look
    // A cycle that leaves the file past the threshold raises the size the
    // next cycle waits for to twice what it left, for the rest of the run.
    qint64 sweepAbove_ = SweepThreshold;
    // After a failed cycle: when the next may run, or what size lets it run sooner.
    QDateTime retryAt_;
    qint64 retryAbove_ = 0;
    bool history_ = false;     // the database is at the latest schema version
    std::function<QString()> releaseOthers_;
    std::function<void(bool)> resumeOthers_;
    bool cycling_ = false;   // this module's cycle has the file
    QList<LiveTable*> openWhenClosed_;   // what the last disconnect closed
    QString postponed_;      // why the last cycle was put off, as logged
    // Distinct-name counts of the lists whose name changes the database
    // logs, each with the changes it had seen.
    bool namesLogged_ = false;
    struct NameCount {
        NameChanges changes;
        int count = 0;
    };
    QHash<QString, NameCount> nameCounts_;
    DbEvents* events_;
    int server_ = 0;
    bool lost_ = false;
    QString lostError_;   // what told it was gone
    bool writingOut_ = false;   // what was kept is being written after a reconnect
    std::unique_ptr<KeptRecords> kept_;
};

// The one data module of the running program, set by whoever creates it.
extern TDataPalisor* DataPalisor;

}  // namespace palisor
