#include "editors/aboutme.h"

#include "editors/formactionresponse.h"
#include "version.h"

#include <QApplication>
#include <QDesktopServices>
#include <QMouseEvent>
#include <QPixmap>
#include <QPushButton>
#include <QUrl>

#include <memory>

namespace palisor {
namespace {

// The desktop is given at most this much of a link's address.
constexpr int kMaxLinkLength = 1023;

const QColor kLinkColor(Qt::blue);
const QColor kVisitedColor(0x80, 0x00, 0x80);

QLabel* MakeLabel(QWidget* parent, int left, int top, const QString& text = QString())
{
    auto* label = new QLabel(text, parent);
    label->move(left, top);
    label->setFont(CourierFont(8));
    label->adjustSize();
    return label;
}

}  // namespace

TUrlLabel::TUrlLabel(int pointSize, QWidget* parent) : QLabel(parent)
{
    QFont underlined = CourierFont(pointSize);
    underlined.setUnderline(true);
    setFont(underlined);
    setCursor(Qt::PointingHandCursor);
    paintAs(kLinkColor);
}

QColor TUrlLabel::restingColor() const
{
    return visited_ && VisitedColor.isValid() ? VisitedColor : kLinkColor;
}

void TUrlLabel::paintAs(const QColor& color)
{
    QPalette p = palette();
    p.setColor(QPalette::WindowText, color);
    setPalette(p);
}

void TUrlLabel::enterEvent(QEnterEvent* event)
{
    // The highlight colour of a link is blue as well.
    paintAs(kLinkColor);
    QLabel::enterEvent(event);
}

void TUrlLabel::leaveEvent(QEvent* event)
{
    paintAs(restingColor());
    QLabel::leaveEvent(event);
}

void TUrlLabel::mouseReleaseEvent(QMouseEvent* event)
{
    QLabel::mouseReleaseEvent(event);
    if (event->button() != Qt::LeftButton || !rect().contains(event->position().toPoint()))
        return;
    if (!QDesktopServices::openUrl(QUrl(Url.left(kMaxLinkLength)))) {
        QApplication::beep();
        return;
    }
    visited_ = true;
    paintAs(restingColor());
}

TAboutMeFM::TAboutMeFM(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint | Qt::WindowStaysOnTopHint)
{
    setWindowTitle(QStringLiteral("About "));
    setFont(CourierFont(10));
    setFixedSize(437, 135);

    Image1 = new QLabel(this);
    Image1->setGeometry(18, 8, 81, 81);
    Image1->setScaledContents(true);
    Image1->setPixmap(QPixmap(QStringLiteral(":/palisor/about.png")));

    urlPic = new TUrlLabel(10, this);
    urlPic->setGeometry(18, 8, 81, 81);
    urlPic->setText(QStringLiteral(" "));

    lbWritten = MakeLabel(this, 114, 16);
    lbWritten->setWordWrap(true);
    lbWritten->resize(305, 33);
    lbVersion = MakeLabel(this, 114, 54);
    lbVisit = MakeLabel(this, 114, 78, QStringLiteral("Please visit "));

    urlVisit = new TUrlLabel(8, this);
    urlVisit->setGeometry(206, 78, 201, 16);
    urlVisit->VisitedColor = kVisitedColor;

    lbSupport = MakeLabel(this, 116, 102, QStringLiteral("For Support email "));

    urlEmail = new TUrlLabel(8, this);
    urlEmail->setGeometry(242, 102, 161, 16);
    urlEmail->VisitedColor = kVisitedColor;

    btnOk = new QPushButton(QStringLiteral("&Ok"), this);
    btnOk->setGeometry(22, 96, 73, 25);
    btnOk->setDefault(true);
    connect(btnOk, &QPushButton::clicked, this, &QDialog::accept);
}

void TAboutMeFM::Prepare(const QString& credit, const QString& webAddress, const QString& email)
{
    const QString product = QString::fromLatin1(ProductName);
    setWindowTitle(windowTitle() + product);
    // The credit starts with a line break so that it stands on the second line.
    lbWritten->setText(QString(product + QStringLiteral(" written by ") + credit).replace(QLatin1String("\r\n"), QLatin1String("\n")));
    lbVersion->setText(QStringLiteral("Version ") + QString::fromLatin1(ProductVersion));
    lbVersion->adjustSize();
    urlVisit->setText(WebCaption(webAddress));
    urlVisit->Url = QStringLiteral("http://") + urlVisit->text();
    urlPic->Url = urlVisit->Url;
    urlEmail->setText(email);
    urlEmail->Url = QStringLiteral("mailto:") + email;
}

QString WebCaption(const QString& address)
{
    QString caption = address;
    const qsizetype at = caption.indexOf(QLatin1String("http://"));
    if (at >= 0)
        caption.remove(at, 7);
    if (caption.endsWith(QLatin1Char('/')))
        caption.chop(1);
    return caption;
}

void ShowAbout(const QString& credit, const QString& webAddress, const QString& email, QWidget* parent)
{
    auto box = std::make_unique<TAboutMeFM>(parent);
    box->Prepare(credit, webAddress, email);
    box->exec();
}

}  // namespace palisor
