#pragma once

#include <QLabel>

namespace palisor {

// The status bar's one-line panel. However long its text, it never asks the
// window for more room: what does not fit is cut off with an ellipsis, and
// the whole text stays in its tool tip.
class TStatusPanel final : public QLabel {
    Q_OBJECT
public:
    explicit TStatusPanel(QWidget* parent = nullptr);

    void SetFullText(const QString& text);
    const QString& FullText() const { return fullText_; }

    QSize minimumSizeHint() const override;
    QSize sizeHint() const override;

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void elide();

    QString fullText_;
};

}  // namespace palisor
