#pragma once

#include <QTableView>

class QMenu;

namespace palisor {

class LiveTable;

// The grid over PLAYERS: whole rows, no cell editing, its selection kept in
// step with the table's shared current row, the PORT column always hidden,
// Ctrl+Delete asking to remove a row, and the pop-up menu rules of the main
// window.
class TPlayerGrid : public QTableView {
    Q_OBJECT
public:
    TPlayerGrid(LiveTable& players, QWidget* parent = nullptr);

    // The grid's pop-up menu; opened by a right click on a row and by the
    // keyboard's menu key.
    QMenu* PopupPlayers = nullptr;
    // Whether Ctrl+Delete may remove a row: not while another program's
    // polls own the table.
    bool DeleteAllowed = true;

    // Column widths from the fields' sizes, and PORT hidden.
    void ArrangeColumns();
    bool AutoPopup() const { return autoPopup_; }

signals:
    // Left click on a column title: the title is the field name.
    void TitleClicked(const QString& field);
    // Ctrl+Delete, confirmed: the monitor removes the row, so that it never
    // meets a poll's work on PLAYERS from another attachment.
    void DeleteRequested(const QString& clientId);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void followTable(int row);
    void openPopup(const QPoint& globalPos);

    LiveTable& players_;
    bool autoPopup_ = true;
};

}  // namespace palisor
