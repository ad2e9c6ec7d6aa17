#pragma once

// Told once the snapshot has been read at start-up (or found missing), after
// every loaded item exists and is connected.
class DataLoadedEventHandler
{
public:
    virtual ~DataLoadedEventHandler() = default;
    virtual void DataLoaded() = 0;
};
