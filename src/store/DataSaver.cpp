#include "DataSaver.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include <QByteArray>
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QString>
#include <QtEndian>

#include <fcntl.h>
#include <unistd.h>

#include "Data.h"
#include "SnapshotLinker.h"
#include "base/Log.h"
#include "base/LogCategory.h"

DataSaver* dataSaver = nullptr;

// The snapshot's bytes, gathered in chunks so that a store of a million
// items never copies a growing buffer whole. Each chunk, once full, goes to
// the temporary file at once and is let go: holding the whole image until
// it was written cost a large store its size again in memory at every
// save. What is left is written later, on whichever thread does the
// writing.
class SnapshotImage
{
public:
    explicit SnapshotImage(int fd) : m_fd(fd) {}

    template <class T> void WriteType(T value)
    {
        if constexpr (std::is_same_v<T, bool>) {
            const char byte = value ? 1 : 0;
            Write(&byte, 1);
        } else {
            const T le = qToLittleEndian(value);
            Write(&le, sizeof le);
        }
    }

    void WriteString(const std::string& text)
    {
        WriteType<std::int32_t>(static_cast<std::int32_t>(text.size()));
        Write(text.data(), text.size());
    }

    // Where the next byte goes, for a count known only later.
    std::size_t Position() const { return m_written; }
    void PatchInt32(std::size_t position, std::int32_t value)
    {
        const std::int32_t le = qToLittleEndian(value);
        const auto* bytes = reinterpret_cast<const char*>(&le);
        for (std::size_t n = 0; n < sizeof le; ++n, ++position) {
            char* chunk = m_chunks[position / kChunkSize].get();
            if (chunk)
                chunk[position % kChunkSize] = bytes[n];
            else if (m_error == 0 && ::pwrite(m_fd, &bytes[n], 1, off_t(position)) != 1)
                m_error = errno != 0 ? errno : ENOSPC;
        }
    }

    // Writes what is still held and syncs the file; 0 or the first error
    // of the system, here or while the chunks went out.
    int Finish() const
    {
        if (m_error != 0)
            return m_error;
        for (std::size_t n = m_sent; n < m_chunks.size(); ++n) {
            const std::size_t size =
                n + 1 < m_chunks.size() ? kChunkSize : m_written - n * kChunkSize;
            if (const int error = WriteAll(m_fd, m_chunks[n].get(), size))
                return error;
        }
        return ::fsync(m_fd) == 0 ? 0 : errno;
    }

private:
    static constexpr std::size_t kChunkSize = 1 << 20;

    void Write(const void* data, std::size_t n)
    {
        const auto* bytes = static_cast<const char*>(data);
        while (n > 0) {
            const std::size_t used = m_written % kChunkSize;
            if (used == 0 && m_written / kChunkSize == m_chunks.size())
                m_chunks.emplace_back(new char[kChunkSize]);
            const std::size_t take = std::min(n, kChunkSize - used);
            std::memcpy(m_chunks.back().get() + used, bytes, take);
            m_written += take;
            bytes += take;
            n -= take;
            if (used + take == kChunkSize)
                SendFullChunk();
        }
    }

    // After a failed write the rest is still gathered and dropped, so the
    // store is read to the end as usual and the save then fails as a whole.
    void SendFullChunk()
    {
        if (m_error == 0)
            m_error = WriteAll(m_fd, m_chunks.back().get(), kChunkSize);
        m_chunks.back().reset();
        m_sent = m_chunks.size();
    }

    static int WriteAll(int fd, const char* bytes, std::size_t size)
    {
        std::size_t done = 0;
        while (done < size) {
            ssize_t n = ::write(fd, bytes + done, size - done);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return n < 0 ? errno : ENOSPC;
            done += static_cast<std::size_t>(n);
        }
        return 0;
    }

    int m_fd;
    // Null where a chunk has already gone to the file.
    std::vector<std::unique_ptr<char[]>> m_chunks;
    std::size_t m_sent = 0; // chunks already in the file
    std::size_t m_written = 0;
    int m_error = 0;
};

