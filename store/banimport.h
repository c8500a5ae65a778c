#pragma once

#include <QString>
#include <QStringList>

#include <functional>

namespace palisor {

class TDataPalisor;

// Called now and then during an import with the number of lines done;
// returning false stops the import there.
using ImportProgress = std::function<bool(int linesDone)>;

// Bans the entries of an import file's lines, in file order, each as the data
// store's BanPlayer would (through BAN_PLAYER, apostrophes in names turned
// into backquotes) but without re-reading BANNED after every line: the bans
// are stored and BANNED is re-read once when the import ends, also when it is
// stopped or a line fails (the bans before that line stay; the error is
// passed on). Lines with neither name nor address are skipped. Returns the
// number of lines banned. The penalty log gives fileName as each ban's reason.
int ImportBanLines(TDataPalisor& data, const QStringList& lines, int kind, const QString& placeholder,
                   const QString& fileName, const ImportProgress& progress = {});

// How many lines pass between two progress calls.
constexpr int ImportProgressStep = 250;
// How many bans are made durable at a time, so that a program killed during
// a long import keeps most of what it had imported.
constexpr int ImportCommitStep = 5000;

}  // namespace palisor
