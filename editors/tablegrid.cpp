#include "editors/tablegrid.h"

#include "core/dialogs.h"
#include "core/errorhandler.h"
#include "store/livetable.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QDateTime>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QSqlField>
#include <QSqlRecord>
#include <QSqlTableModel>
#include <QStyleOptionHeader>
#include <QStyledItemDelegate>
#include <QTimer>
#include <QValidator>

#include <algorithm>

namespace palisor {

namespace {

// Refuses characters beyond the highest one the column's character set holds.
class CharacterSetValidator final : public QValidator {
public:
    CharacterSetValidator(char16_t highest, QObject* parent) : QValidator(parent), highest_(highest) {}
    State validate(QString& input, int&) const override
    {
        for (const QChar c : input)
            if (c.unicode() > highest_)
                return Invalid;
        return Acceptable;
    }

private:
    char16_t highest_;
};

// Times show in full, to the second, in one fixed form. A text cell's editor
// takes only what its column can store: no more characters than the column
// declares, and only characters of its character set, so that leaving the
// row never fails on what was typed.
class CellDelegate final : public QStyledItemDelegate {
public:
    CellDelegate(LiveTable& table, QObject* parent) : QStyledItemDelegate(parent), table_(table) {}

    QString displayText(const QVariant& value, const QLocale& locale) const override
    {
        if (value.metaType().id() == QMetaType::QDateTime)
            return value.toDateTime().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"));
        return QStyledItemDelegate::displayText(value, locale);
    }

    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        QWidget* editor = QStyledItemDelegate::createEditor(parent, option, index);
        auto* line = qobject_cast<QLineEdit*>(editor);
        const QStringList columns = table_.columnNames();
        if (!line || index.column() >= columns.size())
            return editor;
        const QString& column = columns[index.column()];
        const QString characterSet = table_.characterSet(column);
        if (characterSet.isEmpty())
            return editor;
        line->setMaxLength(table_.declaredLength(column));
        if (characterSet == QLatin1String("ISO8859_1"))
            line->setValidator(new CharacterSetValidator(0xFF, line));
        return editor;
    }

private:
    LiveTable& table_;
};

// The largest width for the widest columns at which all columns fit, none
// going below its least width.
int FittingCap(const QList<int>& wanted, const QList<int>& least, int available)
{
    auto total = [&](int cap) {
        int sum = 0;
        for (int c = 0; c < wanted.size(); ++c)
            sum += std::max(std::min(wanted[c], cap), least[c]);
        return sum;
    };
    int low = 0;
    int high = *std::max_element(wanted.begin(), wanted.end());
    while (low < high) {
        const int cap = (low + high + 1) / 2;
        if (total(cap) <= available)
            low = cap;
        else
            high = cap - 1;
    }
    return low;
}

}  // namespace

RowIndicator::RowIndicator(LiveTable& table, QWidget* parent)
    : QHeaderView(Qt::Vertical, parent), table_(table)
{
    setSectionResizeMode(QHeaderView::Fixed);
    setSectionsClickable(false);
}

QSize RowIndicator::sizeHint() const
{
    return {fontMetrics().horizontalAdvance(QLatin1Char('W')) + 6, QHeaderView::sizeHint().height()};
}

void RowIndicator::paintSection(QPainter* painter, const QRect& rect, int logicalIndex) const
{
    QStyleOptionHeader option;
    initStyleOption(&option);
    option.rect = rect;
    option.section = logicalIndex;
    option.textAlignment = Qt::AlignCenter;
    if (logicalIndex == table_.currentRow()) {
        switch (table_.state()) {
        case LiveTable::State::Insert:
            option.text = QStringLiteral("*");
            break;
        case LiveTable::State::Edit:
            option.text = QStringLiteral("I");
            break;
        default:
            option.text = QString(QChar(0x25BA));
            break;
        }
    }
    painter->save();
    style()->drawControl(QStyle::CE_Header, &option, painter, this);
    painter->restore();
}

