// The main window on the offscreen platform over a real database, and against
// the simulator where it polls.
#include "tests/window/windowtest.h"

#include "store/databaseconf.h"
#include "store/firststart.h"
#include "tests/support/db/fbserver.h"

TEST_F(WindowTest, NumberBoxesKeepDigitsAndSettingsAreWrittenOnLeaving)
{
    Open();
    window->dbPort->setText("12a3");
    EXPECT_EQ(window->dbPort->text(), "123");
    window->dbPort->clear();
    EXPECT_EQ(window->dbPort->text(), "0");
    window->dbPort->setText("007");
    EXPECT_EQ(window->dbPort->text(), "7");

    window->dbPort->setText("27960");
    Leave(window->dbPort);
    EXPECT_EQ(Setting("PORT"), "27960");
    window->dbHost->setText("10.0.0.5");
    Leave(window->dbHost);
    EXPECT_EQ(Setting("ADDRESS"), "10.0.0.5");
    EXPECT_EQ(window->dbPswd->echoMode(), QLineEdit::Password);
    EXPECT_EQ(window->dbPswd->text(), "secret");
    EXPECT_EQ(window->dbPswd->displayText(), "******");
}

TEST_F(WindowTest, TitleClickSortsKeepsTheSelectionAndIsRememberedAcrossARestart)
{
    data = db.createDataModule();
    AddPlayer("01", "Zulu", "10.0.0.1");
    AddPlayer("02", "Alpha", "10.0.0.2");
    AddPlayer("03", "Mike", "10.0.0.3");
    Open();
    const int port = data->tblPlayers->fieldIndex("PORT");
    EXPECT_TRUE(window->PlayerGrid->isColumnHidden(port));
    data->tblPlayers->setCurrentRow(2);
    ASSERT_EQ(data->tblPlayers->text("NAME"), "Mike");

    emit window->PlayerGrid->horizontalHeader()->sectionClicked(data->tblPlayers->fieldIndex("NAME"));
    EXPECT_EQ(data->tblPlayers->text("NAME"), "Mike");
    EXPECT_EQ(window->PlayerGrid->currentIndex().row(), data->tblPlayers->currentRow());
    EXPECT_EQ(data->tblPlayers->value(0, "NAME").toString(), "Alpha");
    EXPECT_TRUE(window->PlayerGrid->isColumnHidden(port));
    EXPECT_EQ(Setting("SORTED"), "NAME");

    window.reset();
    data.reset();
    data = db.createDataModule();
    AddPlayer("04", "Bravo", "10.0.0.4");
    AddPlayer("05", "Able", "10.0.0.5");
    Open();
    EXPECT_EQ(data->tblPlayers->sortColumn(), "NAME");
    EXPECT_EQ(data->tblPlayers->value(0, "NAME").toString(), "Able");
}

