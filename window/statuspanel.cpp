#include "window/statuspanel.h"

#include <QFontMetrics>

namespace palisor {

TStatusPanel::TStatusPanel(QWidget* parent) : QLabel(parent)
{
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    setTextFormat(Qt::PlainText);
}

void TStatusPanel::SetFullText(const QString& text)
{
    fullText_ = text;
    setToolTip(text);
    elide();
}

QSize TStatusPanel::minimumSizeHint() const { return {0, QLabel::minimumSizeHint().height()}; }

QSize TStatusPanel::sizeHint() const { return {0, QLabel::sizeHint().height()}; }

void TStatusPanel::resizeEvent(QResizeEvent* event)
{
    QLabel::resizeEvent(event);
    elide();
}

void TStatusPanel::elide()
{
    setText(fontMetrics().elidedText(fullText_, Qt::ElideRight, contentsRect().width()));
}

}  // namespace palisor
