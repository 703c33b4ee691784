#pragma once

#include "desktop/TrayIcon.h"

#include <QIcon>
#include <QList>
#include <QMenu>
#include <QString>
#include <QStringList>

#include <memory>

// A notification area that records what the tray icon asks of it, and clicks as a test says.
class TFakeTrayArea : public TTrayArea
{
public:
    bool Available() const override { return IsAvailable; }

    bool Add(const QIcon& icon, const QString& tip) override
    {
        ++Adds;
        Record(icon, tip);
        Shown = Accepts;
        return Accepts;
    }

    bool Modify(const QIcon& icon, const QString& tip) override
    {
        ++Modifies;
        Record(icon, tip);
        return Accepts;
    }

    void Remove() override
    {
        ++Removes;
        ++*RemovesSeen;
        Shown = false;
    }

    void SetMenu(QMenu* menu) override { Menu = menu; }
    QRect Geometry() const override { return {}; }

    bool ShowMessage(const QString& title, const QString& text, const QIcon&) override
    {
        if (HasBalloon)
            Balloons.append(title + QLatin1Char('\n') + text);
        return HasBalloon;
    }

    bool SingleActivation() const override { return SingleActivations; }

    void SetAvailable(bool available)
    {
        IsAvailable = available;
        Q_EMIT AvailableChanged(available);
    }

    void Click(QSystemTrayIcon::ActivationReason reason) { Q_EMIT Activated(reason); }

    // A double click as the system tray reports it: its first click as a plain one first.
    void DoubleClick()
    {
        Click(QSystemTrayIcon::Trigger);
        Click(QSystemTrayIcon::DoubleClick);
    }

    void ClickBalloon() { Q_EMIT MessageClicked(); }

    bool IsAvailable = true;
    // Whether the area has a balloon of its own, and what it showed in it (title, a line break,
    // the text).
    bool HasBalloon = true;
    QStringList Balloons;
    // Reports clicks as a StatusNotifierItem host does.
    bool SingleActivations = false;
    bool Accepts = true;
    bool Shown = false;
    int Adds = 0;
    int Modifies = 0;
    int Removes = 0;
    // The same count, readable after the area has gone.
    std::shared_ptr<int> RemovesSeen = std::make_shared<int>(0);
    QIcon Image;
    QString Tip;
    // The cache key of every image given, in order.
    QList<qint64> Images;
    QMenu* Menu = nullptr;

private:
    void Record(const QIcon& icon, const QString& tip)
    {
        Image = icon;
        Tip = tip;
        Images.append(icon.cacheKey());
    }
};