TEST_F(WindowTest, ActionMenuFollowsThePlayerTable)
{
    Open();
    EXPECT_FALSE(window->miAction->isEnabled());
    EXPECT_TRUE(window->PopupPlayers->actions().isEmpty());

    // A right click on an empty grid opens nothing.
    window->show();
    QWidget* cells = window->PlayerGrid->viewport();
    const QPointF at(5, 5);
    QMouseEvent press(QEvent::MouseButtonPress, at, cells->mapToGlobal(at), Qt::RightButton, Qt::RightButton, Qt::NoModifier);
    QMouseEvent release(QEvent::MouseButtonRelease, at, cells->mapToGlobal(at), Qt::RightButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(cells, &press);
    QApplication::sendEvent(cells, &release);
    EXPECT_FALSE(window->PopupPlayers->isVisible());

    AddPlayer("01", "Someone", "10.0.0.1");
    window->RefreshActionMenu();
    EXPECT_TRUE(window->miAction->isEnabled());
    QStringList captions;
    for (QAction* item : window->PopupPlayers->actions())
        captions.append(item->text());
    EXPECT_EQ(captions, (QStringList{"&Kick Player", "&Ban Player", "&Dump User"}));

    window->btnClear->click();
    test::Settle(window->Monitor());
    EXPECT_EQ(data->tblPlayers->rowCount(), 0);
    EXPECT_FALSE(window->miAction->isEnabled());
}

TEST_F(WindowTest, CtrlDeleteRemovesTheRowAfterConfirmation)
{
    data = db.createDataModule();
    AddPlayer("01", "One", "10.0.0.1");
    AddPlayer("02", "Two", "10.0.0.2");
    Open();
    dialogs.answerOkCancel(false);
    dialogs.answerOkCancel(true);
    QKeyEvent key(QEvent::KeyPress, Qt::Key_Delete, Qt::ControlModifier);
    QApplication::sendEvent(window->PlayerGrid, &key);
    test::Settle(window->Monitor());
    EXPECT_EQ(data->tblPlayers->rowCount(), 2);
    QApplication::sendEvent(window->PlayerGrid, &key);
    test::Settle(window->Monitor());
    EXPECT_EQ(data->tblPlayers->rowCount(), 1);
    EXPECT_EQ(data->tblPlayers->text("CLIENTID"), "02");
    EXPECT_EQ(dialogs.lastCall().text, "Delete record?");
}

TEST_F(WindowTest, PlacementIsWrittenOnExitAndRestoredAtTheSamePixelsPerInch)
{
    Open();
    EXPECT_EQ(window->size(), QSize(553, 544));
    window->show();
    window->setGeometry(40, 60, 600, 500);
    window->miExitClick();
    EXPECT_TRUE(window->isHidden());
    window.reset();

    IniFile ini(TformPalisor::IniPath());
    EXPECT_EQ(ini.Read("Main", "NormalPos").value_or("-"), "40,60,640,560");
    EXPECT_EQ(ini.Read("Main", "ShowCmd").value_or("-"), "1");
    EXPECT_TRUE(ini.Read("Main", "Flags"));
    EXPECT_TRUE(ini.Read("Main", "Color"));
    const QString ppi = ini.Read("Main", "PixelsPerInch").value_or("-");

    Open();
    EXPECT_EQ(window->geometry(), QRect(40, 60, 600, 500));
    window.reset();

    ini.Write("Main", "PixelsPerInch", QString::number(ppi.toInt() + 24));
    ini.Save();
    Open();
    EXPECT_EQ(window->size(), QSize(553, 544));
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    EXPECT_EQ(window->geometry().center(), QRect(QPoint(), QSize(553, 544)).translated(
        screen.center() - QRect(QPoint(), QSize(553, 544)).center()).center());
}

TEST_F(WindowTest, CloseHidesIntoTheTrayAndTrayExitSavesThePosition)
{
    Open<TrayWindow>();
    window->show();
    window->setGeometry(30, 40, 560, 520);
    window->close();
    EXPECT_TRUE(window->isHidden());
    EXPECT_FALSE(window->ExitRequested);
    EXPECT_FALSE(QFile::exists(TformPalisor::IniPath()));

    window->PopupTrayPopup();
    EXPECT_TRUE(window->miRestore->isVisible());
    window->miRestoreClick();
    EXPECT_TRUE(window->isVisible());
    window->PopupTrayPopup();
    EXPECT_FALSE(window->miRestore->isVisible());

    window->setWindowState(Qt::WindowMinimized);
    QCoreApplication::processEvents();
    EXPECT_TRUE(window->isHidden());
    EXPECT_FALSE(window->isMinimized());
    // Exit from the tray ends the message loop while the window is hidden.
    QTimer::singleShot(0, window->miTrayExit, &QAction::trigger);
    QTimer patience;
    patience.callOnTimeout([] { QCoreApplication::exit(1); });
    patience.start(5000);
    EXPECT_EQ(QApplication::exec(), 0);
    EXPECT_TRUE(window->ExitRequested);
    EXPECT_EQ(IniFile(TformPalisor::IniPath()).Read("Main", "NormalPos").value_or("-"), "30,40,590,560");
}

// A desktop whose notification area appears after the window was shown.
class LateTrayWindow : public TformPalisor {
public:
    using TformPalisor::TformPalisor;
    bool tray = false;

protected:
    bool TrayAvailable() const override { return tray; }
};

TEST_F(WindowTest, TheIconAppearsWithALateTrayAndTheWindowHidesOnlyBehindIt)
{
    Open<LateTrayWindow>();
    auto& late = static_cast<LateTrayWindow&>(*window);
    late.show();
    late.setWindowState(Qt::WindowMinimized);
    QCoreApplication::processEvents();
    EXPECT_FALSE(late.tiPalisor->isVisible());
    EXPECT_FALSE(late.isHidden());

    late.setWindowState(Qt::WindowNoState);
    late.tray = true;
    late.setWindowState(Qt::WindowMinimized);
    QCoreApplication::processEvents();
    EXPECT_TRUE(late.tiPalisor->isVisible());
    EXPECT_TRUE(late.isHidden());
}

TEST_F(WindowTest, ALongMessageNeverWidensTheWindow)
{
    Open<TrayWindow>();
    window->show();
    const int width = window->width();
    const QString message = QStringLiteral("Unable to commit transaction: ") + QString(180, QLatin1Char('x'));
    window->ApplicationException(message);
    QCoreApplication::processEvents();
    EXPECT_EQ(window->width(), width);
    EXPECT_EQ(window->StatusText(), message);
    EXPECT_EQ(window->StatusPanel->toolTip(), message);
    EXPECT_LT(window->StatusPanel->text().size(), message.size());
}

TEST_F(WindowTest, WithoutATrayCloseEndsTheProgramAndTheStatusBarSaysSo)
{
    Open();
    window->show();
    EXPECT_EQ(window->StatusText(), "No system tray: Minimize and Close act on the window itself");
    window->close();
    EXPECT_TRUE(window->ExitRequested);
    EXPECT_TRUE(QFile::exists(TformPalisor::IniPath()));

    // An error of the window's creation stays in sight.
    window.reset();
    Open({{"SORTED", "NOSUCHFIELD"}});
    window->show();
    EXPECT_TRUE(window->StatusText().contains("NOSUCHFIELD")) << window->StatusText().toStdString();
}

TEST_F(WindowTest, SessionEndExitsWithoutAQuestion)
{
    Open<TrayWindow>();
    window->show();
    window->ShutdownQuery();
    EXPECT_TRUE(window->ExitRequested);
    EXPECT_TRUE(window->isHidden());
    EXPECT_TRUE(QFile::exists(TformPalisor::IniPath()));
    EXPECT_TRUE(dialogs.calls().empty());
}

TEST_F(WindowTest, MonitorRunsAPollAndLocksTheSettings)
{
    StartServer(QStringLiteral(R"({"players": [{"slot": 4, "name": "Sgt.Pepper", "address": "203.0.113.7", "port": 12203, "ping": 48}],
                                   "variables": {"sv_hostname": "Main Street", "mapname": "obj/obj_team2"}})"));
    Open({{"SCANTIME", "2"}});
    window->btnStart->click();
    test::Settle(window->Monitor());
    EXPECT_TRUE(window->MonitorRunning());
    EXPECT_EQ(window->btnStart->text(), "Stop");
    EXPECT_FALSE(window->dbHost->isEnabled());
    EXPECT_FALSE(window->btnStatus->isEnabled());
    EXPECT_TRUE(window->btnExecCmd->isEnabled());
    EXPECT_EQ(window->edHostName->text(), "Main Street");
    EXPECT_EQ(window->edPlyrCnt->text(), "1/32");
    EXPECT_EQ(window->edCurMap->text(), "obj_team2");
    EXPECT_EQ(data->tblPlayers->text("CLIENTID"), "04");
    EXPECT_TRUE(window->miAction->isEnabled());
    EXPECT_EQ(data->variable("$servername$"), "Main Street");

    // The second tick of a two-second scan polls again and starts the count over.
    sim.clearLog();
    test::Tick(window->Monitor());
    EXPECT_TRUE(sim.commandTexts().isEmpty());
    EXPECT_EQ(window->ProgressBar->value(), 1);
    test::Tick(window->Monitor());
    EXPECT_EQ(sim.commandTexts().mid(0, 2), (QStringList{"status", "clientban"}));
    EXPECT_EQ(window->ProgressBar->value(), 0);

    window->btnStart->click();
    test::Settle(window->Monitor());
    EXPECT_FALSE(window->MonitorRunning());
    EXPECT_EQ(window->btnStart->text(), "Start");
    EXPECT_TRUE(window->dbHost->isEnabled());
}

TEST_F(WindowTest, RefusedPasswordStopsTheMonitorAfterItsFirstPoll)
{
    StartServer(QStringLiteral(R"({"players": []})"), QStringLiteral("other"));
    Open();
    window->btnStart->click();
    test::Settle(window->Monitor());
    EXPECT_FALSE(window->MonitorRunning());
    EXPECT_EQ(window->btnStart->text(), "Start");
    EXPECT_TRUE(window->dbPswd->isEnabled());
    EXPECT_TRUE(window->btnStatus->isEnabled());
    EXPECT_EQ(window->StatusText(), "Bad rconpassword.");
    EXPECT_TRUE(dialogs.calls().empty());

    // A manual Status reports the same, and no dialog either.
    window->btnStatus->click();
    test::Settle(window->Monitor());
    EXPECT_EQ(window->StatusText(), "Bad rconpassword.");
    EXPECT_TRUE(window->btnStart->isEnabled());
    EXPECT_TRUE(dialogs.calls().empty());
}

TEST_F(WindowTest, SilentServerTimesOutAndTheMonitorKeepsRunning)
{
    StartServer(QStringLiteral(R"({"silent": true})"));
    Open();
    window->btnStart->click();
    test::Settle(window->Monitor());
    EXPECT_TRUE(window->MonitorRunning());
    EXPECT_EQ(window->btnStart->text(), "Stop");
    EXPECT_EQ(window->StatusText(), "Command Timed Out");
    EXPECT_TRUE(window->btnStart->isEnabled());
}

TEST_F(WindowTest, ZeroScanTimeCannotStart)
{
    Open({{"SCANTIME", "0"}});
    window->btnStart->click();
    test::Settle(window->Monitor());
    EXPECT_FALSE(window->MonitorRunning());
    EXPECT_EQ(window->btnStart->text(), "Start");
    EXPECT_FALSE(window->StatusText().isEmpty());
    EXPECT_TRUE(window->dbScanTime->isEnabled());
}

TEST_F(WindowTest, ExecCmdShowsTheReplyUnderTheCommand)
{
    StartServer(QStringLiteral(R"({"players": []})"));
    Open();
    window->edCmd->setText("say hello");
    QStringList captions;
    CloseModals(captions);
    window->btnExecCmd->click();
    test::Settle(window->Monitor());
    EXPECT_EQ(captions, QStringList{"Results for say hello"});
    EXPECT_EQ(sim.commandTexts(), QStringList{"say hello"});
}

TEST_F(WindowTest, EditMenuOpensEveryListWindowModally)
{
    Open();
    EXPECT_TRUE(window->miEdit->isEnabled());
    for (QAction* item : window->miEdit->actions()) {
        bool opened = false;
        QTimer::singleShot(0, [&] {
            QWidget* list = QApplication::activeModalWidget();
            opened = list != nullptr;
            if (list)
                list->close();
        });
        item->trigger();
        EXPECT_TRUE(opened) << item->text().toStdString();
    }
}

// What the engine's thread brings: requests that wait their turn, and ends
// that come after the exchange in progress.

TEST_F(WindowTest, StopDuringAPollEndsItAfterTheCurrentExchange)
{
    StartServer(QStringLiteral(R"({"players": [{"slot": 1, "name": "Alice", "address": "203.0.113.5", "port": 1, "ping": 40}]})"));
    Open();
    rcon.ExchangePause = 1000;
    window->btnStart->click();
    ASSERT_TRUE(sim.waitForCommands(1));
    // The window has seen the poll begin: the commands wait, Stop does not.
    QCoreApplication::processEvents();
    EXPECT_FALSE(window->btnExecCmd->isEnabled());
    ASSERT_TRUE(window->btnStart->isEnabled());
    window->btnStart->click();
    test::Settle(window->Monitor());
    EXPECT_EQ(sim.commandTexts(), QStringList{"status"});
    EXPECT_FALSE(window->MonitorRunning());
    EXPECT_EQ(window->btnStart->text(), "Start");
    EXPECT_TRUE(window->dbHost->isEnabled());
    EXPECT_EQ(window->StatusText(), "");
}

TEST_F(WindowTest, ExitDuringASilentWaitEndsTheEngineThenTheDataModule)
{
    StartServer(QStringLiteral(R"({"silent": true})"));
    data = db.createDataModule();
    AddPlayer("01", "Someone", "10.0.0.1");
    Open();
    window->btnStart->click();
    ASSERT_TRUE(sim.waitForCommands(1));
    window->miExitClick();
    EXPECT_TRUE(window->isHidden());
    window.reset();
    data->DataModuleDestroy();
    EXPECT_EQ(sim.commandTexts(), QStringList{"status"});
    data.reset();
    EXPECT_EQ(db.createDataModule()->tblPlayers->rowCount(), 0);
}

TEST_F(WindowTest, RequestsMadeDuringAPollRunAfterItInTurn)
{
    StartServer(QStringLiteral(R"({"players": [{"slot": 3, "name": "Bob", "address": "203.0.113.9", "port": 1, "ping": 60}]})"));
    data = db.createDataModule();
    AddPlayer("03", "Bob", "203.0.113.9");
    data->tblMessages->insert();
    data->tblMessages->setValue("ANNOUNCEMENT", QStringLiteral("Hello"));
    data->tblMessages->post();
    Open({{"MSGON", "True"}, {"MSGTIME", "5"}});
    rcon.ExchangePause = 200;
    window->btnStart->click();
    ASSERT_TRUE(sim.waitForCommands(1));
    dialogs.answerInput(QStringLiteral("ADMIN DECISION"));
    window->actKick->trigger();
    window->actDumpuser->trigger();
    // The announcement timer falls due meanwhile.
    window->Monitor().post([](MonitorEngine& engine) { engine.MsgTimerTimer(); });
    // Ctrl+Delete on the row the poll is recording again.
    dialogs.answerOkCancel(true);
    QKeyEvent remove(QEvent::KeyPress, Qt::Key_Delete, Qt::ControlModifier);
    QApplication::sendEvent(window->PlayerGrid, &remove);
    QStringList captions;
    CloseModals(captions);
    test::Settle(window->Monitor());
    EXPECT_EQ(data->tblPlayers->rowCount(), 0);

    const QStringList sent = sim.commandTexts();
    const qsizetype kick = sent.indexOf("say Kicking player Bob for ADMIN DECISION");
    ASSERT_GT(kick, 0);
    EXPECT_TRUE(sent.mid(0, kick).contains("serverinfo"));
    EXPECT_EQ(sent.mid(kick), (QStringList{"say Kicking player Bob for ADMIN DECISION", "clientkick 03",
                                           "dumpuser \"Bob", "say Hello"}));
    EXPECT_EQ(dialogs.texts(ScriptedDialogs::Kind::Message), QStringList{"Command Executed\r\n"});
    EXPECT_EQ(captions, QStringList{"Results for dumpuser \"Bob\""});
    // The engine's attachment recorded the kick as the administrator's.
    data->Resynchronise({});
    EXPECT_EQ(test::RecordedEvents(*data), QStringList{"KICK|03|Bob|203.0.113.9|ADMIN DECISION|admin"});
    EXPECT_EQ(test::RecordedSamples(*data).value(0), "1/32 mohdm1 60 60");
}

TEST_F(WindowTest, SettingsAndListsChangedWhileStoppedReachTheNextStart)
{
    StartServer(QStringLiteral(R"({"players": [{"slot": 2, "name": "BadCamper", "address": "203.0.113.2", "port": 1, "ping": 40}]})"));
    Open({{"PORT", "1"}});
    window->dbPort->setText(QString::number(port));
    Leave(window->dbPort);
    QTimer::singleShot(0, [this] {
        data->tblIllegal->insert();
        data->tblIllegal->setValue("NAME", QStringLiteral("camper"));
        data->tblIllegal->post();
        QApplication::activeModalWidget()->close();
    });
    window->miIllegal->trigger();
    window->btnStart->click();
    test::Settle(window->Monitor());
    EXPECT_EQ(sim.commandTexts().mid(0, 2), (QStringList{"status", "clientban"}));
    EXPECT_TRUE(sim.commandTexts().contains("clientkick 02"));
}

// Another program's commits reach the window: a setting shows in its box
// while it does not monitor, and its running monitor enforces a new ban at
// the next poll.
TEST_F(WindowTest, AnotherProgramsCommitsReachTheBoxesAndTheRunningMonitor)
{
    StartServer(QStringLiteral(R"({"players": [{"slot": 4, "name": "Sgt.Pepper", "address": "203.0.113.7", "port": 1, "ping": 48}]})"));
    Open({{"SCANTIME", "1"}});
    const auto waitFor = [](const std::function<bool()>& done) {
        for (QDeadlineTimer deadline(5000); !done() && !deadline.hasExpired();)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    };
    auto other = db.createDataModule();
    // A box being typed into keeps what is typed.
    window->dbScanTime->end(false);
    window->dbScanTime->insert(QStringLiteral("5"));
    other->tblSettings->edit();
    other->tblSettings->setValue("MAXPING", QStringLiteral("180"));
    other->tblSettings->post();
    waitFor([this] { return window->dbMaxPing->text() == "180"; });
    EXPECT_EQ(window->dbMaxPing->text(), "180");
    EXPECT_EQ(window->dbScanTime->text(), "15");
    window->dbScanTime->setText(QStringLiteral("1"));

    window->btnStart->click();
    test::Settle(window->Monitor());
    bool heard = false;
    QObject::connect(&window->Monitor().engine(), &MonitorEngine::listsCommitted, window.get(), [&] { heard = true; });
    other->BanPlayer(QStringLiteral("Somebody"), QStringLiteral("203.0.113.7"));
    waitFor([&] { return heard; });
    ASSERT_TRUE(heard);
    sim.clearLog();
    test::Tick(window->Monitor());
    EXPECT_TRUE(sim.commandTexts().contains("clientkick 04")) << sim.commandTexts().join(", ").toStdString();
}

// The list windows open while the monitor runs: a ban typed into one kicks
// at the next poll, and the maintenance cycle, which takes the window's
// attachment along, waits until none is open; one asked for during the
// cycle opens once the file is back.
TEST_F(WindowTest, TheMaintenanceCycleTakesTheWindowsAttachmentAlongOnceNoListWindowIsOpen)
{
    StartServer(QStringLiteral(R"({"players": [{"slot": 1, "name": "Alice", "address": "203.0.113.5", "port": 1, "ping": 40},
                                                {"slot": 2, "name": "Bob", "address": "203.0.113.9", "port": 1, "ping": 40}]})"));
    data = db.createDataModule();
    // A file past the threshold, as page allocation leaves it.
    data->DisconnectDatabase();
    ASSERT_TRUE(QFile(data->databasePath()).resize(TDataPalisor::SweepThreshold + 1));
    data->ConnectDatabase();
    Open({{"SCANTIME", "1"}});
    const auto fileSize = [this] { return QFileInfo(data->databasePath()).size(); };
    // What the settings boxes show while the window's attachment is closed;
    // a list asked for then, and what the administrator sees meanwhile.
    QString portDuringCycle;
    bool askDuringCycle = false;
    QStringList waitShown;
    qint64 sizeWhenListOpened = -1;
    QTimer closer;
    QObject::connect(&closer, &QTimer::timeout, [&] {
        if (auto* wait = qobject_cast<QProgressDialog*>(QApplication::activeModalWidget())) {
            waitShown << wait->labelText();
        } else if (QWidget* list = QApplication::activeModalWidget()) {
            sizeWhenListOpened = fileSize();
            list->close();
        }
    });
    QObject::connect(&window->Monitor().engine(), &MonitorEngine::releaseRequested, window.get(), [&] {
        portDuringCycle = window->dbPort->text();
        if (std::exchange(askDuringCycle, false)) {
            closer.start(5);
            window->miBanned->trigger();
        }
    });
    bool heard = false;
    QObject::connect(&window->Monitor().engine(), &MonitorEngine::listsCommitted, window.get(), [&] { heard = true; });
    window->btnStart->click();
    test::Settle(window->Monitor());
    ASSERT_TRUE(window->miEdit->isEnabled());
    sim.clearLog();
    QTimer::singleShot(0, [&] {
        data->tblBanned->insert();
        data->tblBanned->setValue("NAME", QStringLiteral("Bob"));
        data->tblBanned->setValue("ADDRESS", QStringLiteral("203.0.113.9"));
        data->tblBanned->post();
        Eventually([&] { return heard; });
        test::Tick(window->Monitor());
        test::Tick(window->Monitor());
        QApplication::activeModalWidget()->close();
    });
    window->miBanned->trigger();
    EXPECT_TRUE(sim.commandTexts().contains("clientkick 02")) << sim.commandTexts().join(", ").toStdString();
    EXPECT_EQ(fileSize(), TDataPalisor::SweepThreshold + 1);
    QFile log(data->logPath());
    ASSERT_TRUE(log.open(QIODevice::ReadOnly));
    EXPECT_EQ(QString::fromLatin1(log.readAll()).count("Database Sweep postponed: a list window is open"), 1);

    askDuringCycle = true;
    test::Tick(window->Monitor());
    EXPECT_LT(fileSize(), TDataPalisor::SweepThreshold);
    EXPECT_EQ(waitShown.value(0), "The database is being compacted. The list opens when it is back.");
    closer.stop();
    EXPECT_TRUE(sizeWhenListOpened > 0 && sizeWhenListOpened < TDataPalisor::SweepThreshold) << sizeWhenListOpened;
    EXPECT_EQ(window->StatusText(), "");
    EXPECT_EQ(portDuringCycle, QString::number(port));
    EXPECT_EQ(data->tblPlayers->text("NAME"), "Alice");

    window->btnStart->click();
    test::Settle(window->Monitor());
    window->dbHost->setText("127.0.0.2");
    Leave(window->dbHost);
    EXPECT_EQ(Setting("ADDRESS"), "127.0.0.2");
}

