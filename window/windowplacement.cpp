#include "window/windowplacement.h"

#include "core/error.h"
#include "monitor/textrules.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace palisor {
namespace {

bool IsSectionLine(const QString& line, QString* name = nullptr)
{
    const QString trimmed = TrimControls(line);
    if (!trimmed.startsWith(QLatin1Char('[')) || !trimmed.endsWith(QLatin1Char(']')))
        return false;
    if (name)
        *name = TrimControls(trimmed.mid(1, trimmed.size() - 2));
    return true;
}

bool IsKeyLine(const QString& line, const QString& key)
{
    const qsizetype equals = line.indexOf(QLatin1Char('='));
    return equals >= 0 && TrimControls(line.left(equals)).compare(key, Qt::CaseInsensitive) == 0;
}

// The lines [first, last) of the section's keys; first is -1 when absent.
std::pair<qsizetype, qsizetype> SectionRange(const QStringList& lines, const QString& section)
{
    qsizetype first = -1;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        QString name;
        if (!IsSectionLine(lines[i], &name))
            continue;
        if (first >= 0)
            return {first, i};
        if (name.compare(section, Qt::CaseInsensitive) == 0)
            first = i + 1;
    }
    return {first, lines.size()};
}

}  // namespace

IniFile::IniFile(const QString& path) : path_(path)
{
    QFile file(path);
    if (file.open(QIODevice::ReadOnly))
        lines_ = SplitLines(QString::fromLatin1(file.readAll()));
}

std::optional<QString> IniFile::Read(const QString& section, const QString& key) const
{
    const auto [first, last] = SectionRange(lines_, section);
    if (first < 0)
        return std::nullopt;
    for (qsizetype i = first; i < last; ++i)
        if (IsKeyLine(lines_[i], key))
            return TrimControls(lines_[i].mid(lines_[i].indexOf(QLatin1Char('=')) + 1));
    return std::nullopt;
}

void IniFile::Write(const QString& section, const QString& key, const QString& value)
{
    const QString line = key + QLatin1Char('=') + value;
    auto [first, last] = SectionRange(lines_, section);
    if (first < 0) {
        lines_.append(QLatin1Char('[') + section + QLatin1Char(']'));
        lines_.append(line);
        return;
    }
    for (qsizetype i = first; i < last; ++i) {
        if (IsKeyLine(lines_[i], key)) {
            lines_[i] = line;
            return;
        }
    }
    // After the section's last key, ahead of any blank lines that part it
    // from the next section.
    while (last > first && TrimControls(lines_[last - 1]).isEmpty())
        --last;
    lines_.insert(last, line);
}

void IniFile::Save() const
{
    // An installed copy's settings folder may not exist before the first save.
    QDir().mkpath(QFileInfo(path_).absolutePath());
    QSaveFile file(path_);
    QByteArray bytes;
    for (const QString& line : lines_)
        bytes += line.toLatin1() + "\r\n";
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit())
        throw Error(path_ + QStringLiteral(": ") + file.errorString());
}

std::optional<QRect> ParseNormalPos(const QString& text, const QRect& current)
{
    if (text.isEmpty())
        return std::nullopt;
    const QStringList parts = text.split(QLatin1Char(','));
    const int fallback[4] = {current.left(), current.top(), current.left() + current.width(),
                             current.top() + current.height()};
    int edges[4];
    for (int i = 0; i < 4; ++i) {
        bool ok = false;
        const int value = i < parts.size() ? TrimControls(parts[i]).toInt(&ok) : 0;
        edges[i] = ok ? value : fallback[i];
    }
    if (edges[0] >= edges[2])
        return std::nullopt;
    // A bottom edge above the top would make a window without height.
    const int height = edges[3] > edges[1] ? edges[3] - edges[1] : current.height();
    return QRect(edges[0], edges[1], edges[2] - edges[0], height);
}

QString FormatNormalPos(const QRect& rect)
{
    return QStringLiteral("%1,%2,%3,%4")
        .arg(rect.left())
        .arg(rect.top())
        .arg(rect.left() + rect.width())
        .arg(rect.top() + rect.height());
}

}  // namespace palisor
