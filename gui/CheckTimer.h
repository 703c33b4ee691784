#pragma once

#include "config/Data.h"

#include <QTimer>

// The periodic-check timer behind the configuration's interface: its running state is the
// interval-checking option and its interval the check interval.
class TCheckTimer : public ICheckTimer
{
public:
    TCheckTimer();

    bool Enabled() const override { return FTimer.isActive(); }
    // Enabling a running timer leaves it running; only a stop and a start restart its interval.
    void SetEnabled(bool enabled) override;
    std::uint32_t Interval() const override { return FInterval; }
    // A running timer starts its interval anew.
    void SetInterval(std::uint32_t milliseconds) override;

    QTimer& Timer() { return FTimer; }

private:
    QTimer FTimer;
    std::uint32_t FInterval = DefaultInterval;
};
