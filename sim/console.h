#pragma once

#include "sim/serverstate.h"

namespace palisor::sim {

// The engine's tokenizer: blanks and control bytes separate words; a double
// quote starts a word that runs to the next double quote or to the end of the
// line (dumpuser "Bob finds Bob); outside quotes // ends the line and /* */ is
// skipped. Bytes from 0x80 up are ordinary characters.
QList<Bytes> tokenize(const Bytes& line);

// The words from `first` on, joined by single blanks, as the engine's
// commands see "the rest of the line".
Bytes joinArgs(const QList<Bytes>& words, int first);

// A script (a vstr value, a timeline command) split into commands at line
// ends and at semicolons outside double quotes.
QList<Bytes> splitCommands(const Bytes& script);

// The status reply in the engine's character columns, blank line included.
Bytes formatStatus(const Bytes& mapName, const QList<SimPlayer>& players);
// One info line: the key padded to 20 characters, then `separator`, then the value.
Bytes formatInfoLine(const Bytes& key, const Bytes& value, const Bytes& separator = Bytes());

// The server's console: runs one command line and returns what it prints.
class Console {
public:
    explicit Console(ServerState& state) : state_(state) {}

    Bytes execute(const Bytes& line);
    Bytes executeScript(const Bytes& script);

private:
    Bytes status();
    Bytes serverInfo() const;
    Bytes set(const QList<Bytes>& words, bool serverinfo);
    Bytes say(const QList<Bytes>& words) const;
    Bytes clientKick(const QList<Bytes>& words);
    Bytes dumpUser(const QList<Bytes>& words) const;
    Bytes vstr(const QList<Bytes>& words);
    Bytes map(const QList<Bytes>& words);
    Bytes variableCommand(const QList<Bytes>& words);

    ServerState& state_;
    int depth_ = 0;
};

}  // namespace palisor::sim