// Another program's cycle (on a thread here, as palisor-monitor runs it):
// the idle window and its engine let go of the file and come back by
// themselves; a list window open keeps the window's attachment, and the
// cycle is put off.
TEST_F(WindowTest, AnIdleWindowLetsGoForAnotherProgramsCycleUnlessAListIsOpen)
{
    StartServer(QStringLiteral(R"({"players": []})"));
    data = db.createDataModule();
    AddPlayer("01", "Alice", "203.0.113.5");
    data->DisconnectDatabase();
    ASSERT_TRUE(QFile(data->databasePath()).resize(TDataPalisor::SweepThreshold + 1));
    data->ConnectDatabase();
    Open();
    test::Settle(window->Monitor());
    QThread thread;
    thread.start();
    QObject onThread;
    onThread.moveToThread(&thread);
    std::unique_ptr<TDataPalisor> cycler;
    qsizetype others = -1;
    const auto there = [&](const std::function<void()>& work) {
        std::atomic<bool> done{false};
        QMetaObject::invokeMethod(&onThread, [&] { work(); done = true; });
        while (!done)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    };
    QTimer::singleShot(0, [&] {
        there([&] {
            cycler = std::make_unique<TDataPalisor>(db.folder());
            cycler->OpenAttachment();
            cycler->SweepDatabase();
        });
        QApplication::activeModalWidget()->close();
    });
    window->miImmune->trigger();
    EXPECT_EQ(QFileInfo(data->databasePath()).size(), TDataPalisor::SweepThreshold + 1);
    there([&] { cycler->SweepDatabase(); });
    EXPECT_LT(QFileInfo(data->databasePath()).size(), TDataPalisor::SweepThreshold);
    for (QDeadlineTimer deadline(10000); others != 2 && !deadline.hasExpired();)
        there([&] { others = cycler->OtherAttachments().size(); });
    EXPECT_EQ(others, 2);
    EXPECT_EQ(data->tblPlayers->text("NAME"), "Alice");
    there([&] { cycler.reset(); });
    thread.quit();
    thread.wait();
    window->btnStatus->click();
    test::Settle(window->Monitor());
    EXPECT_EQ(window->StatusText(), "");
}

