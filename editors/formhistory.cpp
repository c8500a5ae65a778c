#include "editors/formhistory.h"

#include "core/dialogs.h"
#include "core/error.h"
#include "core/errorhandler.h"
#include "core/timing.h"
#include "editors/penaltymodel.h"
#include "editors/penaltyreader.h"
#include "editors/serverchart.h"
#include "store/datapalisor.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QProgressDialog>
#include <QPushButton>
#include <QTabWidget>
#include <QTableView>
#include <QTimer>
#include <QVBoxLayout>

namespace palisor {

const QList<int>& TformHistory::PeriodDays()
{
    static const QList<int> days{1, 7, 30};
    return days;
}

TformHistory::TformHistory(TDataPalisor& data, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint
                          | Qt::WindowMaximizeButtonHint),
      data_(data),
      events_(new PenaltyModel(this)),
      reader_(new PenaltyLogReader(data.database(), this)),
      typingPause_(new QTimer(this))
{
    typingPause_->setSingleShot(true);
    typingPause_->setInterval(TypingPauseMs);
    connect(typingPause_, &QTimer::timeout, this, [this] { Guarded([this] { RefreshPenalties(); }); });
    connect(reader_, &PenaltyLogReader::Found, this, &TformHistory::showPenalties);
    connect(reader_, &PenaltyLogReader::SearchFailed, this, [this](const QString& message) {
        lbEvents->setText(QString());
        HandleApplicationError(message);
        emit PenaltiesShown();
    });
    connect(reader_, &PenaltyLogReader::ExportProgress, this, [this](int written, int total) {
        if (exportProgress_) {
            exportProgress_->setMaximum(std::max(total, 1));
            exportProgress_->setValue(std::min(written, total));
        }
    });
    connect(reader_, &PenaltyLogReader::ExportDone, this, &TformHistory::exportDone);
    setWindowTitle(QStringLiteral("History"));
    Tabs = new QTabWidget(this);
    Tabs->addTab(buildPenalties(), QStringLiteral("&Penalties"));
    Tabs->addTab(buildServer(), QStringLiteral("&Server"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(6, 6, 6, 6);
    layout->addWidget(Tabs);
    resize(820, 520);
}

TformHistory::~TformHistory() = default;

QWidget* TformHistory::buildPenalties()
{
    auto* page = new QWidget;
    edFilter = new QLineEdit(page);
    edFilter->setPlaceholderText(QStringLiteral("Name or address"));
    edFilter->setClearButtonEnabled(true);
    cbKind = new QComboBox(page);
    cbKind->addItem(QStringLiteral("All kinds"), QString());
    cbKind->addItem(QStringLiteral("Kicks"), EventKind::Kick);
    cbKind->addItem(QStringLiteral("Bans"), EventKind::Ban);
    cbKind->addItem(QStringLiteral("Refusals"), EventKind::Refusal);
    cbKind->addItem(QStringLiteral("Unbans"), EventKind::Unban);
    btnExport = new QPushButton(QStringLiteral("&Export CSV..."), page);
    lbEvents = new QLabel(page);
    EventGrid = new QTableView(page);
    EventGrid->setModel(events_);
    EventGrid->setSelectionBehavior(QAbstractItemView::SelectRows);
    EventGrid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    EventGrid->setAlternatingRowColors(true);
    EventGrid->verticalHeader()->hide();
    EventGrid->verticalHeader()->setDefaultSectionSize(EventGrid->fontMetrics().height() + 6);
    EventGrid->horizontalHeader()->setStretchLastSection(true);

    auto* filter = new QLabel(QStringLiteral("&Find:"), page);
    filter->setBuddy(edFilter);
    auto* bar = new QHBoxLayout;
    bar->addWidget(filter);
    bar->addWidget(edFilter, 1);
    bar->addWidget(cbKind);
    bar->addWidget(btnExport);
    auto* layout = new QVBoxLayout(page);
    layout->addLayout(bar);
    layout->addWidget(EventGrid, 1);
    layout->addWidget(lbEvents);

    connect(edFilter, &QLineEdit::textChanged, typingPause_, qOverload<>(&QTimer::start));
    connect(cbKind, &QComboBox::currentIndexChanged, this, [this] { Guarded([this] { RefreshPenalties(); }); });
    connect(btnExport, &QPushButton::clicked, this, [this] { Guarded([this] { ExportPenalties(); }); });
    return page;
}

QWidget* TformHistory::buildServer()
{
    auto* page = new QWidget;
    cbPeriod = new QComboBox(page);
    cbPeriod->addItem(QStringLiteral("Last day"));
    cbPeriod->addItem(QStringLiteral("Last week"));
    cbPeriod->addItem(QStringLiteral("Last month"));
    ServerChart = new TServerChart(page);
    lbSamples = new QLabel(page);

    auto* bar = new QHBoxLayout;
    bar->addWidget(cbPeriod);
    bar->addWidget(lbSamples, 1);
    auto* layout = new QVBoxLayout(page);
    layout->addLayout(bar);
    layout->addWidget(ServerChart, 1);
    connect(cbPeriod, &QComboBox::currentIndexChanged, this, [this] { Guarded([this] { RefreshServer(); }); });
    return page;
}

int TformHistory::ShowModal()
{
    RefreshPenalties();
    RefreshServer();
    return exec();
}

void TformHistory::RefreshPenalties()
{
    // An import of a long list leaves an event per ban; the grid shows the
    // newest and Find narrows them down.
    typingPause_->stop();
    lbEvents->setText(QStringLiteral("Searching..."));
    reader_->Find(edFilter->text().trimmed(), cbKind->currentData().toString(), ShownEvents);
}

void TformHistory::showPenalties(const QList<PenaltyEvent>& events, int total)
{
    events_->setEvents(events);
    EventGrid->resizeColumnsToContents();
    lbEvents->setText(total > events_->rowCount()
                          ? QStringLiteral("The newest %1 of %2 events").arg(events_->rowCount()).arg(total)
                          : QStringLiteral("%1 events").arg(total));
    emit PenaltiesShown();
}

void TformHistory::ExportPenalties()
{
    FileDialogRequest request;
    request.title = QStringLiteral("Save As");
    request.filter = QStringLiteral("CSV Files (*.csv);;All Files (*.*)");
    request.defaultSuffix = QStringLiteral("csv");
    request.initialName = QStringLiteral("Penalties.csv");
    const QString fileName = dialogs().saveFileName(request);
    if (fileName.isEmpty())
        return;
    btnExport->setEnabled(false);
    exportProgress_ =
        new QProgressDialog(QStringLiteral("Exporting the penalties..."), QStringLiteral("Cancel"), 0, 1, this);
    exportProgress_->setWindowTitle(windowTitle());
    exportProgress_->setWindowModality(Qt::WindowModal);
    exportProgress_->setAutoClose(false);
    exportProgress_->setAutoReset(false);
    exportProgress_->setMinimumDuration(500);
    connect(exportProgress_, &QProgressDialog::canceled, reader_, &PenaltyLogReader::CancelExport);
    reader_->Export(fileName, edFilter->text().trimmed(), cbKind->currentData().toString());
}

void TformHistory::exportDone(const QString& error)
{
    delete exportProgress_;
    exportProgress_ = nullptr;
    btnExport->setEnabled(true);
    if (!error.isEmpty())
        HandleApplicationError(error);
    emit ExportFinished();
}

void TformHistory::RefreshServer()
{
    const QDateTime to = now();
    const int days = PeriodDays().value(cbPeriod->currentIndex(), 1);
    const QDateTime from = to.addDays(-days);
    const int stretchSeconds = std::max(1, days * 86'400 / TServerChart::Stretches);
    const ServerSeries shown =
        ServerChart->ShowStretches(ReadSampleStretches(data_.database(), data_.ServerId(), from, stretchSeconds), from, to);
    lbSamples->setText(shown.polls == 0 ? QStringLiteral("No polls in this period.")
                                        : QStringLiteral("%1 polls, at most %2 players")
                                              .arg(shown.polls)
                                              .arg(shown.peakPlayers));
}

void ShowHistory(TDataPalisor& data, QWidget* parent)
{
    if (!data.HasHistory())
        throw Error(QStringLiteral("The history is not available: the database could not be upgraded (see PALISOR.LOG)"));
    TformHistory window(data, parent);
    window.ShowModal();
}

}  // namespace palisor
