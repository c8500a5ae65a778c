#include "monitor/statusreply.h"

#include "core/shellutils.h"
#include "monitor/textrules.h"

namespace palisor {
namespace {

constexpr qsizetype kAddressWidth = 15;

struct AddressField {
    QString text;
    qsizetype at = -1;   // where the text starts in the line
};

// The address is the text in front of the line's last colon (the port
// follows that colon), or the line's last word when it has no colon. The
// field's own place anchors the name and the port, so a name that holds the
// player's address is never cut at it.
AddressField AddressOf(const QString& line)
{
    const qsizetype colon = line.lastIndexOf(QLatin1Char(':'));
    const qsizetype end = colon >= 0 ? colon : line.size();
    const qsizetype from = qMax<qsizetype>(0, end - kAddressWidth);
    const QString piece = line.mid(from, end - from);
    const qsizetype space = piece.lastIndexOf(QLatin1Char(' '));
    AddressField field;
    field.text = space >= 0 ? piece.mid(space + 1) : piece;
    field.at = end - field.text.size();
    return field;
}

}  // namespace

PlayerRow CutPlayerLine(const QString& line)
{
    PlayerRow row;
    row.clientId = PadZeros(TrimControls(line.mid(0, 3)), 2);
    const qint64 ping = DigitsOnly(TrimControls(line.mid(11, 3)));
    row.ping = PadZeros(QString::number(ping), 3);
    const AddressField address = AddressOf(line);
    row.address = address.text;

    // Without an address there is nothing to anchor the name and port on.
    if (row.address.isEmpty())
        return row;
    const qsizetype at = address.at;

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
