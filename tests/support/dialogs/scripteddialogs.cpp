#include "tests/support/dialogs/scripteddialogs.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <utility>

namespace palisor {

ScriptedDialogs::ScriptedDialogs() : previous_(&dialogs()) { setDialogs(this); }

ScriptedDialogs::~ScriptedDialogs()
{
    setDialogs(previous_ == this ? nullptr : previous_);
    if (const int left = pendingAnswers(); left > 0)
        ADD_FAILURE() << left << " queued dialog answer(s) were never asked for";
}

const char* ScriptedDialogs::kindName(Kind kind)
{
    switch (kind) {
    case Kind::InputQuery: return "input box";
    case Kind::Confirm: return "confirmation";
    case Kind::OkCancel: return "OK/Cancel question";
    case Kind::Information: return "information";
    case Kind::Message: return "message";
    case Kind::Error: return "error";
    case Kind::SaveFile: return "save dialog";
    case Kind::OpenFile: return "open dialog";
    }
    return "dialog";
}

void ScriptedDialogs::answerInput(const QString& text, Hook before)
{
    inputs_.push_back({true, text, std::move(before)});
}

void ScriptedDialogs::cancelInput(Hook before) { inputs_.push_back({false, {}, std::move(before)}); }

void ScriptedDialogs::answerConfirm(bool yes, Hook before)
{
    confirms_.push_back({yes, {}, std::move(before)});
}

void ScriptedDialogs::answerOkCancel(bool ok, Hook before)
{
    okCancels_.push_back({ok, {}, std::move(before)});
}

void ScriptedDialogs::answerSaveFile(const QString& fileName, Hook before)
{
    saveFiles_.push_back({!fileName.isEmpty(), fileName, std::move(before)});
}

void ScriptedDialogs::answerOpenFile(const QString& fileName, Hook before)
{
    openFiles_.push_back({!fileName.isEmpty(), fileName, std::move(before)});
}

void ScriptedDialogs::duringNextNotice(Hook hook) { noticeHooks_.push_back(std::move(hook)); }

std::vector<ScriptedDialogs::Call> ScriptedDialogs::callsOf(Kind kind) const
{
    std::vector<Call> result;
    for (const Call& call : calls_)
        if (call.kind == kind)
            result.push_back(call);
    return result;
}

QStringList ScriptedDialogs::texts(Kind kind) const
{
    QStringList result;
    for (const Call& call : calls_)
        if (call.kind == kind)
            result << call.text;
    return result;
}

const ScriptedDialogs::Call& ScriptedDialogs::lastCall() const
{
    if (calls_.empty())
        throw std::logic_error("no dialog was shown");
    return calls_.back();
}

int ScriptedDialogs::pendingAnswers() const
{
    return static_cast<int>(inputs_.size() + confirms_.size() + okCancels_.size() + saveFiles_.size() +
                            openFiles_.size() + noticeHooks_.size());
}

void ScriptedDialogs::discardPending()
{
    inputs_.clear();
    confirms_.clear();
    okCancels_.clear();
    saveFiles_.clear();
    openFiles_.clear();
    noticeHooks_.clear();
}

bool ScriptedDialogs::take(Kind kind, std::deque<Answer>& queue, const QString& what, Answer& answer)
{
    if (queue.empty()) {
        ADD_FAILURE() << "unexpected " << kindName(kind) << " with no queued answer: \""
                      << what.toStdString() << "\"";
        return false;
    }
    answer = std::move(queue.front());
    queue.pop_front();
    if (answer.before)
        answer.before();
    return true;
}

bool ScriptedDialogs::inputQuery(const QString& caption, const QString& prompt, QString& value)
{
    calls_.push_back({Kind::InputQuery, caption, prompt, value, {}});
    Answer answer;
    if (!take(Kind::InputQuery, inputs_, caption + " / " + prompt, answer) || !answer.positive)
        return false;
    value = answer.text;
    return true;
}

bool ScriptedDialogs::confirm(const QString& text)
{
    calls_.push_back({Kind::Confirm, {}, text, {}, {}});
    Answer answer;
    return take(Kind::Confirm, confirms_, text, answer) && answer.positive;
}

bool ScriptedDialogs::okCancel(const QString& text)
{
    calls_.push_back({Kind::OkCancel, {}, text, {}, {}});
    Answer answer;
    return take(Kind::OkCancel, okCancels_, text, answer) && answer.positive;
}

void ScriptedDialogs::notice(Kind kind, const QString& title, const QString& text)
{
    calls_.push_back({kind, title, text, {}, {}});
    if (noticeHooks_.empty())
        return;
    Hook hook = std::move(noticeHooks_.front());
    noticeHooks_.pop_front();
    if (hook)
        hook();
}

void ScriptedDialogs::information(const QString& text) { notice(Kind::Information, {}, text); }

void ScriptedDialogs::message(const QString& text) { notice(Kind::Message, {}, text); }

void ScriptedDialogs::error(const QString& title, const QString& text) { notice(Kind::Error, title, text); }

QString ScriptedDialogs::saveFileName(const FileDialogRequest& request)
{
    calls_.push_back({Kind::SaveFile, request.title, {}, {}, request});
    Answer answer;
    return take(Kind::SaveFile, saveFiles_, request.title, answer) ? answer.text : QString();
}

QString ScriptedDialogs::openFileName(const FileDialogRequest& request)
{
    calls_.push_back({Kind::OpenFile, request.title, {}, {}, request});
    Answer answer;
    return take(Kind::OpenFile, openFiles_, request.title, answer) ? answer.text : QString();
}

}  // namespace palisor