TableGrid::TableGrid(LiveTable& table, bool editable, QWidget* parent)
    : QTableView(parent), table_(table), editable_(editable)
{
    setVerticalHeader(new RowIndicator(table, this));
    setModel(table.model());

    setSelectionMode(QAbstractItemView::SingleSelection);
    setSelectionBehavior(editable ? QAbstractItemView::SelectItems : QAbstractItemView::SelectRows);
    setEditTriggers(editable ? QAbstractItemView::AnyKeyPressed | QAbstractItemView::EditKeyPressed |
                                   QAbstractItemView::DoubleClicked | QAbstractItemView::SelectedClicked
                             : QAbstractItemView::NoEditTriggers);
    setTabKeyNavigation(true);
    setShowGrid(true);
    setWordWrap(false);
    setCornerButtonEnabled(false);
    setContextMenuPolicy(Qt::DefaultContextMenu);

    // The current row stays marked while another control has the focus.
    QPalette colours = palette();
    for (auto role : {QPalette::Highlight, QPalette::HighlightedText})
        colours.setColor(QPalette::Inactive, role, colours.color(QPalette::Active, role));
    setPalette(colours);

    setItemDelegate(new CellDelegate(table, this));
    // What the view itself does to the table (storing a cell, adding or
    // removing a row, re-reading) cannot raise an error through Qt's event
    // handling; its failures arrive here and go where every error goes.
    connect(&table_, &LiveTable::operationFailed, this,
            [](const QString& message) { HandleApplicationError(message); });

    QHeaderView* titles = horizontalHeader();
    titles->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    titles->setSectionsMovable(false);
    titles->setSectionResizeMode(QHeaderView::Fixed);
    titles->setHighlightSections(false);
    titles->setSortIndicatorShown(false);
    titles->setSectionsClickable(true);
    connect(titles, &QHeaderView::sectionClicked, this, [this](int column) {
        const QStringList names = table_.columnNames();
        if (column >= 0 && column < names.size())
            emit titleClicked(names[column]);
    });

    connect(&table_, &LiveTable::currentRowChanged, this, [this] { showTableRow(); });
    connect(&table_, &LiveTable::stateChanged, this, [this] { verticalHeader()->viewport()->update(); });
    connect(table_.model(), &QAbstractItemModel::modelReset, this, [this] {
        sizeColumns();
        showTableRow();
    });
    connect(table_.model(), &QAbstractItemModel::rowsInserted, this, [this] { showTableRow(); });
    connect(table_.model(), &QAbstractItemModel::rowsRemoved, this, [this] { showTableRow(); });
    verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);
    sizeColumns();
    showTableRow();
}

void TableGrid::sizeColumns()
{
    const QStringList names = table_.columnNames();
    if (names.isEmpty())
        return;
    const QSqlRecord record = table_.model()->record();
    const int digit = fontMetrics().horizontalAdvance(QLatin1Char('0'));
    const QFontMetrics titleMetrics = horizontalHeader()->fontMetrics();
    QList<int> wanted;
    QList<int> least;
    for (int column = 0; column < names.size(); ++column) {
        int characters = table_.isOpen() ? table_.declaredLength(names[column]) : 0;
        switch (record.field(column).metaType().id()) {
        case QMetaType::Int:
        case QMetaType::LongLong:
            characters = 11;
            break;
        case QMetaType::QDateTime:
            characters = 19;
            break;
        default:
            break;
        }
        least << titleMetrics.horizontalAdvance(names[column]) + 2 * titleMetrics.horizontalAdvance(QLatin1Char('0'));
        wanted << std::max(std::max(characters, 1) * digit + 6, least.last());
    }
    // Long text columns are narrowed until every column is in sight: the
    // columns cannot be resized by the user.
    const int available = width() - verticalHeader()->sizeHint().width() - 2 * frameWidth() -
                          style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, this);
    const int cap = FittingCap(wanted, least, available);
    for (int column = 0; column < names.size(); ++column)
        setColumnWidth(column, std::max(std::min(wanted[column], cap), least[column]));
}

void TableGrid::commitEditor()
{
    if (state() != QAbstractItemView::EditingState)
        return;
    if (QWidget* editor = indexWidget(currentIndex())) {
        commitData(editor);
        closeEditor(editor, QAbstractItemDelegate::NoHint);
    }
}

bool TableGrid::pending() const
{
    return table_.state() == LiveTable::State::Edit || table_.state() == LiveTable::State::Insert;
}

void TableGrid::leaveRow()
{
    commitEditor();
    if (table_.state() == LiveTable::State::Insert && !table_.isModified())
        table_.cancel();
    else if (pending())
        table_.post();
}

void TableGrid::showTableRow()
{
    const int row = table_.currentRow();
    const int column = std::max(currentIndex().column(), 0);
    // The table moved under an open cell editor (commands take its text into
    // the row first): closed here, it cannot write into the row moved to.
    if (state() == QAbstractItemView::EditingState && currentIndex().row() != row) {
        if (QWidget* editor = indexWidget(currentIndex()))
            closeEditor(editor, QAbstractItemDelegate::NoHint);
    }
    const bool outer = following_;
    following_ = true;
    if (row < 0)
        selectionModel()->clearCurrentIndex();
    else if (currentIndex().row() != row)
        setCurrentIndex(model()->index(row, column));
    following_ = outer;
    if (row >= 0)
        scrollTo(model()->index(row, column));
    verticalHeader()->viewport()->update();
}

