#pragma once

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <functional>

namespace palisor {

class TDataPalisor;

// Replaces the announcement variables in a text, as the announcement timer
// and the announcements editor send it. `variables` holds lines
// "$name$=value" (the data module's Variables), `mark` is the variable mark
// ("$"). Variables are replaced from left to right; a variable that occurs
// twice has its second occurrence replaced only when some other mark is
// left in the text (a second pass replaces it). Texts that break the rules
// shown to the administrator (stray marks around plain text, values holding
// marks) still come back after a bounded amount of work.
QString SubstituteVariables(const QString& text, const QStringList& variables, const QString& mark);

// The clock as the $time$ variable shows it: "h:mm AM" / "h:mm PM", the
// half-day mark always in English.
QString AnnouncementTime(const QDateTime& moment);

// The texts of the main window's boxes that feed the variables, as they
// stand at the refresh.
struct VariableBoxes {
    QString serverIp;     // dbHost
    QString serverName;   // edHostName
    QString gameType;     // edGameType
    QString currentMap;   // edCurMap
    QString nextMap;      // edNextMap
};

// Refreshes the eight values of data.Variables by key, each line keeping its
// place: the box texts (an empty box gives one blank, so the variable stays
// in the list and is still replaced), the clock (palisor::now()) and the
// counts of BANNED and RECENT. The main window's UpdateVariables calls it
// with its box texts.
void UpdateVariables(TDataPalisor& data, const VariableBoxes& boxes);

// The rotation of scheduled announcements over the rows of MESSAGES in SEQ
// order. The main window owns one, arms its MsgTimer as StartAnnouncements
// says, calls MsgTimerTimer from the timer and stops the timer when the
// monitor stops.
class AnnouncementScheduler {
public:
    // Sends one console command and returns the reply (the main window's
    // SendCommand); throws palisor::Error when the exchange fails.
    using SendFunction = std::function<QString(const QString& command)>;

    // How the main window sets up MsgTimer at the monitor's start.
    struct TimerSetting {
        bool enabled = false;   // start MsgTimer; false leaves it off
        int interval = 0;       // milliseconds, meaningful when enabled
    };

    AnnouncementScheduler(TDataPalisor& data, SendFunction send);

    // Reads MSGON and MSGTIME from the settings row. With announcements on,
    // the rotation restarts at the first row and the timer runs every
    // MSGTIME minutes. An interval of 0 minutes never fires, so the timer is
    // then left off (a zero-interval QTimer would fire continuously).
    TimerSetting StartAnnouncements();

    // One tick of MsgTimer: sends "say " and the NextAnnouncement-th row's
    // text (variables replaced) unless its SEQ is empty, moves the rotation
    // on, and puts MESSAGES back on the row it was on. A failed send passes
    // its error on and leaves NextAnnouncement where it was, so the same row
    // is tried again at the next tick.
    void MsgTimerTimer();

    // 1-based position, in SEQ order, of the row to send next.
    int NextAnnouncement = 1;

private:
    TDataPalisor& data_;
    SendFunction send_;
};

}  // namespace palisor
