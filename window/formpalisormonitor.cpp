// The main window's side of the server monitor: starting and stopping, the
// timed poll, the buttons, and what a poll shows.
#include "window/formpalisor.h"

#include "widgets/menuutils.h"
#include "editors/formactionresponse.h"
#include "monitor/monitorrules.h"
#include "window/playergrid.h"
#include "monitor/textrules.h"
#include "store/datapalisor.h"

#include <QLineEdit>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>

namespace palisor {

QString TformPalisor::HostText() const { return dbHost->text(); }
QString TformPalisor::PortText() const { return dbPort->text(); }
QString TformPalisor::PasswordText() const { return dbPswd->text(); }
QString TformPalisor::MaxPingText() const { return dbMaxPing->text(); }

QString TformPalisor::SendCommand(const QString& command) { return monitor_.SendCommand(command); }

bool TformPalisor::MonitorRunning() const { return StatusTimer->isActive(); }

void TformPalisor::SetMonitor(bool on)
{
    if (on) {
        const int scanTime = ToInteger(dbScanTime->text());
        monitor_.Start(scanTime);
        ProgressBar->setRange(0, scanTime);
        ProgressBar->setValue(0);
        const AnnouncementScheduler::TimerSetting announce = announcements_.StartAnnouncements();
        if (announce.enabled) {
            MsgTimer->setInterval(announce.interval);
            MsgTimer->start();
        }
        btnStart->setText(QStringLiteral("Stop"));
        data_.WriteLog(QStringLiteral("Started Server Monitor"));
        PollServer();
        repaint();
        return;
    }
    MsgTimer->stop();
    StatusTimer->stop();
    ProgressBar->setValue(0);
    btnStart->setText(QStringLiteral("Start"));
    EnableSettings(true);
    data_.WriteLog(QStringLiteral("Stopped Server Monitor"));
    repaint();
}

void TformPalisor::PollServer()
{
    StatusTimer->stop();
    try {
        RefreshServer();
    } catch (const std::exception& e) {
        StatusTimer->start();
        EnableCommands(true);
        if (StopsMonitor(QString::fromStdString(e.what())))
            SetMonitor(false);
        throw;
    }
    StatusTimer->start();
    EnableCommands(true);
}

void TformPalisor::RefreshServer() { monitor_.RefreshServer(); }

void TformPalisor::StatusTimerTimer()
{
    ProgressBar->setValue(ProgressBar->value() + 1);
    if (ProgressBar->value() == ProgressBar->maximum()) {
        try {
            PollServer();
            data_.SweepDatabase();
        } catch (...) {
            ProgressBar->setValue(0);
            throw;
        }
        ProgressBar->setValue(0);
    }
    repaint();
}

void TformPalisor::EnableSettings(bool on)
{
    for (QWidget* control : std::initializer_list<QWidget*>{btnStatus, btnClear, dbPswd, dbHost, dbPort, dbMaxPing, dbScanTime})
        control->setEnabled(on);
    miEdit->setEnabled(on);
    EnableCommands(on);
    repaint();
}

void TformPalisor::EnableCommands(bool on)
{
    PlayerGrid->setEnabled(on);
    btnExecCmd->setEnabled(on);
    btnStart->setEnabled(on);
}

void TformPalisor::ClearServerInfo()
{
    for (QLineEdit* box : {edHostName, edGameType, edPlyrCnt, edCurMap, edNextMap})
        box->clear();
    RefreshActionMenu();
}

void TformPalisor::ClearPlayers()
{
    data_.DeletePlayers();
    PlayerGrid->ArrangeColumns();
    ClearServerInfo();
}

void TformPalisor::RefreshActionMenu()
{
    PopupPlayers->clear();
    const bool players = data_.CountRows(data_.tblPlayers) > 0;
    miAction->setEnabled(players);
    if (players)
        CopyMenuItems(miAction, PopupPlayers);
    repaint();
}

void TformPalisor::BeginPlayerRebuild() { PlayerGrid->setVisible(false); }

void TformPalisor::EndPlayerRebuild()
{
    PlayerGrid->setVisible(true);
    if (data_.tblPlayers->isOpen())
        data_.tblPlayers->first();
    PlayerGrid->ArrangeColumns();
}

void TformPalisor::ShowServerInfo(ServerBox box, const QString& text)
{
    QLineEdit* target = nullptr;
    switch (box) {
    case ServerBox::HostName: target = edHostName; break;
    case ServerBox::GameType: target = edGameType; break;
    case ServerBox::PlyrCnt: target = edPlyrCnt; break;
    case ServerBox::CurMap: target = edCurMap; break;
    case ServerBox::NextMap: target = edNextMap; break;
    }
    target->setText(text);
    target->setCursorPosition(0);
}

void TformPalisor::UpdateVariables()
{
    palisor::UpdateVariables(data_, VariableBoxes{dbHost->text(), edHostName->text(), edGameType->text(),
                                                  edCurMap->text(), edNextMap->text()});
}

QString TformPalisor::SubstituteVariables(const QString& text)
{
    return palisor::SubstituteVariables(text, data_.Variables, data_.VariableMark);
}

void TformPalisor::MsgTimerTimer() { announcements_.MsgTimerTimer(); }

void TformPalisor::btnStartClick()
{
    ShowStatus(QString());
    SetMonitor(!MonitorRunning());
}

void TformPalisor::btnStatusClick()
{
    try {
        RefreshServer();
    } catch (...) {
        EnableSettings(true);
        throw;
    }
    EnableSettings(true);
}

void TformPalisor::btnClearClick() { ClearPlayers(); }

void TformPalisor::btnExecCmdClick()
{
    const QString command = edCmd->text();
    const QString reply = SendCommand(command);
    ShowResponse(reply, command, this);
}

}  // namespace palisor
