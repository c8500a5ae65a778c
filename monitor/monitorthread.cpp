#include "monitor/monitorthread.h"

namespace palisor {

MonitorThread::MonitorThread(std::function<std::unique_ptr<TDataPalisor>()> makeData, TRcon& rcon)
    : engine_(new MonitorEngine(std::move(makeData), rcon))
{
    thread_.setObjectName(QStringLiteral("Palisor monitor"));
    engine_->moveToThread(&thread_);
    thread_.start();
    post([](MonitorEngine& engine) { engine.Open(); });
}

MonitorThread::~MonitorThread()
{
    Exit();
    // After every request made so far, which the interruption cuts short.
    post([](MonitorEngine& engine) {
        engine.Close();
        QThread::currentThread()->quit();
    });
    thread_.wait();
    delete engine_;
}

void MonitorThread::post(std::function<void(MonitorEngine&)> request)
{
    MonitorEngine* engine = engine_;
    QMetaObject::invokeMethod(engine, [engine, request = std::move(request)] { request(*engine); },
                              Qt::QueuedConnection);
}

void MonitorThread::Stop()
{
    engine_->InterruptPoll();
    post([](MonitorEngine& engine) { engine.Stop(); });
}

void MonitorThread::Exit() { engine_->InterruptAll(); }

}  // namespace palisor
