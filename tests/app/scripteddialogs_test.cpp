#include "tests/support/dialogs/scripteddialogs.h"

#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

using palisor::ScriptedDialogs;
using Kind = ScriptedDialogs::Kind;

TEST(ScriptedDialogs, AnswersInOrderAndRecordsEveryCall)
{
    ScriptedDialogs dialogs;
    dialogs.answerConfirm(true);
    dialogs.answerConfirm(false);
    dialogs.answerInput("Bob");
    dialogs.cancelInput();
    dialogs.answerSaveFile("/tmp/x.txt");

    EXPECT_TRUE(palisor::dialogs().confirm("Kick?"));
    EXPECT_FALSE(palisor::dialogs().confirm("Ban?"));
    QString value = "initial";
    EXPECT_TRUE(palisor::dialogs().inputQuery("Caption", "Name:", value));
    EXPECT_EQ(value, "Bob");
    EXPECT_FALSE(palisor::dialogs().inputQuery("Caption", "Again:", value));
    EXPECT_EQ(value, "Bob");
    palisor::dialogs().error("Palisor", "broken");
    palisor::FileDialogRequest request;
    request.title = "Save As";
    EXPECT_EQ(palisor::dialogs().saveFileName(request), "/tmp/x.txt");

    ASSERT_EQ(dialogs.calls().size(), 6u);
    EXPECT_EQ(dialogs.calls()[2].value, "initial");
    EXPECT_EQ(dialogs.texts(Kind::Confirm), QStringList({"Kick?", "Ban?"}));
    EXPECT_EQ(dialogs.callsOf(Kind::Error).at(0).caption, "Palisor");
    EXPECT_EQ(dialogs.lastCall().request.title, "Save As");
    EXPECT_EQ(dialogs.pendingAnswers(), 0);
}

TEST(ScriptedDialogs, HookRunsWhileTheDialogIsOpen)
{
    ScriptedDialogs dialogs;
    std::size_t callsSeenByHook = 0;
    dialogs.answerOkCancel(true, [&] { callsSeenByHook = dialogs.calls().size(); });
    int noticeHookRuns = 0;
    dialogs.duringNextNotice([&] { ++noticeHookRuns; });

    EXPECT_TRUE(palisor::dialogs().okCancel("Delete record?"));
    EXPECT_EQ(callsSeenByHook, 1u);
    palisor::dialogs().information("one");
    palisor::dialogs().information("two");
    EXPECT_EQ(noticeHookRuns, 1);
}

TEST(ScriptedDialogs, UnexpectedQuestionFailsAndAnswersNegatively)
{
    bool answer = true;
    EXPECT_NONFATAL_FAILURE(
        {
            ScriptedDialogs dialogs;
            answer = palisor::dialogs().confirm("Delete all?");
        },
        "unexpected confirmation with no queued answer: \"Delete all?\"");
    EXPECT_FALSE(answer);
}

TEST(ScriptedDialogs, UnusedAnswerFailsAndPreviousSeamComesBack)
{
    palisor::DialogSeam* before = &palisor::dialogs();
    EXPECT_NONFATAL_FAILURE(
        {
            ScriptedDialogs dialogs;
            dialogs.answerOpenFile("/tmp/a.txt");
            EXPECT_EQ(&palisor::dialogs(), &dialogs);
        },
        "1 queued dialog answer(s) were never asked for");
    EXPECT_EQ(&palisor::dialogs(), before);
}
