#pragma once

#include <QObject>

class QSocketNotifier;

namespace tray {

// Turns SIGTERM and SIGINT (the end of a desktop session, a kill) into a signal of the event
// loop, so the program ends as after a close request: a check under way is cancelled. One per
// process, made by main.
class StopSignals : public QObject
{
    Q_OBJECT

public:
    explicit StopSignals(QObject *parent = nullptr);
    ~StopSignals() override;

signals:
    void stopRequested();

private:
    void readSignal();

    QSocketNotifier *m_notifier = nullptr;
};

} // namespace tray