TEST_F(WindowTest, StartAndStatusLockTheSettingsAsTheyAreAsked)
{
    StartServer(QStringLiteral(R"({"players": []})"));
    Open();
    // The engine is busy with slower requests meanwhile.
    QSemaphore first, second, statusDone;
    window->Monitor().post([&](MonitorEngine&) { first.acquire(); });
    window->btnStatus->click();
    window->Monitor().post([&](MonitorEngine&) {
        statusDone.release();
        second.acquire();
    });
    window->btnStart->click();
    EXPECT_FALSE(window->dbScanTime->isEnabled());

    // The Status has ended; the Start still waits.
    first.release();
    statusDone.acquire();
    QCoreApplication::processEvents();
    EXPECT_FALSE(window->dbHost->isEnabled());
    EXPECT_TRUE(window->btnExecCmd->isEnabled());

    second.release();
    test::Settle(window->Monitor());
    EXPECT_TRUE(window->MonitorRunning());
    EXPECT_FALSE(window->dbScanTime->isEnabled());
}

TEST_F(WindowTest, ExitEmptiesThePlayersAPollRecordedSinceTheWindowLooked)
{
    StartServer(QStringLiteral(R"({"players": [{"slot": 1, "name": "Alice", "address": "203.0.113.5", "port": 1, "ping": 40}]})"));
    Open({{"SCANTIME", "1"}});
    window->btnStart->click();
    test::Settle(window->Monitor());
    ASSERT_EQ(data->tblPlayers->text("NAME"), "Alice");
    // The next poll rewrites PLAYERS while the window handles nothing.
    QSemaphore polled;
    window->Monitor().post([&](MonitorEngine& engine) {
        engine.StatusTimerTimer();
        polled.release();
    });
    polled.acquire();
    window->miExitClick();
    window.reset();
    data->DataModuleDestroy();
    data.reset();
    EXPECT_EQ(db.createDataModule()->tblPlayers->rowCount(), 0);
}

