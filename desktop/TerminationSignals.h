#pragma once

#include <QObject>

class QSocketNotifier;

// Turns the signals that end a process politely (SIGTERM from a session or service manager,
// SIGHUP when the terminal goes, SIGINT) into a Qt signal on the main thread, so the program
// can end the way Exit ends it and keep what it saves on the way out. One instance at a time.
class TTerminationSignals : public QObject
{
    Q_OBJECT

public:
    explicit TTerminationSignals(QObject* parent = nullptr);
    ~TTerminationSignals() override;

Q_SIGNALS:
    void Received(int signalNumber);

private:
    void ReadSignal();

    QSocketNotifier* FNotifier = nullptr;
};
