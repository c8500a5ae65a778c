#include "store/upgrade.h"

#include "core/error.h"
#include "store/sqltext.h"

#include <QFile>
#include <QRegularExpression>
#include <QSqlQuery>

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
    static const QRegularExpression trigger = pattern("^CREATE\\s+TRIGGER\\s+(\\w+)");
    static const QRegularExpression procedure = pattern("^CREATE\\s+PROCEDURE\\s+(\\w+)");
    static const QRegularExpression sequence = pattern("^CREATE\\s+(?:SEQUENCE|GENERATOR)\\s+(\\w+)");

    const auto name = [](const QRegularExpressionMatch& m, int group) { return m.captured(group).toUpper(); };
    QRegularExpressionMatch m;
    if ((m = table.match(statement)).hasMatch())
        return {statement, QStringLiteral("SELECT COUNT(*) FROM RDB$RELATIONS WHERE RDB$RELATION_NAME = ?"),
                {name(m, 1)}};
    if ((m = column.match(statement)).hasMatch())
        return {statement,
                QStringLiteral("SELECT COUNT(*) FROM RDB$RELATION_FIELDS WHERE RDB$RELATION_NAME = ? "
                               "AND RDB$FIELD_NAME = ?"),
                {name(m, 1), name(m, 2)}};
    if ((m = index.match(statement)).hasMatch())
        return {statement, QStringLiteral("SELECT COUNT(*) FROM RDB$INDICES WHERE RDB$INDEX_NAME = ?"), {name(m, 1)}};
    if ((m = trigger.match(statement)).hasMatch())
        return {statement, QStringLiteral("SELECT COUNT(*) FROM RDB$TRIGGERS WHERE RDB$TRIGGER_NAME = ?"),
                {name(m, 1)}};
    if ((m = procedure.match(statement)).hasMatch())
        return {statement, QStringLiteral("SELECT COUNT(*) FROM RDB$PROCEDURES WHERE RDB$PROCEDURE_NAME = ?"),
                {name(m, 1)}};
    if ((m = sequence.match(statement)).hasMatch())
        return {statement, QStringLiteral("SELECT COUNT(*) FROM RDB$GENERATORS WHERE RDB$GENERATOR_NAME = ?"),
                {name(m, 1)}};
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

int ApplyUpgrade(QSqlDatabase& db, const QList<UpgradeStep>& steps)
{
    int applied = 0;
    for (const UpgradeStep& step : steps) {
        db.transaction();
        try {
            QSqlQuery exists = sql::run(db, step.existsQuery, step.existsKeys);
            const bool present = exists.next() && exists.value(0).toInt() > 0;
            exists.finish();
            if (!present) {
                // Run as written: a prepared statement would take the
                // procedure bodies' :variables for bound values.
                QSqlQuery make(db);
                if (!make.exec(step.statement))
                    throw Error(sql::errorText(make.lastError()));
                ++applied;
            }
        } catch (...) {
            db.rollback();
            throw;
        }
        if (!db.commit())
            throw Error(QStringLiteral("Unable to commit the database upgrade: ") + sql::errorText(db.lastError()));
    }
    return applied;
}

namespace {

QString storedScript(const QString& name)
{
    QFile file(QStringLiteral(":/palisor/store/") + name);
    if (!file.open(QIODevice::ReadOnly))
        throw Error(QStringLiteral("The database upgrade script is missing from the program"));
    return QString::fromUtf8(file.readAll());
}

}  // namespace

QString HistoryScript() { return storedScript(QStringLiteral("history.sql")); }
QString NameChangesScript() { return storedScript(QStringLiteral("namechanges.sql")); }

}  // namespace palisor
