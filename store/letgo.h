#pragma once

#include <QObject>
#include <QString>
#include <QTimer>
#include <functional>

namespace palisor {

class TDataPalisor;

// The events a maintenance cycle posts: every other attachment is asked to
// let go of the file, and told when the cycle has ended or was put off.
inline constexpr char LetGoEvent[] = "PALISOR_LET_GO";
inline constexpr char BackEvent[] = "PALISOR_BACK";

// Marks a maintenance cycle as running, for every program on the data
// folder: taken before the others are asked to let go, freed once they may
// come back. An attachment that has let go cannot hear the end of the cycle,
// so it looks here instead. The mark is an advisory lock on PALISOR.CYC,
// which the kernel drops when its holder ends, however it ends.
class CycleMark {
public:
    static constexpr const char FileName[] = "PALISOR.CYC";

    explicit CycleMark(const QString& dataFolder);
    ~CycleMark();
    CycleMark(const CycleMark&) = delete;
    CycleMark& operator=(const CycleMark&) = delete;

    // False when a cycle runs already, here or in another program.
    bool take();
    void release();

    // Whether some program (this one included) runs a cycle on the folder now.
    static bool Running(const QString& dataFolder);

private:
    QString path_;
    int fd_ = -1;
};

// Lets a data module's attachment go when a maintenance cycle asks for the
// file, and brings it back by itself when the cycle has ended or was put
// off. A row being typed into one of its tables keeps the attachment: the
// cycle waits for a later poll then. Lives on the thread of the data module,
// which needs an event loop to hear the request.
class LetGoWatch : public QObject {
    Q_OBJECT
public:
    // How often an attachment that has let go looks whether it may come back.
    static constexpr int BackCheckMs = 200;

    // comeBack reconnects the data module with what its owner shows; it
    // runs on the module's thread once the cycle has ended.
    LetGoWatch(TDataPalisor& data, std::function<void()> comeBack, QObject* parent = nullptr);

    bool away() const { return away_; }
    // Held (while a list window shows the module's tables), the attachment
    // stays: the cycle waits for a later poll.
    void hold(bool held) { held_ = held; }

signals:
    void letGo();
    void cameBack();

private:
    void heard(const QString& name);
    void tryComingBack();

    TDataPalisor& data_;
    std::function<void()> comeBack_;
    QTimer backTimer_;
    bool away_ = false;
    bool held_ = false;
};

}  // namespace palisor
