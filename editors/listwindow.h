#pragma once

#include <QDialog>
#include <QSize>
#include <QString>

#include <functional>

class QAction;
class QMenu;
class QMenuBar;

namespace palisor {

class TableGrid;
class LiveTable;
class TDataPalisor;

// What sets one list window apart from the others.
struct ListWindowLook {
    QString captionFormat;   // "%d" stands for the count
    QSize clientSize;        // below the menu bar
    QString gridName;
    bool editable = true;    // cells edited in place
    bool sortable = true;    // a title click sorts by that column
    QString removeCaption;   // the Action menu's remove command
    QString quotedColumn;    // its value is quoted in the remove question
};

// The list window: a grid over one of the data module's shared tables, the
// count of distinct entries in the caption, an "&Action" menu mirrored in the
// grid's right-click menu, ascending sort on a title click (kept by the
// shared table after the window has gone), and a re-read after every row
// stored while the window is open. A list window also follows what other
// programs commit to its list, told by the database's event.
class ListWindow : public QDialog {
    Q_OBJECT
public:
    ListWindow(TDataPalisor& data, LiveTable& table, const ListWindowLook& look, QWidget* parent);
    ~ListWindow() override;

    LiveTable& table() const { return table_; }
    TableGrid* grid() const { return grid_; }

    QMenuBar* MainMenu;
    QMenu* miFile;
    QAction* miExit;
    QMenu* miAction;
    QMenu* PopupPlayerData;
    QAction* actRemove;

    // The opener's part: the after-post hook on the table while the window is
    // shown modally, the count first. The hook is removed however it ends.
    int ShowModal();

    void UpdateTotal();
    virtual void TableAfterPost(LiveTable& table);
    virtual void FormShow();
    // Stores what the grid has pending; throws if it cannot be stored.
    virtual void FormClose();
    virtual void GridTitleClick(const QString& column);
    void GridMouseDown(Qt::MouseButton button);
    void GridMouseUp(Qt::MouseButton button);
    void miExitClick();
    virtual void actRemoveExecute();
    // Reads the list and its count again for a change committed elsewhere;
    // put off while a row is in editing or a command or dialog of the
    // window's own runs, so nothing moves under the user.
    void FollowChanges();

protected:
    TDataPalisor& data() const { return data_; }
    // Connects a menu command to a handler whose errors are reported.
    void onTriggered(QAction* action, std::function<void()> handler);
    virtual QString removeQuestion() const;

    void showEvent(QShowEvent* event) override;
    void changeEvent(QEvent* event) override;
    void done(int result) override;

private:
    void openPopup(const QPoint& globalPos);

    TDataPalisor& data_;
    LiveTable& table_;
    QString captionFormat_;
    TableGrid* grid_;
    QString quotedColumn_;
    // Whether a right click opens PopupPlayerData; off for one click after a
    // right press outside every cell.
    bool popupAutoOpen_ = true;
    bool follows_ = false;         // a list whose changes the database announces
    bool commandRunning_ = false;
    bool followPending_ = false;   // a change came while the re-read had to wait
};

// The confirmation of a removal: "Are you sure you want to remove " + value + "?".
QString RemoveQuestion(const QString& value);

}  // namespace palisor
