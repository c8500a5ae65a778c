#include "core/errorhandler.h"
#include "editors/aboutme.h"
#include "editors/formactionresponse.h"
#include "tests/support/dialogs/scripteddialogs.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QDesktopServices>
#include <QFile>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include <functional>

using namespace palisor;

namespace {

QApplication& App()
{
    static int argc = 1;
    static char name[] = "viewer_test";
    static char* argv[] = {name, nullptr};
    // Never destroyed: Qt's own statics may be gone by the time a static
    // application object would be.
    static QApplication* app = new QApplication(argc, argv);
    return *app;
}

// Runs `inspect` on the modal window that the next call opens, then closes it.
template <typename Window>
void WhileModal(std::function<void(Window&)> inspect)
{
    QTimer::singleShot(0, [inspect] {
        auto* window = qobject_cast<Window*>(QApplication::activeModalWidget());
        ASSERT_NE(window, nullptr);
        inspect(*window);
        window->close();
    });
}

QByteArray ReadFile(const QString& path)
{
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::ReadOnly));
    return file.readAll();
}

// Receives the links the desktop is asked to open.
class UrlCatcher : public QObject {
    Q_OBJECT
public:
    UrlCatcher()
    {
        for (const char* scheme : {"http", "mailto"})
            QDesktopServices::setUrlHandler(QLatin1String(scheme), this, "open");
    }
    ~UrlCatcher() override
    {
        for (const char* scheme : {"http", "mailto"})
            QDesktopServices::unsetUrlHandler(QLatin1String(scheme));
    }
    QStringList opened;
public slots:
    void open(const QUrl& url) { opened.append(url.toString()); }
};

void Click(QWidget* widget)
{
    const QPointF at(2, 2);
    QMouseEvent press(QEvent::MouseButtonPress, at, widget->mapToGlobal(at), Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QMouseEvent release(QEvent::MouseButtonRelease, at, widget->mapToGlobal(at), Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(widget, &press);
    QApplication::sendEvent(widget, &release);
}

class ViewerTest : public ::testing::Test {
protected:
    void SetUp() override { App(); }
    ScriptedDialogs dialogs;
    QTemporaryDir dir;
};

}  // namespace

TEST_F(ViewerTest, ShowsTheReplyUnderItsSubject)
{
    const QString body = QStringLiteral("userinfo\r\n--------\r\nname                Bob\r\n");
    WhileModal<TformActionResponse>([&](TformActionResponse& viewer) {
        EXPECT_EQ(viewer.windowTitle(), "Results for dumpuser \"Bob\"");
        EXPECT_EQ(viewer.moMessage->document()->blockCount(), 4);
        EXPECT_EQ(viewer.moMessage->toPlainText(), "userinfo\n--------\nname                Bob\n");
        EXPECT_TRUE(viewer.moMessage->isReadOnly());
        EXPECT_EQ(viewer.moMessage->lineWrapMode(), QPlainTextEdit::WidgetWidth);
        EXPECT_EQ(viewer.size(), QSize(600, 300));
    });
    ShowResponse(body, QStringLiteral("dumpuser \"Bob\""));
}

TEST_F(ViewerTest, SaveAsWritesEveryLineWithCrLf)
{
    const QString path = dir.filePath("Response.txt");
    dialogs.answerSaveFile(path);
    WhileModal<TformActionResponse>([](TformActionResponse& viewer) { viewer.miSaveAs->trigger(); });
    // The no-break space in a name is kept as it is.
    ShowResponse(QString::fromLatin1("first\nsecond\r\nthird \xE9\xA0x"), QStringLiteral("status"));

    EXPECT_EQ(ReadFile(path), QByteArray("first\r\nsecond\r\nthird \xE9\xA0x\r\n"));
    const auto saves = dialogs.callsOf(ScriptedDialogs::Kind::SaveFile);
    ASSERT_EQ(saves.size(), 1u);
    EXPECT_EQ(saves[0].request.initialName, "Response.txt");
    EXPECT_TRUE(saves[0].request.confirmOverwrite);
}

TEST_F(ViewerTest, EmptyBodySavesAnEmptyFileAndCancelWritesNothing)
{
    const QString path = dir.filePath("empty.txt");
    dialogs.answerSaveFile(path);
    dialogs.answerSaveFile(QString());
    WhileModal<TformActionResponse>([](TformActionResponse& viewer) {
        viewer.miSaveAs->trigger();
        viewer.miSaveAs->trigger();
    });
    ShowResponse(QString(), QStringLiteral("x"));
    EXPECT_EQ(ReadFile(path), QByteArray());
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files).size(), 1);
}

TEST_F(ViewerTest, FailedSaveIsReportedAndTheViewerStaysOpen)
{
    QStringList reported;
    setApplicationErrorHandler([&](const QString& message) { reported.append(message); });
    dialogs.answerSaveFile(dir.filePath("no/such/folder/Response.txt"));
    bool stillOpen = false;
    WhileModal<TformActionResponse>([&](TformActionResponse& viewer) {
        viewer.miSaveAs->trigger();
        stillOpen = viewer.isVisible();
    });
    ShowResponse(QStringLiteral("text"), QStringLiteral("x"));
    setApplicationErrorHandler({});
    EXPECT_TRUE(stillOpen);
    ASSERT_EQ(reported.size(), 1);
    EXPECT_FALSE(reported[0].isEmpty());
}

TEST(WebCaption, DropsTheSchemeAndOneFinalSlash)
{
    EXPECT_EQ(WebCaption("http://palisor.example/"), "palisor.example");
    EXPECT_EQ(WebCaption("palisor.example"), "palisor.example");
    EXPECT_EQ(WebCaption("HTTP://palisor.example//"), "HTTP://palisor.example/");
    EXPECT_EQ(WebCaption("http://a/http://b"), "a/http://b");
    EXPECT_EQ(WebCaption("/"), "");
    EXPECT_EQ(WebCaption(""), "");
}

TEST_F(ViewerTest, AboutBoxShowsProductVersionAndLinks)
{
    UrlCatcher catcher;
    WhileModal<TAboutMeFM>([&](TAboutMeFM& box) {
        EXPECT_EQ(box.windowTitle(), "About Palisor");
        EXPECT_EQ(box.lbWritten->text(), "Palisor written by \nThe Palisor Developers");
        EXPECT_EQ(box.lbVersion->text(), "Version 1.0.4.14");
        EXPECT_EQ(box.urlVisit->text(), "palisor.example/manual");
        EXPECT_EQ(box.urlEmail->text(), "support@palisor.example");
        EXPECT_FALSE(box.Image1->pixmap().isNull());
        EXPECT_TRUE(box.btnOk->isDefault());
        EXPECT_TRUE(box.urlVisit->font().underline());

        const QColor before = box.urlVisit->palette().color(QPalette::WindowText);
        Click(box.urlVisit);
        Click(box.urlEmail);
        Click(box.urlPic);
        EXPECT_NE(box.urlVisit->palette().color(QPalette::WindowText), before);
        EXPECT_EQ(box.urlPic->palette().color(QPalette::WindowText), before);
    });
    ShowAbout(QStringLiteral("\r\nThe Palisor Developers"), QStringLiteral("http://palisor.example/manual/"),
              QStringLiteral("support@palisor.example"));
    EXPECT_EQ(catcher.opened, (QStringList{"http://palisor.example/manual", "mailto:support@palisor.example",
                                           "http://palisor.example/manual"}));
}

#include "viewer_test.moc"