void TableGrid::currentChanged(const QModelIndex& current, const QModelIndex& previous)
{
    QTableView::currentChanged(current, previous);
    if (following_ || !current.isValid() || current.row() == table_.currentRow())
        return;
    const int target = current.row();
    try {
        leaveRow();
        table_.setCurrentRow(target);
    } catch (const std::exception& e) {
        // The row that could not be stored stays current, still in editing.
        QTimer::singleShot(0, this, [this] { showTableRow(); });
        HandleApplicationError(e);
    }
}

// While the table adds, drops or re-reads rows, the view moves its current
// cell on its own; the table already knows where its current row is.
void TableGrid::rowsAboutToBeRemoved(const QModelIndex& parent, int start, int end)
{
    const bool outer = following_;
    following_ = true;
    QTableView::rowsAboutToBeRemoved(parent, start, end);
    following_ = outer;
}

void TableGrid::rowsInserted(const QModelIndex& parent, int start, int end)
{
    const bool outer = following_;
    following_ = true;
    QTableView::rowsInserted(parent, start, end);
    following_ = outer;
}

void TableGrid::reset()
{
    const bool outer = following_;
    following_ = true;
    QTableView::reset();
    following_ = outer;
}

void TableGrid::changeEvent(QEvent* event)
{
    QTableView::changeEvent(event);
    if (event->type() == QEvent::FontChange) {
        verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);
        sizeColumns();
    }
}

void TableGrid::resizeEvent(QResizeEvent* event)
{
    QTableView::resizeEvent(event);
    sizeColumns();
}

void TableGrid::appendRow()
{
    if (table_.state() == LiveTable::State::Insert && !table_.isModified())
        return;
    leaveRow();
    table_.insert();
}

void TableGrid::deleteRow()
{
    if (table_.rowCount() == 0 || !dialogs().okCancel(QStringLiteral("Delete record?")))
        return;
    if (table_.state() == LiveTable::State::Insert)
        table_.cancel();
    else
        table_.deleteCurrent();
}

void TableGrid::keyPressEvent(QKeyEvent* event)
{
    const auto modifiers = event->modifiers() & ~Qt::KeypadModifier;
    switch (event->key()) {
    case Qt::Key_Escape:
        // Abandons the change in the row; never closes the window.
        Guarded([this] {
            if (pending())
                table_.cancel();
        });
        event->accept();
        return;
    case Qt::Key_Insert:
        if (editable_ && modifiers == Qt::NoModifier) {
            Guarded([this] { appendRow(); });
            event->accept();
            return;
        }
        break;
    case Qt::Key_Down:
        if (editable_ && modifiers == Qt::NoModifier &&
            (table_.rowCount() == 0 || currentIndex().row() == table_.rowCount() - 1)) {
            Guarded([this] { appendRow(); });
            event->accept();
            return;
        }
        break;
    case Qt::Key_Delete:
        if (modifiers == Qt::ControlModifier) {
            Guarded([this] { deleteRow(); });
            event->accept();
            return;
        }
        break;
    default:
        break;
    }
    QTableView::keyPressEvent(event);
}

void TableGrid::mousePressEvent(QMouseEvent* event)
{
    if (!indexAt(event->position().toPoint()).isValid()) {
        emit mouseDown(event->button());
        event->accept();
        return;
    }
    QTableView::mousePressEvent(event);
}

void TableGrid::mouseReleaseEvent(QMouseEvent* event)
{
    // The popup is decided on the release, before the release handler runs.
    if (event->button() == Qt::RightButton)
        emit popupRequested(event->globalPosition().toPoint());
    QTableView::mouseReleaseEvent(event);
    emit mouseUp(event->button());
}

void TableGrid::contextMenuEvent(QContextMenuEvent* event)
{
    // Mouse clicks open the popup on the release; only the menu key comes here.
    if (event->reason() == QContextMenuEvent::Keyboard)
        emit popupRequested(event->globalPos());
    event->accept();
}

void TableGrid::focusOutEvent(QFocusEvent* event)
{
    QTableView::focusOutEvent(event);
    const QWidget* next = QApplication::focusWidget();
    const bool stillHere = next && (next == this || isAncestorOf(next));
    if (!stillHere && event->reason() != Qt::PopupFocusReason &&
        table_.state() == LiveTable::State::Insert && !table_.isModified())
        Guarded([this] { table_.cancel(); });
}

}  // namespace palisor
