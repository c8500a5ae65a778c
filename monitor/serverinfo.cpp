#include "monitor/serverinfo.h"

#include "monitor/textrules.h"

namespace palisor {
namespace {

void RemoveFirst(QString& text, const QString& piece)
{
    const qsizetype at = text.indexOf(piece, 0, Qt::CaseInsensitive);
    if (at >= 0)
        text.remove(at, piece.size());
}

// The text from `start` up to the first ";" after it; empty when no ";"
// closes it, since the server writes the map command as "map <name>; ...".
QString UpToSemicolon(const QString& text, qsizetype start)
{
    const qsizetype end = text.indexOf(QLatin1Char(';'), start);
    return end >= 0 ? text.mid(start, end - start) : QString();
}

}  // namespace

QStringList NormaliseServerInfo(const QStringList& lines)
{
    QStringList result;
    result.reserve(lines.size());
    for (QString line : lines) {
        const qsizetype colon = line.indexOf(QLatin1String(": "));
        if (colon >= 0)
            line.replace(colon, 2, QStringLiteral("="));
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        const QString key = equals >= 0 ? line.left(equals) : QString();
        if (!key.isEmpty()) {
            const qsizetype at = line.indexOf(key);
            line.replace(at, key.size(), TrimControls(key));
        }
        result.append(line);
    }
    return result;
}

QString ServerInfoValue(const QStringList& normalised, const QString& name)
{
    for (const QString& line : normalised) {
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        if (equals >= 0 && line.left(equals).compare(name, Qt::CaseInsensitive) == 0)
            return line.mid(equals + 1);
    }
    return {};
}

QString ShortMapName(const QString& rawName, const MapAliasLookup& alias)
{
    QString name = rawName;
    for (const char* piece : {"dm/", "obj/", "lib/", "mp_", "dm_", "_dm"})
        RemoveFirst(name, QLatin1String(piece));
    if (name.left(2).toUpper() == QLatin1String("DM"))
        RemoveFirst(name, QStringLiteral("dm"));
    for (const char* piece : {"_obj", "_tow", "_lib", "_inv"})
        RemoveFirst(name, QLatin1String(piece));
    return alias(name);
}

QString NextInMapList(QString& list, const QString& currentMap)
{
    // `start` is 1-based like a cursor over the list; 0 means "from the front".
    qsizetype start = 0;
    const qsizetype at = currentMap.isEmpty() ? -1 : list.toLower().indexOf(currentMap.toLower());
    if (at >= 0)
        start = at + 1 + currentMap.size() + 1;
    if (start >= list.size())
        start = 0;
    if (start > 0)
        list = list.mid(start - 1);
    if (list.indexOf(QLatin1Char(' ')) == 1)
        list.remove(0, 2);

    if (!list.contains(QLatin1Char(' ')))
        return list;
    if (list.left(list.size() - 1).contains(QLatin1Char(' ')))
        return list.left(list.indexOf(QLatin1Char(' ')));
    return {};
}

QString NextMapName(const QString& currentMap, const VariableReader& readVariable,
                    const MapAliasLookup& alias)
{
    QString next;
    const QString nextmap = readVariable(QStringLiteral("nextmap")).toLower();
    if (!nextmap.isEmpty()) {
        const QString rotation = nextmap.mid(nextmap.indexOf(QLatin1String("vstr ")) + 5);
        const QString command = readVariable(rotation);
        next = UpToSemicolon(command, command.indexOf(QLatin1String("map ")) + 4);
    } else {
        QString list = readVariable(QStringLiteral("sv_maplist"));
        list.replace(QLatin1Char(';'), QLatin1Char(' '));
        next = NextInMapList(list, currentMap);
        if (next.compare(currentMap, Qt::CaseInsensitive) == 0)
            next = NextInMapList(list, currentMap);
    }
    return ShortMapName(next, alias);
}

}  // namespace palisor
