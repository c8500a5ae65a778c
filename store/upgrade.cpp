#include "store/upgrade.h"

#include "core/error.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <algorithm>

namespace palisor {
namespace {

// Statements in script order, without comments, each without its terminator.
QStringList splitStatements(const QString& script)
{
    static const QRegularExpression setTerm(QStringLiteral("^SET\\s+TERM\\s+(\\S+)$"),
                                            QRegularExpression::CaseInsensitiveOption);
    QStringList statements;
    QString terminator = QStringLiteral(";");
    QString current;
    qsizetype i = 0;
    const qsizetype n = script.size();
    auto finish = [&] {
        const QString text = current.trimmed();
        current.clear();
        if (text.isEmpty())
            return;
        const QRegularExpressionMatch m = setTerm.match(text);
        if (m.hasMatch())
            terminator = m.captured(1);
        else
            statements << text;
    };
    while (i < n) {
        if (script.mid(i, 2) == QLatin1String("/*")) {
            const qsizetype end = script.indexOf(QStringLiteral("*/"), i + 2);
            i = end < 0 ? n : end + 2;
            current += QLatin1Char(' ');
        } else if (script.mid(i, 2) == QLatin1String("--")) {
            const qsizetype end = script.indexOf(QLatin1Char('\n'), i);
            i = end < 0 ? n : end;
        } else if (script.at(i) == QLatin1Char('\'') || script.at(i) == QLatin1Char('"')) {
            // A doubled quote inside a literal is two literals in a row here,
            // which copies it just the same.
            const QChar quote = script.at(i);
            const qsizetype end = script.indexOf(quote, i + 1);
            const qsizetype stop = end < 0 ? n : end + 1;
            current += script.mid(i, stop - i);
            i = stop;
        } else if (script.mid(i, terminator.size()) == terminator) {
            finish();
            i += terminator.size();
        } else {
            current += script.at(i);
            ++i;
        }
    }
    finish();
    return statements;
}

UpgradeStep stepFor(const QString& statement)
{
    using Option = QRegularExpression::PatternOption;
    const auto pattern = [](const char* text) {
        return QRegularExpression(QString::fromLatin1(text), Option::CaseInsensitiveOption);
    };
    static const QRegularExpression table = pattern("^CREATE\\s+TABLE\\s+(\\w+)");
    static const QRegularExpression column = pattern("^ALTER\\s+TABLE\\s+(\\w+)\\s+ADD\\s+(\\w+)");
    static const QRegularExpression index =
        pattern("^CREATE\\s+(?:(?:UNIQUE|ASC|ASCENDING|DESC|DESCENDING)\\s+)*INDEX\\s+(\\w+)");
    static const QRegularExpression sequence = pattern("^CREATE\\s+(?:SEQUENCE|GENERATOR)\\s+(\\w+)");
    static const QRegularExpression dropIndex = pattern("^DROP\\s+INDEX\\s+(\\w+)");
    // Bodies are replaced whatever the database had, so a database upgraded
    // by an earlier Palisor gets this version's; a column widened to the
    // width it has stays as it is.
    static const QRegularExpression always = pattern(
        "^(?:CREATE\\s+OR\\s+ALTER\\s+(?:TRIGGER|PROCEDURE|FUNCTION)|INSERT|UPDATE|DELETE"
        "|ALTER\\s+TABLE\\s+\\w+\\s+ALTER\\s+(?:COLUMN\\s+)?\\w+\\s+TYPE)\\s");

    // The names are words, so they can stand in the query as they are.
    const auto count = [](const char* from, const char* column, const QRegularExpressionMatch& m) {
        return QStringLiteral("SELECT COUNT(*) FROM %1 WHERE %2 = '%3'")
            .arg(QLatin1String(from), QLatin1String(column), m.captured(1).toUpper());
    };
    QRegularExpressionMatch m;
    if ((m = table.match(statement)).hasMatch())
        return {statement, count("RDB$RELATIONS", "RDB$RELATION_NAME", m)};
    if ((m = column.match(statement)).hasMatch())
        return {statement, count("RDB$RELATION_FIELDS", "RDB$RELATION_NAME", m)
                               + QStringLiteral(" AND RDB$FIELD_NAME = '%1'").arg(m.captured(2).toUpper())};
    if ((m = index.match(statement)).hasMatch())
        return {statement, count("RDB$INDICES", "RDB$INDEX_NAME", m)};
    if ((m = sequence.match(statement)).hasMatch())
        return {statement, count("RDB$GENERATORS", "RDB$GENERATOR_NAME", m)};
    // Runs while the index is there: its count is 0 then.
    if ((m = dropIndex.match(statement)).hasMatch())
        return {statement, QStringLiteral("SELECT 1 - COUNT(*) FROM RDB$INDICES WHERE RDB$INDEX_NAME = '%1'")
                               .arg(m.captured(1).toUpper())};
    if (always.match(statement).hasMatch())
        return {statement, QString()};
    throw Error(QStringLiteral("The database upgrade cannot tell what this statement makes: ")
                + statement.left(60));
}

}  // namespace

QList<UpgradeStep> ParseUpgradeScript(const QString& script)
{
    static const QRegularExpression skipped(QStringLiteral("^(SET|COMMIT)\\b"),
                                            QRegularExpression::CaseInsensitiveOption);
    QList<UpgradeStep> steps;
    for (const QString& statement : splitStatements(script)) {
        if (!skipped.match(statement).hasMatch())
            steps << stepFor(statement);
    }
    return steps;
}

QList<UpgradeScript> UpgradeScripts()
{
    static const QRegularExpression numbered(QStringLiteral("^(\\d+)-.*\\.sql$"));
    const QDir folder(QStringLiteral(":/palisor/store/upgrades"));
    QList<UpgradeScript> scripts;
    for (const QString& name : folder.entryList(QDir::Files, QDir::Name)) {
        const QRegularExpressionMatch m = numbered.match(name);
        QFile file(folder.filePath(name));
        if (!m.hasMatch() || !file.open(QIODevice::ReadOnly))
            throw Error(QStringLiteral("The database upgrade script %1 cannot be read").arg(name));
        scripts.append({m.captured(1).toInt(), name, QString::fromUtf8(file.readAll())});
    }
    std::sort(scripts.begin(), scripts.end(), [](const auto& a, const auto& b) { return a.version < b.version; });
    return scripts;
}

int LatestSchemaVersion()
{
    const QList<UpgradeScript> scripts = UpgradeScripts();
    return scripts.isEmpty() ? 0 : scripts.last().version;
}

}  // namespace palisor
