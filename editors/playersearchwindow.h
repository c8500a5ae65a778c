#pragma once

#include "editors/listwindow.h"

namespace palisor {

// A list window of players (banned or recent) with an "&Edit" menu that finds
// a player by the beginning of his name: "&Find Player..." asks for the text
// and searches from the first row, "Find &Next" searches on from the current
// row with the same text.
class PlayerSearchWindow : public ListWindow {
    Q_OBJECT
public:
    PlayerSearchWindow(TDataPalisor& data, LiveTable& table, const ListWindowLook& look, QWidget* parent);

    QMenu* miEdit;
    QAction* miFindPlayer;
    QAction* miFindNext;

    // The text of the last search; every opening starts with an empty one.
    QString SearchText;

    void miFindPlayerClick();
    void miFindNextClick();
};

}  // namespace palisor
