#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <thread>

#include <QByteArray>

#include "DataLoadedEventHandler.h"

class Data;
class Type;
class SnapshotImage;

// Thrown by value when a snapshot cannot be read or written.
class DataLoadFailure
{};
class DataSaveFailure
{};

// Writes the declared part of the store to the snapshot file and reads it
// back. Loading recreates items through the ordinary store operations, so
// every item-added and connected handler runs as it would at run time.
class DataSaver
{
public:
    explicit DataSaver(Data& data);
    DataSaver(); // works on the program's store `d`
    ~DataSaver();

    // Save every item of the type.
    void AddSavedType(const std::string& typeName);
    // Save the items of the type that are connected to at least one item of
    // `connectedTypeName`; repeated calls add further connected types.
    void AddSavedByConnectionType(const std::string& typeName,
                                  const std::string& connectedTypeName);
    void AddDataLoadedEventHandler(DataLoadedEventHandler* handler);
    void RemoveDataLoadedEventHandler(DataLoadedEventHandler* handler);

    // Reads the snapshot. A missing file is a first start, not an error.
    // Throws DataLoadFailure, after emptying the store, when it is malformed.
    void Load(const char* path);
    // Reads a snapshot held in memory, without telling the loaded-data
    // handlers. False, after emptying the store, when it is malformed.
    bool LoadBytes(const QByteArray& bytes);
    // Writes the snapshot through a temporary file that replaces `path` only
    // once it is complete and on disk. Never throws; false when abandoned,
    // which is logged.
    bool Save(const char* path);
    // The same, but only the store is read here; the file is written and
    // synced on a thread of its own, which the next save, WaitForSave or
    // the saver's end waits for. A failure is logged on the event loop.
    void SaveInBackground(const char* path);
    void WaitForSave();
    // False only while the last snapshot written to `path`, by either save,
    // holds the store as it is now and was written (or is being written)
    // without a failure.
    bool HasUnsavedChanges(const char* path) const;
    void EmitDataLoaded();

private:
    // The snapshot's bytes as the store holds them now, already partly
    // written to `fd`; null when the memory for them could not be had.
    std::shared_ptr<const SnapshotImage> Serialise(int fd) const;
    bool IsSaved(Type* type) const;
    bool IsItemSaved(Type* type, class Item* item) const;
    void NoteSaved(const char* path, std::uint64_t changes);

    Data& m_data;
    std::set<Type*> m_savedTypes;
    std::map<Type*, std::set<Type*>> m_savedByConnection;
    std::set<DataLoadedEventHandler*> m_dataLoadedHandlers;
    std::thread m_writer;
    // What the last save wrote: where, and the store's change count then.
    std::string m_savedPath;
    std::uint64_t m_savedChanges = 0;
    bool m_saved = false;
    std::atomic<bool> m_writeFailed{false};
};

extern DataSaver* dataSaver;
