// A monitor that does not stop: it polls the game server with the real poll
// and data store, as the main window's timer would with the pauses cut
// short, and between polls makes the list changes an administrator makes.
// Every change is announced on standard output before it starts ("try") and
// again once the data store has returned from it ("done"), so whoever kills
// this process knows what must have survived and what may or may not have.
//
//   crash_monitor_driver FOLDER PORT PASSWORD SEED
//
// FOLDER holds data/PALISOR.GDB. Lines are TAB-separated:
//   ready
//   try|done  ban NAME ADDRESS | immune NAME | unimmune NAME | illegal WORD
//             | message TEXT | alias MAP ALIAS | maxping VALUE
//   seen NAME ADDRESS          (a player the poll recorded)
#include "core/timing.h"
#include "monitor/monitor.h"
#include "rcon/rcon.h"
#include "store/datapalisor.h"

#include <QCoreApplication>
#include <QRandomGenerator>

#include <cstdio>
#include <exception>

using namespace palisor;

namespace {

// The window as the poll sees it: the settings row gives the server and the
// maximum ping, as the bound settings boxes would.
class HeadlessView : public MonitorView {
public:
    HeadlessView(TDataPalisor& data, QString port, QString password)
        : data_(data), port_(std::move(port)), password_(std::move(password))
    {
    }
    QString HostText() const override { return QStringLiteral("127.0.0.1"); }
    QString PortText() const override { return port_; }
    QString PasswordText() const override { return password_; }
    QString MaxPingText() const override { return data_.tblSettings->text(QStringLiteral("MAXPING")); }
    void ShowStatus(const QString&) override {}
    void EnableSettings(bool) override {}
    void RefreshActionMenu() override {}
    void BeginPlayerRebuild() override {}
    void EndPlayerRebuild() override {}
    void ClearServerInfo() override {}
    void ShowServerInfo(ServerBox, const QString&) override {}
    void UpdateVariables() override {}

private:
    TDataPalisor& data_;
    QString port_;
    QString password_;
};

void report(const QString& line)
{
    std::fputs(line.toLatin1().constData(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

void addRow(LiveTable* table, std::initializer_list<std::pair<const char*, QString>> values)
{
    table->insert();
    for (const auto& [column, value] : values)
        table->setValue(QLatin1String(column), value);
    table->post();
}

// One change of a randomly chosen kind, announced before and after.
void makeChange(TDataPalisor& data, QRandomGenerator& random, const QString& tag, int serial)
{
    const QString name = QStringLiteral("Crash-%1-%2").arg(tag).arg(serial);
    QStringList change;
    std::function<void()> apply;
    switch (random.bounded(7)) {
    case 0: {
        const QString address = QStringLiteral("10.%1.%2.%3")
                                    .arg(random.bounded(256)).arg(random.bounded(256)).arg(random.bounded(256));
        // An apostrophe is stored as a backquote.
        change = {QStringLiteral("ban"), name + QStringLiteral("`s"), address};
        apply = [&data, name, address] { data.BanPlayer(name + QStringLiteral("'s"), address); };
        break;
    }
    case 1:
        change = {QStringLiteral("immune"), name};
        apply = [&data, name] { addRow(data.tblImmune, {{"NAME", name}}); };
        break;
    case 2: {
        // Takes back an immunity given earlier, in this run or a run before.
        LiveTable* immune = data.tblImmune;
        int row = -1;
        for (int r = 0; r < immune->rowCount() && row < 0; ++r)
            if (immune->value(r, QStringLiteral("NAME")).toString().startsWith(QLatin1String("Crash-")))
                row = r;
        if (row < 0)
            return;
        const QString gone = immune->value(row, QStringLiteral("NAME")).toString();
        change = {QStringLiteral("unimmune"), gone};
        apply = [immune, row] {
            immune->setCurrentRow(row);
            immune->deleteCurrent();
        };
        break;
    }
    case 3:
        change = {QStringLiteral("illegal"), name};
        apply = [&data, name] { addRow(data.tblIllegal, {{"NAME", name}}); };
        break;
    case 4: {
        const QString text = QStringLiteral("Welcome to $servername$ (%1)").arg(name);
        change = {QStringLiteral("message"), text};
        apply = [&data, text] { addRow(data.tblMessages, {{"ANNOUNCEMENT", text}}); };
        break;
    }
    case 5: {
        const QString map = QStringLiteral("map_") + name;
        change = {QStringLiteral("alias"), map, name};
        apply = [&data, map, name] { addRow(data.tblMapAlias, {{"MAPNAME", map}, {"ALIAS", name}}); };
        break;
    }
    default: {
        const QString value = QString::number(200 + random.bounded(800));
        change = {QStringLiteral("maxping"), value};
        apply = [&data, value] {
            data.tblSettings->edit();
            data.tblSettings->setValue(QStringLiteral("MAXPING"), value);
            data.tblSettings->post();
        };
        break;
    }
    }
    report(QStringLiteral("try\t") + change.join(QLatin1Char('\t')));
    apply();
    report(QStringLiteral("done\t") + change.join(QLatin1Char('\t')));
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc != 5) {
        std::fprintf(stderr, "usage: crash_monitor_driver FOLDER PORT PASSWORD SEED\n");
        return 2;
    }
    const QString tag = QString::fromLocal8Bit(argv[4]);
    QRandomGenerator random(tag.toUInt());

    TDataPalisor data(QString::fromLocal8Bit(argv[1]));
    data.DataModuleCreate();
    TRcon rcon;
    rcon.ExchangePause = 0;
    setPauseFunction([](int) {});
    HeadlessView view(data, QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]));
    TMonitor monitor(data, rcon, view);
    monitor.Start(30);
    report(QStringLiteral("ready"));

    for (int serial = 1;; ++serial) {
        try {
            monitor.RefreshServer();
            data.SweepDatabase();
            for (int row = 0; row < data.tblPlayers->rowCount(); ++row)
                report(QStringLiteral("seen\t%1\t%2").arg(data.tblPlayers->value(row, QStringLiteral("NAME")).toString(),
                                                         data.tblPlayers->value(row, QStringLiteral("ADDRESS")).toString()));
            for (int change = random.bounded(1, 4); change > 0; --change)
                makeChange(data, random, tag, serial * 10 + change);
        } catch (const std::exception& e) {
            // As the window's status bar would show it; the monitor goes on.
            std::fprintf(stderr, "%s\n", e.what());
        }
    }
}