namespace {

// Reads the snapshot held in memory; running short is a DataLoadFailure.
class SnapshotReader
{
public:
    explicit SnapshotReader(const QByteArray& bytes)
        : m_data(bytes.constData()), m_size(static_cast<std::size_t>(bytes.size()))
    {}

    template <class T> T ReadType()
    {
        if constexpr (std::is_same_v<T, bool>) {
            return Take(1)[0] != 0;
        } else {
            T value;
            std::memcpy(&value, Take(sizeof value), sizeof value);
            return qFromLittleEndian(value);
        }
    }

    // A count or length from the file, refused when negative.
    std::int32_t ReadCount()
    {
        const auto n = ReadType<std::int32_t>();
        if (n < 0)
            throw DataLoadFailure();
        return n;
    }

    // The text is taken up to the first zero byte among the stored bytes.
    std::string ReadString()
    {
        const auto n = static_cast<std::size_t>(ReadCount());
        const char* bytes = Take(n);
        return std::string(bytes, strnlen(bytes, n));
    }

    std::uint8_t ReadByte() { return static_cast<std::uint8_t>(Take(1)[0]); }
    std::size_t Remaining() const { return m_size - m_pos; }

private:
    const char* Take(std::size_t n)
    {
        if (n > m_size - m_pos)
            throw DataLoadFailure();
        const char* at = m_data + m_pos;
        m_pos += n;
        return at;
    }

    const char* m_data;
    std::size_t m_size;
    std::size_t m_pos = 0;
};

struct LoadedItem
{
    std::int32_t id;
    Type* type;
    std::string value;
};

// Finds a record by its file id. Ids are normally 1..n in order, so a
// plain table serves; scattered ids from an odd file fall back to a hash.
class RecordIndex
{
public:
    explicit RecordIndex(const std::vector<LoadedItem>& records)
    {
        const std::int64_t maxId = records.empty() ? 0 : records.back().id;
        const bool dense = !records.empty() && records.front().id >= 0 &&
                           maxId <= std::int64_t(records.size()) * 4 + 1024;
        if (dense) {
            m_table.assign(static_cast<std::size_t>(maxId) + 1, kNone);
            for (std::size_t n = 0; n < records.size(); ++n)
                m_table[static_cast<std::size_t>(records[n].id)] = static_cast<std::uint32_t>(n);
        } else {
            for (std::size_t n = 0; n < records.size(); ++n)
                m_hash.emplace(records[n].id, static_cast<std::uint32_t>(n));
        }
    }

