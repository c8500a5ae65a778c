#pragma once

#include <QDialog>
#include <QLabel>

class QPushButton;

namespace palisor {

// A label that behaves as a link: underlined blue, its highlight colour under
// the mouse pointer, and a click hands its address to the desktop.
class TUrlLabel : public QLabel {
    Q_OBJECT
public:
    TUrlLabel(int pointSize, QWidget* parent);

    QString Url;
    // Colour after a click; invalid keeps the link's own colour.
    QColor VisitedColor;
    bool Visited() const { return visited_; }

protected:
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    void paintAs(const QColor& color);
    QColor restingColor() const;
    bool visited_ = false;
};

// The About box: product name and version, the author credit, the maker's
// web site and the support address.
class TAboutMeFM : public QDialog {
    Q_OBJECT
public:
    explicit TAboutMeFM(QWidget* parent = nullptr);

    QLabel* Image1;
    TUrlLabel* urlPic;
    QLabel* lbWritten;
    QLabel* lbVersion;
    QLabel* lbVisit;
    TUrlLabel* urlVisit;
    QLabel* lbSupport;
    TUrlLabel* urlEmail;
    QPushButton* btnOk;

    // Fills the box for the given credit, web address and e-mail address.
    void Prepare(const QString& credit, const QString& webAddress, const QString& email);
};

// The web address as the About box shows it: without its first "http://"
// and without one final "/".
QString WebCaption(const QString& address);

// Opens the About box modally and returns when it is closed.
void ShowAbout(const QString& credit, const QString& webAddress, const QString& email, QWidget* parent = nullptr);

}  // namespace palisor