TEST_F(WindowTest, ConfirmedActionsQueuedAtExitAreDoneUnlessTheServerFails)
{
    StartServer(QStringLiteral(R"({"players": [{"slot": 3, "name": "Bob", "address": "203.0.113.9", "port": 1, "ping": 60}]})"));
    data = db.createDataModule();
    AddPlayer("03", "Bob", "203.0.113.9");
    const auto exitWithActionsQueued = [this] {
        QSemaphore busy;
        window->Monitor().post([&busy](MonitorEngine&) { busy.acquire(); });
        dialogs.answerInput(QStringLiteral("ADMIN DECISION"));
        window->actKick->trigger();
        dialogs.answerInput(QStringLiteral("CHEATING"));
        window->actBan->trigger();
        window->miExitClick();
        busy.release();
        window.reset();
    };
    Open();
    exitWithActionsQueued();
    EXPECT_EQ(sim.commandTexts(), (QStringList{"say Kicking player Bob for ADMIN DECISION", "clientkick 03",
                                               "say Kicking player Bob for CHEATING", "clientkick 03"}));
    data->Resynchronise({});
    EXPECT_EQ(test::RecordedEvents(*data), (QStringList{"KICK|03|Bob|203.0.113.9|ADMIN DECISION|admin",
                                                       "BAN|03|Bob|203.0.113.9|CHEATING|admin",
                                                       "KICK|03|Bob|203.0.113.9|CHEATING|admin"}));

    // A refusal ends the first; the next is dropped without trying, and both are logged.
    sim.clearLog();
    QFile::remove(data->logPath());
    Open({{"PASSWORD", "wrong"}});
    exitWithActionsQueued();
    EXPECT_EQ(sim.commandTexts(), QStringList{"say Kicking player Bob for ADMIN DECISION"});
    QFile log(data->logPath());
    ASSERT_TRUE(log.open(QIODevice::ReadOnly));
    const QByteArray lines = log.readAll();
    EXPECT_TRUE(lines.contains("Exception: Bad rconpassword.")) << lines.constData();
    EXPECT_TRUE(lines.contains("Dropped at exit after a failed exchange: ban of Bob at 203.0.113.9 (CHEATING)"))
        << lines.constData();
}

