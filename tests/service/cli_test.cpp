#include "service/eventline.h"
#include "service/eventwriter.h"
#include "service/options.h"

#include <QFile>
#include <QJsonDocument>
#include <QTemporaryDir>
#include <QJsonObject>
#include <QTimeZone>
#include <gtest/gtest.h>

#include <algorithm>

#include <sys/stat.h>

namespace {

using palisor::MonitorOptions;
using Mode = MonitorOptions::Mode;

MonitorOptions parse(const QStringList& arguments)
{
    return palisor::ParseMonitorOptions(QStringList{"palisor-monitor"} + arguments);
}

TEST(MonitorOptions, ModesAndTheirArguments)
{
    const MonitorOptions run = parse({"--data", "/srv/a b", "--log-format", "json"});
    EXPECT_EQ(run.mode, Mode::Run);
    EXPECT_EQ(run.dataFolder, "/srv/a b");
    EXPECT_EQ(run.logFormat, MonitorOptions::LogFormat::Json);
    EXPECT_EQ(parse({}).logFormat, MonitorOptions::LogFormat::Text);
    EXPECT_EQ(parse({"--once", "--data=/x"}).mode, Mode::Once);
    EXPECT_EQ(parse({"--server", "Objective", "--server=FFA 2"}).servers, (QStringList{"Objective", "FFA 2"}));
    const MonitorOptions init = parse({"--init", "--password-file", "-"});
    EXPECT_EQ(init.mode, Mode::Init);
    EXPECT_EQ(init.passwordFile, "-");
    EXPECT_EQ(parse({"--init", "--password", "s e"}).password, "s e");
    EXPECT_EQ(parse({"--once", "--help"}).mode, Mode::Help);
    EXPECT_TRUE(parse({"--version"}).text.contains("palisor-monitor"));
}

TEST(MonitorOptions, BadUsageIsRefusedWithItsReason)
{
    for (const QStringList& bad : {QStringList{"--bogus"}, {"--log-format", "xml"}, {"status"}, {"--data"},
                                   {"--data="}, {"--once", "--init"}, {"--password-file", "p"},
                                   {"--init", "--password", "a", "--password-file", "b"},
                                   {"--init", "--server", "A"}}) {
        const MonitorOptions options = parse(bad);
        EXPECT_EQ(options.mode, Mode::Usage) << bad.join(' ').toStdString();
        EXPECT_FALSE(options.text.isEmpty());
    }
}

palisor::EventLine kick(const QString& name)
{
    return {QDateTime({2026, 12, 7}, {14, 3, 11, 250}, QTimeZone(3600)), "kick",
            {{"clientid", "03"}, {"name", name}, {"address", "10.0.0.3"}, {"reason", "ILLEGAL NAME"},
             {"players", 12}}};
}

TEST(EventLines, TextKeepsAnyNameOnOneLineAndUnforgeable)
{
    EXPECT_EQ(palisor::TextEventLine(kick("Bob")),
              "2026-12-07T14:03:11.250+01:00 kick clientid=03 name=Bob address=10.0.0.3 "
              "reason=\"ILLEGAL NAME\" players=12");
    EXPECT_EQ(palisor::TextEventLine(kick("x\nreason=ok \"q\\\x01")).section(' ', 3, 4),
              "name=\"x\\nreason=ok \\\"q\\\\\\x01\"");
    EXPECT_EQ(palisor::TextEventLine(kick("")).section(' ', 3, 3), "name=\"\"");
    // A number the server left out.
    palisor::EventLine missing = kick("Bob");
    missing.fields.last().second = QVariant();
    EXPECT_TRUE(palisor::TextEventLine(missing).endsWith(" players=\"\""));
    EXPECT_TRUE(palisor::JsonEventLine(missing).endsWith(",\"players\":null}"));
}

TEST(EventLines, JsonParsesWithTheKeysInOrder)
{
    const QString name = QString::fromLatin1("\"\xe9\n\x7f\x85\x9f");
    const QString line = palisor::JsonEventLine(kick(name));
    // DEL and the C1 controls too: the journal takes a line with them for binary data.
    EXPECT_TRUE(std::none_of(line.begin(), line.end(),
                             [](QChar c) { return c < u' ' || (c >= u'\x7f' && c < u'\xa0'); }));
    EXPECT_TRUE(line.contains("\\u007f\\u0085\\u009f"));
    const QJsonObject object = QJsonDocument::fromJson(line.toUtf8()).object();
    EXPECT_EQ(object.value("time").toString(), "2026-12-07T14:03:11.250+01:00");
    EXPECT_EQ(object.value("name").toString(), name);
    EXPECT_EQ(object.value("players").toInt(), 12);
    EXPECT_TRUE(line.startsWith("{\"time\":"));
    EXPECT_LT(line.indexOf("\"event\""), line.indexOf("\"clientid\""));
    EXPECT_LT(line.indexOf("\"reason\""), line.indexOf("\"players\""));
}

// Errors are marked for the journal only on the stream systemd named: a pipe
// or a terminal of a program started from the service would show the mark.
TEST(EventLines, ErrorsAreMarkedOnlyOnTheJournalStream)
{
    QTemporaryDir folder;
    QFile journal(folder.filePath("journal")), other(folder.filePath("other"));
    ASSERT_TRUE(journal.open(QIODevice::WriteOnly) && other.open(QIODevice::WriteOnly));
    struct stat file {};
    ASSERT_EQ(::fstat(journal.handle(), &file), 0);
    qputenv("JOURNAL_STREAM", QByteArray::number(qulonglong(file.st_dev)) + ':' + QByteArray::number(qulonglong(file.st_ino)));
    EXPECT_TRUE(palisor::IsJournalStream(journal.handle()));
    EXPECT_FALSE(palisor::IsJournalStream(other.handle()));
    qunsetenv("JOURNAL_STREAM");
    EXPECT_FALSE(palisor::IsJournalStream(journal.handle()));
}

}  // namespace