    // The record's position, or false when no retained record has the id.
    bool Find(std::int32_t id, std::uint32_t& position) const
    {
        if (!m_table.empty()) {
            if (id < 0 || static_cast<std::size_t>(id) >= m_table.size() ||
                m_table[static_cast<std::size_t>(id)] == kNone)
                return false;
            position = m_table[static_cast<std::size_t>(id)];
            return true;
        }
        auto it = m_hash.find(id);
        if (it == m_hash.end())
            return false;
        position = it->second;
        return true;
    }

private:
    static constexpr std::uint32_t kNone = 0xffffffffu;
    std::vector<std::uint32_t> m_table;
    std::unordered_map<std::int32_t, std::uint32_t> m_hash;
};

QString TemporaryName(const char* path)
{
    for (int n = 1;; ++n) {
        QString name = QString("%1.%2").arg(QFile::decodeName(path)).arg(n);
        if (!QFileInfo::exists(name))
            return name;
    }
}

// A save that did not happen must not go unnoticed: the user's last changes
// are then only in memory. The old snapshot is still whole; the line says so.
bool SaveAbandoned(const char* path, int error)
{
    Log(LogCategory::Snapshot, 1,
        QStringLiteral("Could not save the snapshot to %1: %2. The previous snapshot is kept.")
            .arg(QFile::decodeName(path), QString::fromLocal8Bit(std::strerror(error))));
    return false;
}

void SyncFolderOf(const QString& path)
{
    const QByteArray folder = QFile::encodeName(QFileInfo(path).absolutePath());
    int fd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

// A snapshot being written: the temporary file is made before the store is
// read, so that from the start of a save to its end a new file exists
// beside the old one, and replaces it only once complete and on disk.
struct PendingSnapshot
{
    std::string path;
    QByteArray temporaryPath;
    int fd = -1;
    int error = 0;

    explicit PendingSnapshot(const char* target)
        : path(target), temporaryPath(QFile::encodeName(TemporaryName(target)))
    {
        fd = ::open(temporaryPath.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        error = fd < 0 ? errno : 0;
    }
    ~PendingSnapshot()
    {
        if (fd >= 0)
            ::close(fd);
    }
    PendingSnapshot(const PendingSnapshot&) = delete;
    PendingSnapshot& operator=(const PendingSnapshot&) = delete;

    // Writes the image (none: the store could not be read) and swaps the file
    // in; 0 or the system's error. Any thread.
    int Finish(const SnapshotImage* image)
    {
        if (fd < 0)
            return error;
        int result = image ? image->Finish() : ENOMEM;
        if (::close(fd) != 0 && result == 0)
            result = errno;
        fd = -1;
        if (result != 0)
            return result;
        // rename() swaps the new snapshot in atomically: at every instant the
        // path holds either the old complete file or the new one.
        if (::rename(temporaryPath.constData(), path.c_str()) != 0)
            return errno;
        SyncFolderOf(QFile::decodeName(path.c_str()));
        return 0;
    }
};

} // namespace

DataSaver::DataSaver(Data& data) : m_data(data) {}

DataSaver::DataSaver() : DataSaver(d) {}

DataSaver::~DataSaver()
{
    WaitForSave();
}

void DataSaver::AddSavedType(const std::string& typeName)
{
    m_savedTypes.insert(m_data.GetType(typeName));
}

void DataSaver::AddSavedByConnectionType(const std::string& typeName,
                                         const std::string& connectedTypeName)
{
    Type* type = m_data.GetType(typeName);
    Type* connected = m_data.GetType(connectedTypeName);
    m_savedByConnection[type].insert(connected);
}

void DataSaver::AddDataLoadedEventHandler(DataLoadedEventHandler* handler)
{
    m_dataLoadedHandlers.insert(handler);
}

void DataSaver::RemoveDataLoadedEventHandler(DataLoadedEventHandler* handler)
{
    m_dataLoadedHandlers.erase(handler);
}

void DataSaver::EmitDataLoaded()
{
    for (DataLoadedEventHandler* handler : std::set<DataLoadedEventHandler*>(m_dataLoadedHandlers))
        if (m_dataLoadedHandlers.count(handler))
            handler->DataLoaded();
}

bool DataSaver::IsSaved(Type* type) const
{
    return m_savedTypes.count(type) || m_savedByConnection.count(type);
}

bool DataSaver::IsItemSaved(Type* type, Item* item) const
{
    if (m_savedTypes.count(type))
        return true;
    auto it = m_savedByConnection.find(type);
    if (it == m_savedByConnection.end())
        return false;
    for (Type* connected : it->second)
        if (item->IsConnected(connected))
            return true;
    return false;
}

bool DataSaver::Save(const char* path)
{
    WaitForSave();
    m_saved = false;
    PendingSnapshot pending(path);
    if (pending.fd < 0)
        return SaveAbandoned(path, pending.error);
    const std::uint64_t changes = m_data.ChangeCount();
    const std::shared_ptr<const SnapshotImage> image = Serialise(pending.fd);
    const int error = pending.Finish(image.get());
    if (error != 0)
        return SaveAbandoned(path, error);
    NoteSaved(path, changes);
    return true;
}

void DataSaver::NoteSaved(const char* path, std::uint64_t changes)
{
    m_savedPath = path;
    m_savedChanges = changes;
    m_saved = true;
    m_writeFailed = false;
}

bool DataSaver::HasUnsavedChanges(const char* path) const
{
    return !m_saved || m_writeFailed || m_savedChanges != m_data.ChangeCount() ||
           m_savedPath != path;
}

void DataSaver::SaveInBackground(const char* path)
{
    WaitForSave();
    m_saved = false;
    auto pending = std::make_shared<PendingSnapshot>(path);
    if (pending->fd < 0) {
        SaveAbandoned(path, pending->error);
        return;
    }
    NoteSaved(path, m_data.ChangeCount());
    std::shared_ptr<const SnapshotImage> image = Serialise(pending->fd);
    // The saver outlives the thread: its end waits for it.
    m_writer = std::thread([this, image = std::move(image), pending]() mutable {
        const int error = pending->Finish(image.get());
        image.reset();
        if (error != 0)
            m_writeFailed = true;
        // Logging belongs to the event loop; a program already leaving has
        // its own final save to report on.
        if (error != 0)
            if (QCoreApplication* application = QCoreApplication::instance())
                QMetaObject::invokeMethod(
                    application,
                    [path = pending->path, error] { SaveAbandoned(path.c_str(), error); },
                    Qt::QueuedConnection);
    });
}

void DataSaver::WaitForSave()
{
    if (m_writer.joinable())
        m_writer.join();
}

std::shared_ptr<const SnapshotImage> DataSaver::Serialise(int fd) const
{
    auto out = std::make_shared<SnapshotImage>(fd);
    std::vector<Item*> written;
    try {
        std::vector<Type*> types;
        for (Type* type : m_data.GetTypes())
            if (IsSaved(type))
                types.push_back(type);
        out->WriteType<std::int32_t>(static_cast<std::int32_t>(types.size()));
        // Millions of items in a large share: growing the list by doubling
        // would hold it one and a half times over at the end of the save.
        std::size_t itemCount = 0;
        for (Type* type : types)
            itemCount += type->ItemCount();
        written.reserve(itemCount);

        std::uint32_t nextId = 0;
        for (Type* type : types) {
            std::vector<Item*> items = type->GetItemsInOrder();
            if (!m_savedTypes.count(type))
                std::erase_if(items, [&](Item* item) { return !IsItemSaved(type, item); });
            out->WriteString(type->GetName());
            out->WriteType<bool>(type->IsNull());
            out->WriteType<std::int32_t>(static_cast<std::int32_t>(items.size()));
            for (Item* item : items) {
                item->m_saveId = ++nextId;
                written.push_back(item);
                out->WriteType<std::int32_t>(static_cast<std::int32_t>(item->m_saveId));
                if (!type->IsNull())
                    out->WriteString(item->AsString());
            }
        }

        // Each connection once, smaller id first, sorted by (first, second):
        // walking items in id order and sorting each one's larger partner
        // ids gives that order directly. The count goes in front once known.
        //
        // Reading a partner's id is a cache miss in a large store, so it is
        // read only where it can be larger: ids follow the section order,
        // and within a section the address order. An item's id is cleared
        // as soon as its own pairs are out; a partner seen later then reads
        // as 0, below every id, which is where it belongs.
        std::unordered_map<Type*, std::size_t> section;
        for (std::size_t n = 0; n < types.size(); ++n)
            section.emplace(types[n], n);
        const std::size_t countAt = out->Position();
        out->WriteType<std::int32_t>(0);
        std::int32_t pairCount = 0;
        std::vector<std::uint32_t> larger;
        for (Item* item : written) {
            const std::size_t own = section.at(item->m_type);
            larger.clear();
            for (const auto& [type, partners] : item->Connections()) {
                auto found = section.find(type);
                if (found == section.end() || found->second < own)
                    continue;
                const bool sameSection = found->second == own;
                for (Item* partner : partners)
                    if ((!sameSection || partner > item) && partner->m_saveId > item->m_saveId)
                        larger.push_back(partner->m_saveId);
            }
            std::sort(larger.begin(), larger.end());
            for (std::uint32_t id : larger) {
                out->WriteType<std::int32_t>(static_cast<std::int32_t>(item->m_saveId));
                out->WriteType<std::int32_t>(static_cast<std::int32_t>(id));
            }
            pairCount += static_cast<std::int32_t>(larger.size());
            item->m_saveId = 0;
        }
        out->PatchInt32(countAt, pairCount);
    } catch (...) {
        DiscardCurrentStoreException();
        out.reset();
        for (Item* item : written)
            item->m_saveId = 0;
    }
    return out;
}

void DataSaver::Load(const char* path)
{
    QFile file(QFile::decodeName(path));
    if (!file.open(QIODevice::ReadOnly)) {
        EmitDataLoaded();
        return;
    }
    const QByteArray bytes = file.readAll();
    file.close();
    if (!LoadBytes(bytes)) {
        // Keep what could not be read beside the snapshot before anything
        // overwrites it, so a user's settings are never silently lost.
        const QString keep = QFile::decodeName(path) + ".unreadable";
        QFile::remove(keep);
        QFile::copy(QFile::decodeName(path), keep);
        throw DataLoadFailure();
    }
    EmitDataLoaded();
}

bool DataSaver::LoadBytes(const QByteArray& bytes)
{
    try {
        SnapshotReader in(bytes);
        std::vector<LoadedItem> records;
        const std::int32_t typeCount = in.ReadCount();
        for (std::int32_t t = 0; t < typeCount; ++t) {
            const std::string name = in.ReadString();
            const bool null = in.ReadByte() != 0;
            Type* type = m_data.HasType(name);
            if (type && type->IsNull() != null)
                throw DataLoadFailure();
            const std::int32_t itemCount = in.ReadCount();
            for (std::int32_t n = 0; n < itemCount; ++n) {
                const auto id = in.ReadType<std::int32_t>();
                std::string value = null ? std::string() : in.ReadString();
                if (type)
                    records.push_back(LoadedItem{id, type, std::move(value)});
            }
        }
        // Our own snapshots list ids in order already; sorting a million
        // records anyway would cost a few percent of the load.
        const auto byId = [](const LoadedItem& a, const LoadedItem& b) { return a.id < b.id; };
        if (!std::is_sorted(records.begin(), records.end(), byId))
            std::stable_sort(records.begin(), records.end(), byId);
        for (std::size_t n = 1; n < records.size(); ++n)
            if (records[n].id == records[n - 1].id)
                throw DataLoadFailure();

        // Pairs whose first id is not a retained record belong to dropped
        // types and go with them; a retained record naming a partner that
        // is not there makes the file unusable.
        const RecordIndex index(records);
        std::vector<SnapshotPair> pairs;
        const std::int32_t pairCount = in.ReadCount();
        // A damaged count must not reserve memory the file cannot fill:
        // every pair takes eight bytes.
        pairs.reserve(std::min(static_cast<std::size_t>(pairCount), in.Remaining() / 8));
        for (std::int32_t n = 0; n < pairCount; ++n) {
            const auto first = in.ReadType<std::int32_t>();
            const auto second = in.ReadType<std::int32_t>();
            SnapshotPair pair;
            if (!index.Find(first, pair.first))
                continue;
            if (!index.Find(second, pair.second))
                throw DataLoadFailure();
            pairs.push_back(pair);
        }
        if (!std::is_sorted(pairs.begin(), pairs.end()))
            std::sort(pairs.begin(), pairs.end());
        pairs.erase(std::unique(pairs.begin(), pairs.end()), pairs.end());

        std::vector<Item*> items;
        items.reserve(records.size());
        for (LoadedItem& record : records)
            items.push_back(record.type->IsNull() ? record.type->NewItem()
                                                  : record.type->NewItem(std::move(record.value)));
        records = std::vector<LoadedItem>();
        SnapshotLinker(m_data).Link(items, std::move(pairs));
    } catch (...) {
        DiscardCurrentStoreException();
        try {
            m_data.RemoveAllItems();
        } catch (...) {
            DiscardCurrentStoreException();
        }
        return false;
    }
    return true;
}