TEST_F(WindowTest, ALoopEndedByASignalEndsTheEngineWorkAndHidesTheWindow)
{
    StartServer(QStringLiteral(R"({"players": []})"));
    Open({{"SCANTIME", "1"}});
    window->show();
    window->btnStart->click();
    test::Settle(window->Monitor());
    // As SIGTERM or SIGHUP ends the loop, with no Exit before it.
    QTimer::singleShot(0, [] { QCoreApplication::exit(0); });
    QApplication::exec();
    EXPECT_TRUE(window->isHidden());
    EXPECT_TRUE(window->ExitRequested);
    // The exit pause follows: after the exchange in progress, timer ticks
    // start no poll.
    test::Settle(window->Monitor());
    sim.clearLog();
    test::Tick(window->Monitor());
    EXPECT_TRUE(sim.commandTexts().isEmpty());
}

TEST_F(WindowTest, AServerAnotherProgramMonitorsIsWatchedFromWhatItsPollsStore)
{
    StartServer(QStringLiteral(R"({"players": [{"slot": 3, "name": "Bob", "address": "203.0.113.9", "port": 1, "ping": 60}]})"));
    data = db.createDataModule();
    OtherMonitor other(db);
    // A claim a few seconds from going stale: watched from the start, then
    // let go when no poll renews it in time.
    other.Claim(QDateTime::currentDateTimeUtc().addSecs(-56), 0);
    Open();
    ASSERT_TRUE(window->Watching());
    const QString who = QStringLiteral("The server %1:%2 is monitored by palisor-monitor on gamehost (process 917) since ")
                            .arg(window->dbHost->text(), window->dbPort->text());
    EXPECT_TRUE(window->StatusText().startsWith(who)) << window->StatusText().toStdString();
    EXPECT_FALSE(window->dbHost->isEnabled());
    EXPECT_FALSE(window->btnStatus->isEnabled());
    EXPECT_TRUE(window->miEdit->isEnabled());
    ASSERT_TRUE(Eventually([&] { return !window->Watching(); }));
    EXPECT_TRUE(window->StatusText().startsWith("palisor-monitor on gamehost (process 917) has not polled the server since "))
        << window->StatusText().toStdString();
    EXPECT_TRUE(window->dbHost->isEnabled());

    // The late monitor polls after all, renewing its claim: heard, not
    // looked for.
    other.Poll(QStringLiteral("obj_team2"), {"03", "Bob", "203.0.113.9"});
    ASSERT_TRUE(Eventually([&] { return window->edCurMap->text() == "obj_team2"; }));
    EXPECT_TRUE(window->Watching());
    EXPECT_EQ(window->edHostName->text(), "Main Street");
    EXPECT_EQ(window->edPlyrCnt->text(), "1/32");
    EXPECT_EQ(data->tblPlayers->text("NAME"), "Bob");
    EXPECT_TRUE(window->miAction->isEnabled());
    EXPECT_TRUE(window->StatusText().startsWith(who));
    other.Poll(QStringLiteral("obj_team2"), {"03", "Bob", "203.0.113.9"}, QStringLiteral("Command Timed Out"));
    ASSERT_TRUE(Eventually([&] { return window->StatusText() == "Command Timed Out"; }));

    // Start names who monitors; the manual actions go to the server.
    window->btnStart->click();
    test::Settle(window->Monitor());
    EXPECT_FALSE(window->MonitorRunning());
    EXPECT_TRUE(window->StatusText().startsWith(who));
    dialogs.answerInput(QStringLiteral("ADMIN DECISION"));
    window->actKick->trigger();
    test::Settle(window->Monitor());
    EXPECT_EQ(sim.commandTexts(), (QStringList{"say Kicking player Bob for ADMIN DECISION", "clientkick 03"}));

    // Given up: the window may monitor the server itself.
    other.Release();
    ASSERT_TRUE(Eventually([&] { return !window->Watching(); }));
    EXPECT_EQ(window->StatusText(), "palisor-monitor on gamehost (process 917) no longer monitors the server.");
    // Its last players are nobody's now: a kick could reach a reused slot.
    EXPECT_EQ(data->tblPlayers->rowCount(), 0);
    EXPECT_FALSE(window->miAction->isEnabled());
    window->btnStart->click();
    test::Settle(window->Monitor());
    EXPECT_TRUE(window->MonitorRunning());
    EXPECT_TRUE(sim.commandTexts().contains("status"));
}

