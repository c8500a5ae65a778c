#pragma once

#include "core/dialogs.h"

#include <deque>
#include <functional>
#include <vector>

namespace palisor {

// A dialog seam for tests. Questions are answered from queues filled in
// advance; every call, answered or not, is recorded so the test can check
// what the administrator would have seen. A question with no queued answer
// fails the running test and gets the negative answer, so nothing blocks.
// Installs itself on construction and restores the previous seam on
// destruction; answers still queued then fail the test as well.
class ScriptedDialogs final : public DialogSeam {
public:
    enum class Kind { InputQuery, Confirm, OkCancel, Information, Message, Error, SaveFile, OpenFile };

    struct Call {
        Kind kind;
        QString caption;          // input caption, error title; empty otherwise
        QString text;             // prompt or message text
        QString value;            // input box: the initial value it was given
        FileDialogRequest request;  // file dialogs only
    };

    // Runs just before the answer is returned, while the dialog is "open".
    using Hook = std::function<void()>;

    ScriptedDialogs();
    ~ScriptedDialogs() override;
    ScriptedDialogs(const ScriptedDialogs&) = delete;
    ScriptedDialogs& operator=(const ScriptedDialogs&) = delete;

    void answerInput(const QString& text, Hook before = {});
    void cancelInput(Hook before = {});
    void answerConfirm(bool yes, Hook before = {});
    void answerOkCancel(bool ok, Hook before = {});
    // An empty file name answers as Cancel.
    void answerSaveFile(const QString& fileName, Hook before = {});
    void answerOpenFile(const QString& fileName, Hook before = {});
    // Runs while the next notice (information, message or error) is shown.
    void duringNextNotice(Hook hook);

    const std::vector<Call>& calls() const { return calls_; }
    std::vector<Call> callsOf(Kind kind) const;
    // The texts of every notice of one kind, in order.
    QStringList texts(Kind kind) const;
    const Call& lastCall() const;
    void clearCalls() { calls_.clear(); }
    // Queued answers and notice hooks not used yet.
    int pendingAnswers() const;
    // Drops whatever is still queued, so the destructor does not complain.
    void discardPending();

    bool inputQuery(const QString& caption, const QString& prompt, QString& value) override;
    bool confirm(const QString& text) override;
    bool okCancel(const QString& text) override;
    void information(const QString& text) override;
    void message(const QString& text) override;
    void error(const QString& title, const QString& text) override;
    QString saveFileName(const FileDialogRequest& request) override;
    QString openFileName(const FileDialogRequest& request) override;

    static const char* kindName(Kind kind);

private:
    struct Answer {
        bool positive = false;
        QString text;
        Hook before;
    };

    bool take(Kind kind, std::deque<Answer>& queue, const QString& what, Answer& answer);
    void notice(Kind kind, const QString& title, const QString& text);

    DialogSeam* previous_;
    std::vector<Call> calls_;
    std::deque<Answer> inputs_, confirms_, okCancels_, saveFiles_, openFiles_;
    std::deque<Hook> noticeHooks_;
};

}  // namespace palisor
