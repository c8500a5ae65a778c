// A real database and the game-server simulator, with the monitor's console
// and kick routine between them, for the announcement and player-action tests.
#pragma once

#include "core/timing.h"
#include "monitor/monitor.h"
#include "rcon/rcon.h"
#include "store/datapalisor.h"
#include "tests/support/db/tempdatabase.h"
#include "tests/support/sim/simprocess.h"

#include <QCoreApplication>
#include <gtest/gtest.h>
#include <initializer_list>
#include <memory>
#include <utility>

namespace palisor::test {

// The main window as the monitor sees it: only the console settings matter here.
struct ConsoleSettingsView : MonitorView {
    QString host = QStringLiteral("127.0.0.1"), port, password = QStringLiteral("secret");

    QString HostText() const override { return host; }
    QString PortText() const override { return port; }
    QString PasswordText() const override { return password; }
    QString MaxPingText() const override { return QStringLiteral("250"); }
    void ShowStatus(const QString&) override {}
    void EnableSettings(bool) override {}
    void RefreshActionMenu() override {}
    void BeginPlayerRebuild() override {}
    void EndPlayerRebuild() override {}
    void ClearServerInfo() override {}
    void ShowServerInfo(ServerBox, const QString&) override {}
    void UpdateVariables() override {}
};

inline QCoreApplication& app()
{
    static int argc = 1;
    static char name[] = "announce_server_test";
    static char* argv[] = {name, nullptr};
    static QCoreApplication* instance = new QCoreApplication(argc, argv);
    return *instance;
}

class ServerFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        app();
        setPauseFunction([this](int ms) { pauses.append(ms); });
        rcon.ExchangePause = 0;
        data = db.createDataModule();
        monitor = std::make_unique<TMonitor>(*data, rcon, view);
    }
    void TearDown() override
    {
        setPauseFunction({});
        setClockFunction({});
    }

    // `players` is the JSON array's content, e.g. {"slot": 3, "name": "Bob", ...}.
    void startServer(const QString& players = QString())
    {
        view.port = QString::number(sim.start(QStringLiteral(R"({"players": [%1]})").arg(players)));
    }

    QString send(const QString& command) { return monitor->SendCommand(command); }

    static void addRow(LiveTable* table, std::initializer_list<std::pair<const char*, QVariant>> values)
    {
        table->insert();
        for (const auto& [column, value] : values)
            table->setValue(QLatin1String(column), value);
        table->post();
    }

    TempDatabase db;
    std::unique_ptr<TDataPalisor> data;
    SimProcess sim;
    TRcon rcon;
    ConsoleSettingsView view;
    std::unique_ptr<TMonitor> monitor;
    QList<int> pauses;
};

}  // namespace palisor::test
