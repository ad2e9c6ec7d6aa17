#include "DataSaver.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <vector>

#include <QByteArray>
#include <QFile>
#include <QFileInfo>
#include <QString>
#include <QtEndian>

#include <fcntl.h>
#include <unistd.h>

#include "Data.h"

DataSaver* dataSaver = nullptr;

namespace {

// Buffered writer for the snapshot. Every short write is a DataSaveFailure;
// the file only replaces the old snapshot once it is complete and synced.
class SnapshotWriter
{
public:
    explicit SnapshotWriter(int fd) : m_fd(fd) { m_buffer.reserve(kBufferSize); }

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

    void Finish()
    {
        Flush();
        if (::fsync(m_fd) != 0)
            throw DataSaveFailure();
    }

private:
    static constexpr std::size_t kBufferSize = 1 << 20;

    void Write(const void* data, std::size_t n)
    {
        if (m_buffer.size() + n > kBufferSize)
            Flush();
        const char* bytes = static_cast<const char*>(data);
        m_buffer.insert(m_buffer.end(), bytes, bytes + n);
    }

    void Flush()
    {
        std::size_t done = 0;
        while (done < m_buffer.size()) {
            ssize_t n = ::write(m_fd, m_buffer.data() + done, m_buffer.size() - done);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                throw DataSaveFailure();
            done += static_cast<std::size_t>(n);
        }
        m_buffer.clear();
    }

    int m_fd;
    std::vector<char> m_buffer;
};

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
    Item* item = nullptr;
};

struct LoadedPair
{
    std::int32_t first;
    std::int32_t second;
    bool operator<(const LoadedPair& o) const
    {
        return first != o.first ? first < o.first : second < o.second;
    }
    bool operator==(const LoadedPair& o) const { return first == o.first && second == o.second; }
};

QString TemporaryName(const char* path)
{
    for (int n = 1;; ++n) {
        QString name = QString("%1.%2").arg(QFile::decodeName(path)).arg(n);
        if (!QFileInfo::exists(name))
            return name;
    }
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

// Finds a loaded record by id; records are sorted by id.
LoadedItem* FindRecord(std::vector<LoadedItem>& records, std::int32_t id)
{
    auto it = std::lower_bound(records.begin(), records.end(), id,
                               [](const LoadedItem& r, std::int32_t v) { return r.id < v; });
    return it != records.end() && it->id == id ? &*it : nullptr;
}

} // namespace

DataSaver::DataSaver(Data& data) : m_data(data) {}

DataSaver::DataSaver() : DataSaver(d) {}

DataSaver::~DataSaver() = default;

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
    const QString temporary = TemporaryName(path);
    const QByteArray temporaryPath = QFile::encodeName(temporary);
    int fd = ::open(temporaryPath.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;

    std::vector<Item*> written;
    bool saved = false;
    try {
        SnapshotWriter out(fd);
        std::vector<Type*> types;
        for (Type* type : m_data.GetTypes())
            if (IsSaved(type))
                types.push_back(type);
        out.WriteType<std::int32_t>(static_cast<std::int32_t>(types.size()));

        std::uint32_t nextId = 0;
        for (Type* type : types) {
            std::vector<Item*> items;
            for (Item* item : type->GetItems())
                if (IsItemSaved(type, item))
                    items.push_back(item);
            out.WriteString(type->GetName());
            out.WriteType<bool>(type->IsNull());
            out.WriteType<std::int32_t>(static_cast<std::int32_t>(items.size()));
            for (Item* item : items) {
                item->m_saveId = ++nextId;
                written.push_back(item);
                out.WriteType<std::int32_t>(static_cast<std::int32_t>(item->m_saveId));
                if (!type->IsNull())
                    out.WriteString(item->AsString());
            }
        }

        // Each connection once, smaller id first, sorted by (first, second):
        // walking items in id order and sorting each one's larger partner
        // ids gives that order without holding every pair at once.
        auto largerPartners = [](Item* item, std::vector<std::uint32_t>& ids) {
            ids.clear();
            for (const auto& [type, partners] : item->Connections())
                for (Item* partner : partners)
                    if (partner->m_saveId > item->m_saveId)
                        ids.push_back(partner->m_saveId);
        };
        std::vector<std::uint32_t> ids;
        std::int64_t pairCount = 0;
        for (Item* item : written) {
            largerPartners(item, ids);
            pairCount += static_cast<std::int64_t>(ids.size());
        }
        out.WriteType<std::int32_t>(static_cast<std::int32_t>(pairCount));
        for (Item* item : written) {
            largerPartners(item, ids);
            std::sort(ids.begin(), ids.end());
            for (std::uint32_t id : ids) {
                out.WriteType<std::int32_t>(static_cast<std::int32_t>(item->m_saveId));
                out.WriteType<std::int32_t>(static_cast<std::int32_t>(id));
            }
        }
        out.Finish();
        saved = true;
    } catch (...) {
        DiscardCurrentStoreException();
        saved = false;
    }
    for (Item* item : written)
        item->m_saveId = 0;
    if (::close(fd) != 0)
        saved = false;
    if (!saved)
        return false;

    // rename() swaps the new snapshot in atomically: at every instant the
    // path holds either the old complete file or the new one.
    if (::rename(temporaryPath.constData(), path) != 0)
        return false;
    SyncFolderOf(QFile::decodeName(path));
    return true;
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
        std::stable_sort(records.begin(), records.end(),
                         [](const LoadedItem& a, const LoadedItem& b) { return a.id < b.id; });
        for (std::size_t n = 1; n < records.size(); ++n)
            if (records[n].id == records[n - 1].id)
                throw DataLoadFailure();

        std::vector<LoadedPair> pairs;
        const std::int32_t pairCount = in.ReadCount();
        pairs.reserve(static_cast<std::size_t>(std::min<std::int32_t>(pairCount, 1 << 24)));
        for (std::int32_t n = 0; n < pairCount; ++n) {
            const auto first = in.ReadType<std::int32_t>();
            const auto second = in.ReadType<std::int32_t>();
            if (FindRecord(records, first))
                pairs.push_back(LoadedPair{first, second});
        }
        std::sort(pairs.begin(), pairs.end());
        pairs.erase(std::unique(pairs.begin(), pairs.end()), pairs.end());
        for (const LoadedPair& pair : pairs)
            if (!FindRecord(records, pair.second))
                throw DataLoadFailure();

        for (LoadedItem& record : records)
            record.item =
                record.type->IsNull() ? record.type->NewItem() : record.type->NewItem(record.value);
        for (const LoadedPair& pair : pairs)
            FindRecord(records, pair.first)->item->Connect(FindRecord(records, pair.second)->item);
    } catch (...) {
        DiscardCurrentStoreException();
        // Keep what could not be read beside the snapshot before anything
        // overwrites it, so a user's settings are never silently lost.
        const QString keep = QFile::decodeName(path) + ".unreadable";
        QFile::remove(keep);
        QFile::copy(QFile::decodeName(path), keep);
        try {
            m_data.RemoveAllItems();
        } catch (...) {
            DiscardCurrentStoreException();
        }
        throw DataLoadFailure();
    }
    EmitDataLoaded();
}
