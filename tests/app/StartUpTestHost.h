#pragma once

#include <QStringList>

#include "app/StartUpHost.h"

// Records which start-up hooks ran, in order.
class StartUpTestHost : public StartUpHost
{
public:
    void PrepareLogging() override { steps << "PrepareLogging"; }
    void ManagersCreated() override { steps << "ManagersCreated"; }
    void SnapshotLoadFailed(const char*, const char*) override { steps << "SnapshotLoadFailed"; }
    void SnapshotLoaded() override { steps << "SnapshotLoaded"; }

    QStringList steps;
};
