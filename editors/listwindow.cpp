#include "editors/listwindow.h"

#include "core/dialogs.h"
#include "widgets/menuutils.h"
#include "editors/formactionresponse.h"
#include "core/errorhandler.h"
#include "editors/tablegrid.h"
#include "store/datapalisor.h"
#include "store/dbevents.h"
#include "store/livetable.h"

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QMenuBar>
#include <QScreen>
#include <QShowEvent>
#include <QVBoxLayout>

namespace palisor {

QString RemoveQuestion(const QString& value)
{
    return QStringLiteral("Are you sure you want to remove ") + value + QLatin1Char('?');
}

ListWindow::ListWindow(TDataPalisor& data, LiveTable& table, const ListWindowLook& look, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint),
      data_(data),
      table_(table),
      captionFormat_(look.captionFormat),
      quotedColumn_(look.quotedColumn)
{
    setFont(CourierFont(8));

    MainMenu = new QMenuBar(this);
    miFile = MainMenu->addMenu(QStringLiteral("&File"));
    miFile->setObjectName(QStringLiteral("miFile"));
    miExit = miFile->addAction(QStringLiteral("E&xit"));
    miExit->setObjectName(QStringLiteral("miExit"));
    miAction = MainMenu->addMenu(QStringLiteral("&Action"));
    miAction->setObjectName(QStringLiteral("miAction"));
    connect(miExit, &QAction::triggered, this, [this] { miExitClick(); });
    actRemove = miAction->addAction(look.removeCaption);
    actRemove->setObjectName(QStringLiteral("actRemove"));
    onTriggered(actRemove, [this] { actRemoveExecute(); });

    grid_ = new TableGrid(table, look.editable, this);
    grid_->setObjectName(look.gridName);
    if (!look.sortable)
        grid_->horizontalHeader()->setSectionsClickable(false);
    PopupPlayerData = new QMenu(grid_);
    PopupPlayerData->setObjectName(QStringLiteral("PopupPlayerData"));

    connect(grid_, &TableGrid::titleClicked, this, [this](const QString& column) {
        Guarded([&] {
            grid_->commitEditor();
            GridTitleClick(column);
        });
    });
    connect(grid_, &TableGrid::mouseDown, this, [this](Qt::MouseButton b) { GridMouseDown(b); });
    connect(grid_, &TableGrid::mouseUp, this, [this](Qt::MouseButton b) { GridMouseUp(b); });
    connect(grid_, &TableGrid::popupRequested, this, [this](const QPoint& at) { openPopup(at); });

    // The lists the database's triggers announce; the recent players are no list.
    follows_ = &table == data.tblBanned || &table == data.tblImmune || &table == data.tblIllegal ||
               &table == data.tblMapAlias || &table == data.tblMessages;
    if (follows_) {
        connect(&data_, &TDataPalisor::notified, this, [this](const QString& event) {
            if (event == QLatin1String(ListsEvent))
                Guarded([this] { FollowChanges(); });
        });
        // Left editing: the change that waited is shown once the post or
        // cancel has finished.
        connect(&table_, &LiveTable::stateChanged, this, [this](LiveTable::State state) {
            if (state == LiveTable::State::Browse && followPending_)
                QMetaObject::invokeMethod(this, [this] { Guarded([this] { FollowChanges(); }); }, Qt::QueuedConnection);
        });
        data_.Listen({QLatin1String(ListsEvent)});
    }

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->setMenuBar(MainMenu);
    layout->addWidget(grid_);
    setFixedSize(look.clientSize.width(), look.clientSize.height() + MainMenu->sizeHint().height());
}

ListWindow::~ListWindow() = default;

void ListWindow::onTriggered(QAction* action, std::function<void()> handler)
{
    // A command works on what the grid shows, so text still in a cell editor
    // joins the row first.
    connect(action, &QAction::triggered, this, [this, handler = std::move(handler)] {
        commandRunning_ = true;
        Guarded([&] {
            grid_->commitEditor();
            handler();
        });
        commandRunning_ = false;
        if (followPending_)
            Guarded([this] { FollowChanges(); });
    });
}

int ListWindow::ShowModal()
{
    table_.setAfterPost([this](LiveTable& posted) { TableAfterPost(posted); });
    struct Unhook {
        LiveTable& table;
        ~Unhook() { table.setAfterPost({}); }
    } unhook{table_};
    // Rows read for an earlier look may have changed elsewhere since.
    if (follows_)
        data_.Resynchronise({&table_});
    UpdateTotal();
    if (const QScreen* screen = parentWidget() ? parentWidget()->screen() : QApplication::primaryScreen())
        move(screen->availableGeometry().center() - QPoint(width() / 2, height() / 2));
    return exec();
}

void ListWindow::UpdateTotal()
{
    PopupPlayerData->clear();
    const int count = data_.CountRows(&table_);
    miAction->menuAction()->setEnabled(count > 0);
    setWindowTitle(QString(captionFormat_).replace(QStringLiteral("%d"), QString::number(count)));
    if (count > 0)
        CopyMenuItems(miAction, PopupPlayerData);
    update();
}

void ListWindow::TableAfterPost(LiveTable& posted)
{
    const int row = posted.currentRow();
    posted.refresh();
    UpdateTotal();
    posted.setCurrentRow(row);
}

void ListWindow::FollowChanges()
{
    followPending_ = true;
    if (!isVisible() || commandRunning_ || QApplication::activeModalWidget() != this ||
        table_.state() != LiveTable::State::Browse || grid_->indexWidget(grid_->currentIndex()))
        return;
    followPending_ = false;
    // A fresh snapshot: the window's transaction began before the commit.
    data_.Resynchronise({&table_});
    UpdateTotal();
}

void ListWindow::FormShow() { table_.first(); }

void ListWindow::FormClose() { grid_->leaveRow(); }

void ListWindow::GridTitleClick(const QString& column) { data_.SortTable(column, &table_); }

void ListWindow::GridMouseDown(Qt::MouseButton button)
{
    if (button == Qt::RightButton)
        popupAutoOpen_ = false;
}

void ListWindow::GridMouseUp(Qt::MouseButton) { popupAutoOpen_ = true; }

void ListWindow::miExitClick() { close(); }

QString ListWindow::removeQuestion() const { return RemoveQuestion(table_.text(quotedColumn_)); }

void ListWindow::actRemoveExecute()
{
    if (!dialogs().confirm(removeQuestion()))
        return;
    table_.deleteCurrent();
    table_.refresh();
    UpdateTotal();
}

void ListWindow::openPopup(const QPoint& globalPos)
{
    if (popupAutoOpen_ && !PopupPlayerData->isEmpty())
        PopupPlayerData->popup(globalPos);
}

void ListWindow::changeEvent(QEvent* event)
{
    QDialog::changeEvent(event);
    // A dialog of its own has closed: a change that came meanwhile shows now.
    if (event->type() == QEvent::ActivationChange && isActiveWindow() && followPending_)
        QMetaObject::invokeMethod(this, [this] { Guarded([this] { FollowChanges(); }); }, Qt::QueuedConnection);
}

void ListWindow::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (!event->spontaneous())
        Guarded([this] { FormShow(); });
}

void ListWindow::done(int result)
{
    try {
        FormClose();
    } catch (const std::exception& e) {
        // The row could not be stored: the window stays open with it in editing.
        HandleApplicationError(e);
        return;
    }
    QDialog::done(result);
}

}  // namespace palisor
