#pragma once

#include <QString>
#include <QStringList>

#include "app/StartUpHost.h"

// Records which start-up hooks ran, in order, and what failure was shown.
class StartUpTestHost : public StartUpHost
{
public:
    void PrepareLogging() override { steps << "PrepareLogging"; }
    void ManagersCreated() override { steps << "ManagersCreated"; }
    void SnapshotLoadFailed(const char* title, const char* text) override
    {
        steps << "SnapshotLoadFailed";
        failureTitle = title;
        failureText = text;
    }
    void SnapshotLoaded() override { steps << "SnapshotLoaded"; }

    QStringList steps;
    QString failureTitle;
    QString failureText;
};