TEST_F(WindowTest, TheDatabaseServersOutageIsSaidOnceAndTheWindowComesBackWithIt)
{
    StartServer(QStringLiteral(R"({"players": [{"slot": 4, "name": "Sgt.Pepper", "address": "203.0.113.7", "port": 12203, "ping": 48}]})"));
    test::FirebirdServer outage;
    const QString location = outage.location("WINDOW.FDB");
    CreateServerDatabase(location, outage.user(), outage.password(), qEnvironmentVariable("PALISOR_SCHEMA"));
    QFile secret(db.dataFolder() + "/database.password");
    ASSERT_TRUE(secret.open(QIODevice::WriteOnly));
    secret.write(outage.password().toUtf8());
    secret.close();
    QFile::setPermissions(secret.fileName(), QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    WriteDatabaseConf(db.dataFolder(), DatabaseConf{location, outage.user(), secret.fileName()});
    Open({{"SCANTIME", "1"}});
    window->btnStart->click();
    test::Settle(window->Monitor());
    ASSERT_EQ(data->tblPlayers->rowCount(), 1);

    outage.kill();
    for (int poll = 0; poll < 3; ++poll)
        test::Tick(window->Monitor());
    EXPECT_TRUE(window->StatusText().startsWith("The database server is gone")) << window->StatusText().toStdString();
    EXPECT_EQ(data->tblPlayers->rowCount(), 1) << "the grid keeps the players it read";
    EXPECT_TRUE(window->MonitorRunning());
    QFile log(data->logPath());
    ASSERT_TRUE(log.open(QIODevice::ReadOnly));
    const QString logged = QString::fromLatin1(log.readAll());
    // The window's attachment and the engine's each say it once.
    EXPECT_EQ(logged.count("The database server is gone"), 2) << logged.toStdString();
    EXPECT_EQ(logged.count("Exception"), 0) << logged.toStdString();

    // The window's thread never waits on the check that the server answers:
    // it comes back when the check says so.
    outage.restart();
    test::Tick(window->Monitor());
    QDeadlineTimer deadline(10000);
    while (data->Lost() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    EXPECT_EQ(window->StatusText(), "The database server is back");
    EXPECT_FALSE(data->Lost());
    EXPECT_EQ(data->tblPlayers->rowCount(), 1);
    window->btnStart->click();
    test::Settle(window->Monitor());
}
