#pragma once

#include "store/history.h"

#include <QDialog>

class QComboBox;
class QLabel;
class QLineEdit;
class QProgressDialog;
class QPushButton;
class QTabWidget;
class QTableView;
class QTimer;

namespace palisor {

class PenaltyLogReader;
class PenaltyModel;
class TDataPalisor;
class TServerChart;

// The History window: every penalty on record, and the server's players and
// ping over a period. Read-only; opened from the Edit menu.
class TformHistory : public QDialog {
    Q_OBJECT
public:
    explicit TformHistory(TDataPalisor& data, QWidget* parent = nullptr);
    ~TformHistory() override;

    // Reads both tabs and shows the window modally.
    int ShowModal();

    // The Penalties tab: a look at the log is posted and the grid filled
    // when it is done (PenaltiesShown); typing in Find looks once the typing
    // pauses. The export writes every event the filters let through, also
    // those past the grid's newest ShownEvents, while the window answers; a
    // progress box can cancel it (ExportFinished at the end).
    void RefreshPenalties();
    void ExportPenalties();
    // The Server tab: the samples of the chosen period, one query.
    void RefreshServer();

    QTabWidget* Tabs;
    QLineEdit* edFilter;
    QComboBox* cbKind;
    QPushButton* btnExport;
    QTableView* EventGrid;
    QLabel* lbEvents;
    QComboBox* cbPeriod;
    TServerChart* ServerChart;
    QLabel* lbSamples;

    // The periods of the Server tab, in days.
    static const QList<int>& PeriodDays();
    // The grid shows at most this many events; the export writes them all.
    static constexpr int ShownEvents = 2000;
    // Find looks this long after the last keystroke.
    static constexpr int TypingPauseMs = 300;

signals:
    void PenaltiesShown();
    void ExportFinished();

private:
    QWidget* buildPenalties();
    QWidget* buildServer();
    void showPenalties(const QList<PenaltyEvent>& events, int total);
    void exportDone(const QString& error);

    TDataPalisor& data_;
    PenaltyModel* events_;
    PenaltyLogReader* reader_;
    QTimer* typingPause_;
    QProgressDialog* exportProgress_ = nullptr;
};

// The Edit menu's opener; throws palisor::Error before opening when the
// database has no penalty log.
void ShowHistory(TDataPalisor& data, QWidget* parent);

}  // namespace palisor
