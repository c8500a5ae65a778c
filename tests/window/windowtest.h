#pragma once

// What the window tests share: the application, a wait for events from another
// attachment, another program monitoring, and the window on a fresh database.
#include "core/timing.h"
#include "window/formpalisor.h"
#include "window/playergrid.h"
#include "window/statuspanel.h"
#include "window/windowplacement.h"
#include "rcon/rcon.h"
#include "store/datapalisor.h"
#include "store/monitorclaim.h"
#include "tests/monitor/printers.h"
#include "tests/support/db/tempdatabase.h"
#include "tests/support/dialogs/scripteddialogs.h"
#include "tests/support/monitor/settle.h"
#include "tests/support/sim/simprocess.h"

#include <gtest/gtest.h>
#include <atomic>

#include <QAction>
#include <QApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>
#include <QFocusEvent>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QProgressBar>
#include <QProgressDialog>
#include <QPushButton>
#include <QScreen>
#include <QSemaphore>
#include <QDeadlineTimer>
#include <QSystemTrayIcon>
#include <QThread>
#include <QTimer>

using namespace palisor;

namespace {

QApplication& App()
{
    static int argc = 1;
    static char name[] = "monitor_window_test";
    static char* argv[] = {name, nullptr};
    static QApplication* app = new QApplication(argc, argv);
    return *app;
}

// Handles the window's events until done() holds, as events from another
// attachment arrive when they arrive; false if they never do.
template <typename Done>
bool Eventually(Done done)
{
    const QDeadlineTimer patience(20000);
    while (!done() && !patience.hasExpired()) {
        QCoreApplication::processEvents();
        QThread::msleep(5);
    }
    return done();
}

// Another program monitoring the same server, on an attachment of its own:
// its claim and its polls, committed as it commits them.
struct OtherMonitor {
    explicit OtherMonitor(const test::TempDatabase& db, int server = 1) : data(db.createDataModule()), server(server)
    {
        data->SetServer(server);
    }

    void Claim(const QDateTime& at = QDateTime::currentDateTimeUtc(), int scanTime = 5)
    {
        QSqlDatabase connection = data->database();
        TakeClaim(connection, server, me, scanTime, QString(), at, [](const QString&) {});
    }
    void Poll(const QString& map, const QStringList& player = {}, const QString& error = QString())
    {
        data->DeletePlayers();
        if (!player.isEmpty())
            data->RecordPlayer(player[0], player[1], player[2], "12203", "050");
        ServerState state;
        state.polled = QDateTime::currentDateTimeUtc();
        state.pollError = error;
        state.hostName = QStringLiteral("Main Street");
        state.players = player.isEmpty() ? 0 : 1;
        state.playerCount = QStringLiteral("%1/32").arg(state.players);
        state.curMap = map;
        QSqlDatabase connection = data->database();
        StorePoll(connection, server, me, 5, state);
    }
    void Release()
    {
        QSqlDatabase connection = data->database();
        ReleaseClaim(connection, server, me);
    }

    std::unique_ptr<TDataPalisor> data;
    const int server;
    const MonitorIdentity me{QStringLiteral("palisor-monitor"), QStringLiteral("gamehost"), 917};
};

// The window on a desktop that has a notification area.
class TrayWindow : public TformPalisor {
public:
    using TformPalisor::TformPalisor;

protected:
    bool TrayAvailable() const override { return true; }
};

class WindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        App();
        QFile::remove(TformPalisor::IniPath());
        setPauseFunction([](int) {});
        rcon.ExchangePause = 0;
    }
    void TearDown() override
    {
        closer.reset();
        window.reset();
        data.reset();
        setPauseFunction({});
        QFile::remove(TformPalisor::IniPath());
    }

    // The simulator starts before the database opens, so that it inherits
    // none of the engine's open files and locks.
    void StartServer(const QString& scenario, const QString& password = QStringLiteral("secret"))
    {
        port = sim.start(scenario, password);
    }

    template <typename Window = TformPalisor>
    void Open(std::initializer_list<std::pair<const char*, QString>> settings = {})
    {
        if (!data)
            data = db.createDataModule();
        data->tblSettings->edit();
        data->tblSettings->setValue("PORT", QString::number(port));
        data->tblSettings->setValue("PASSWORD", QStringLiteral("secret"));
        for (const auto& [field, value] : settings)
            data->tblSettings->setValue(QLatin1String(field), value);
        data->tblSettings->post();
        window = std::make_unique<Window>(*data, rcon, nullptr);
    }

    void AddPlayer(const char* id, const char* name, const char* address)
    {
        data->RecordPlayer(QLatin1String(id), QLatin1String(name), QLatin1String(address), "12203", "050");
    }

    QString Setting(const char* field)
    {
        data->tblSettings->refresh();
        return data->tblSettings->text(QLatin1String(field));
    }

    // The response viewer opens when the reply arrives: closed again at
    // once, its caption noted.
    void CloseModals(QStringList& captions)
    {
        closer = std::make_unique<QTimer>();
        QObject::connect(closer.get(), &QTimer::timeout, [&captions] {
            if (QWidget* modal = QApplication::activeModalWidget()) {
                captions << modal->windowTitle();
                modal->close();
            }
        });
        closer->start(5);
    }

    static void Leave(QWidget* box)
    {
        QFocusEvent out(QEvent::FocusOut, Qt::TabFocusReason);
        QApplication::sendEvent(box, &out);
    }

    test::SimProcess sim;
    quint16 port = 12203;
    test::TempDatabase db;
    std::unique_ptr<TDataPalisor> data;
    TRcon rcon;
    ScriptedDialogs dialogs;
    std::unique_ptr<TformPalisor> window;
    std::unique_ptr<QTimer> closer;
};

}  // namespace
