#include "editors/playersearchwindow.h"

#include "store/datapalisor.h"

#include <QAction>
#include <QKeySequence>
#include <QMenu>
#include <QMenuBar>

namespace palisor {

PlayerSearchWindow::PlayerSearchWindow(TDataPalisor& data, LiveTable& table, const ListWindowLook& look,
                                       QWidget* parent)
    : ListWindow(data, table, look, parent)
{
    miEdit = new QMenu(QStringLiteral("&Edit"), MainMenu);
    miFindPlayer = miEdit->addAction(QStringLiteral("&Find Player..."));
    miFindPlayer->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_F));
    miFindNext = miEdit->addAction(QStringLiteral("Find &Next"));
    miFindNext->setShortcut(QKeySequence(Qt::Key_F3));
    MainMenu->insertMenu(miAction->menuAction(), miEdit);

    onTriggered(miFindPlayer, [this] { miFindPlayerClick(); });
    onTriggered(miFindNext, [this] { miFindNextClick(); });
}

void PlayerSearchWindow::miFindPlayerClick() { data().FindPlayer(true, SearchText, &table()); }

void PlayerSearchWindow::miFindNextClick() { data().FindPlayer(false, SearchText, &table()); }

}  // namespace palisor
