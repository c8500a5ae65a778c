#include "monitor/statusreply.h"

#include "app/shellutils.h"
#include "monitor/textrules.h"

namespace palisor {
namespace {

constexpr qsizetype kAddressWidth = 15;

QString AddressOf(const QString& line)
{
    const qsizetype colon = line.lastIndexOf(QLatin1Char(':'));
    QString piece;
    if (colon >= 0) {
        const qsizetype from = qMax<qsizetype>(0, colon - kAddressWidth);
        piece = line.mid(from, colon - from);
    } else {
        piece = line.right(kAddressWidth);
    }
    const qsizetype space = piece.lastIndexOf(QLatin1Char(' '));
    return space >= 0 ? piece.mid(space + 1) : piece;
}

}  // namespace

PlayerRow CutPlayerLine(const QString& line)
{
    PlayerRow row;
    row.clientId = PadZeros(TrimControls(line.mid(0, 3)), 2);
    const qint64 ping = DigitsOnly(TrimControls(line.mid(11, 3)));
    row.ping = PadZeros(QString::number(ping), 3);
    row.address = AddressOf(line);

    // Without an address there is nothing to anchor the name and port on.
    const qsizetype at = row.address.isEmpty() ? -1 : line.indexOf(row.address);
    if (at < 0)
        return row;

    const qsizetype portStart = at + row.address.size() + 1;
    const qsizetype portEnd = line.indexOf(QLatin1Char(' '), portStart);
    if (portStart < line.size() && portEnd >= 0)
        row.port = line.mid(portStart, portEnd - portStart);

    // The name column runs up to the number column in front of the address.
    QString piece = line.mid(15, qMax<qsizetype>(0, at - 16));
    const qsizetype space = piece.lastIndexOf(QLatin1Char(' '));
    if (space >= 0)
        piece.truncate(space);
    row.name = TrimControls(piece);
    return row;
}

StatusPlan PlanStatusReply(const QStringList& lines)
{
    StatusPlan plan;
    plan.clearPlayers = !lines.isEmpty();
    if (lines.size() >= 5)
        plan.playerLines = lines.mid(3, lines.size() - 4);
    return plan;
}

}  // namespace palisor
