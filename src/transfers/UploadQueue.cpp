// The upload half of TransferQueueManager: accepting queue requests, the
// serving order, slots and the speed limit.

#include <algorithm>
#include <vector>

#include "base/Clock.h"
#include "base/Log.h"
#include "base/LogCategory.h"
#include "base/Settings.h"
#include "peers/PeerMessages.h"
#include "peers/PeerMessenger.h"
#include "server/Server.h"
#include "server/ServerTypes.h"
#include "sharing/SharedFoldersManager.h"
#include "sharing/SharingTypes.h"
#include "store/Data.h"
#include "streams/MemStream.h"
#include "transfers/TransferLogging.h"
#include "transfers/TransferQueueManager.h"
#include "transfers/TransferTypes.h"

using namespace TransferLogging;
using namespace TransferTypes;

namespace {

std::string StatusOf(ItemPtr upload)
{
    return upload[UploadEntryStatus].AsString();
}

bool IsActiveUpload(ItemPtr upload)
{
    ItemPtr status = upload[UploadEntryStatus];
    return status && status.IsConnected(IsActive);
}

// Every upload, first served first.
std::vector<Item*> InEffectiveOrder()
{
    const std::list<Item*> sorted = g(UploadEntry).SortNumericBy(EffectiveUploadOrder, true);
    return {sorted.begin(), sorted.end()};
}

void Renumber(const std::vector<Item*>& uploads)
{
    int number = 0;
    for (Item* upload : uploads)
        upload->Connect(d.GetType(EffectiveUploadOrder)->GetItem(++number));
}

QString SharedFileName(ItemPtr upload)
{
    return Q(upload[SharingTypes::SharedFile][SharingTypes::SharedFileName].AsString());
}

} // namespace

void TransferQueueManager::OnQueueUploadRequested(std::string user, std::string file)
{
    ItemPtr userItem = d.GetType(ServerTypes::User)->GetItem(user);
    TransferLog(1, QString("Queue upload requested by %1 for file %2").arg(Q(user), Q(file)),
                userItem);
    ItemPtr shared =
        sharedFoldersManager ? sharedFoldersManager->GetSharedFileForUser(user, file) : ItemPtr();
    if (!shared) {
        TransferLog(2, "Denied, file not shared", userItem);
        peerMessenger->DenyUpload(user, file, Reason::NotShared);
        return;
    }
    if (ItemPtr existing = userItem.GetItems(UploadEntry).Connected(shared).first()) {
        const std::string status = StatusOf(existing);
        if (status == Upload::Queued || IsActiveUpload(existing)) {
            TransferLog(2, "Already queued", userItem);
            return;
        }
        TransferLog(2, QString("%1, re-queueing").arg(Q(status)), userItem);
        SetUploadEntryStatus(existing, Upload::Queued);
        StartNewUploads();
        return;
    }
    ItemPtr upload = d.GetType(UploadEntry)->NewItem();
    upload.Connect(userItem);
    upload.Connect(shared);
    upload.Connect(d.GetType(FilenameAsRequested)->GetItem(file));
    SetUploadEntryStatus(upload, Upload::Queued);
    const long long order = Settings::GetInt("transfer_order_counter", 1);
    upload.Connect(d.GetType(UploadOrder)->GetItem(order));
    Settings::Set("transfer_order_counter", order + 1);
    OrderNewUpload(upload);
    TransferLog(2, "Queued", userItem);
    if (gp_server)
        gp_server->TrackUser(user);
    StartNewUploads();
}

int TransferQueueManager::GetUserGroupDownloadPriority(const std::string& user) const
{
    ItemPtr userItem = d.GetType(ServerTypes::User)->HasItem(user);
    ItemPtr listed = userItem ? userItem[ServerTypes::InUserList] : ItemPtr();
    if (!listed)
        return 0;
    int priority = 0;
    for (Item* group : listed.GetItems(ServerTypes::UserListGroup))
        priority = std::max(priority, ItemPtr(group)[ServerTypes::GroupDownloadPriority].AsInt());
    return priority;
}

bool TransferQueueManager::UploadEntrySortCompare(ItemPtr a, ItemPtr b) const
{
    ItemPtr userA = a[ServerTypes::User];
    ItemPtr userB = b[ServerTypes::User];
    if (userA != userB) {
        const int pa = GetUserGroupDownloadPriority(userA.AsString());
        const int pb = GetUserGroupDownloadPriority(userB.AsString());
        if (pa != pb)
            return pa > pb;
        const bool privilegedA = userA.IsConnected(ServerTypes::IsPrivileged);
        const bool privilegedB = userB.IsConnected(ServerTypes::IsPrivileged);
        if (privilegedA != privilegedB)
            return privilegedA;
    }
    return a[UploadOrder].AsInt64() < b[UploadOrder].AsInt64();
}

// Most arrivals go to the end of the order, so the last entry is cached and
// the whole order is sorted only when a request jumps the queue.
void TransferQueueManager::OrderNewUpload(ItemPtr upload)
{
    if (!m_lastEffectiveUpload) {
        std::vector<Item*> others = InEffectiveOrder();
        std::erase(others, upload.Get());
        m_lastEffectiveUpload = others.empty() ? nullptr : others.back();
    }
    if (!m_lastEffectiveUpload) {
        upload.Connect(d.GetType(EffectiveUploadOrder)->GetItem(1));
        m_lastEffectiveUpload = upload;
        return;
    }
    ItemPtr last(m_lastEffectiveUpload);
    if (UploadEntrySortCompare(last, upload)) {
        upload.Connect(
            d.GetType(EffectiveUploadOrder)->GetItem(last[EffectiveUploadOrder].AsInt() + 1));
        m_lastEffectiveUpload = upload;
        return;
    }
    std::vector<Item*> order = InEffectiveOrder();
    std::erase(order, upload.Get());
    auto at = std::find_if(order.begin(), order.end(),
                           [&](Item* other) { return UploadEntrySortCompare(upload, other); });
    order.insert(at, upload);
    Renumber(order);
    m_lastEffectiveUpload = order.back();
}

void TransferQueueManager::DetermineUploadsEffectiveOrder()
{
    std::vector<Item*> order = InEffectiveOrder();
    std::stable_sort(order.begin(), order.end(),
                     [this](Item* a, Item* b) { return UploadEntrySortCompare(a, b); });
    Renumber(order);
    m_lastEffectiveUpload = order.empty() ? nullptr : order.back();
}

int TransferQueueManager::ActiveUploadCount() const
{
    int count = 0;
    for (Item* upload : g(UploadEntry))
        if (IsActiveUpload(upload))
            ++count;
    return count;
}

bool TransferQueueManager::HasActiveUpload(ItemPtr user) const
{
    for (Item* upload : user.GetItems(UploadEntry))
        if (IsActiveUpload(upload))
            return true;
    return false;
}

void TransferQueueManager::StartNewUploads()
{
    int free = static_cast<int>(Settings::GetInt("upload_slots", 1)) - ActiveUploadCount();
    if (free <= 0)
        return;
    for (Item* upload : InEffectiveOrder()) {
        ItemPtr entry(upload);
        ItemPtr user = entry[ServerTypes::User];
        if (StatusOf(entry) != Upload::Queued || !user.IsConnected(ServerTypes::IsOnline) ||
            HasActiveUpload(user))
            continue;
        StartUpload(entry);
        if (--free == 0)
            return;
    }
}

void TransferQueueManager::StartUpload(ItemPtr upload)
{
    ItemPtr user = upload[ServerTypes::User];
    const qint64 size = upload[SharingTypes::SharedFile][SharingTypes::SharedFileSize].AsInt64();
    const unsigned int token =
        peerMessenger->RequestUpload(user.AsString(), upload[FilenameAsRequested].AsString(), size);
    SetUploadEntryStatus(upload, Upload::Requesting);
    upload.Connect(d.GetType(TransferReq)->GetItem(token));
    DetermineUploadSpeedLimit();
}

bool TransferQueueManager::IsFreeToUpload() const
{
    return Settings::GetInt("upload_slots", 1) > ActiveUploadCount();
}

unsigned int TransferQueueManager::QueuedUploadCount() const
{
    return static_cast<unsigned int>(
        g(UploadEntry).Connected(UploadEntryStatus, Upload::Queued).size());
}

void TransferQueueManager::SetUploadEntryStatus(ItemPtr upload, const std::string& status)
{
    ItemPtr previous = upload[UploadEntryStatus];
    const bool wasActive = previous && previous.IsConnected(IsActive);
    ItemPtr next = d.GetType(UploadEntryStatus)->GetItem(status);
    upload.Connect(next);
    upload.Connect(d.GetType(LastStatusChangeTime)->GetItem(Clock::NowText().toStdString()));
    if (wasActive && !next.IsConnected(IsActive)) {
        RemoveRuntimeItems(upload, UploadThread, UploadSocket, UploadFile, ReadPosition);
        if (status == Upload::Aborted) {
            ItemPtr user = upload[ServerTypes::User];
            TransferLog(1,
                        QString("Upload of %1 to %2 aborted, sending upload failed notification.")
                            .arg(SharedFileName(upload), Q(user.AsString())),
                        user);
            PeerMessages::UploadFailed failed;
            failed.m_file = upload[FilenameAsRequested].AsString();
            MemStream message;
            failed.Write(message);
            peerMessenger->SendMessage(user.AsString(), message);
        }
        DetermineUploadSpeedLimit();
    }
    emit UploadStatusChanged(upload);
}

qint64 TransferQueueManager::GetUploadPosition(ItemPtr upload) const
{
    if (const qint64* position = CounterOf(upload[ReadPosition]))
        return *position;
    if (StatusOf(upload) == Upload::Complete)
        return upload[SharingTypes::SharedFile][SharingTypes::SharedFileSize].AsInt64();
    return 0;
}

void TransferQueueManager::RemoveUpload(ItemPtr upload)
{
    RemoveRuntimeItems(upload, UploadThread, UploadSocket, UploadFile, ReadPosition);
    if (m_lastEffectiveUpload == upload.Get())
        m_lastEffectiveUpload = nullptr;
    upload.Remove();
}

void TransferQueueManager::SetUploadSlots(int count)
{
    if (count < 1 || count > 99)
        return;
    const long long previous = Settings::GetInt("upload_slots", 1);
    Settings::Set("upload_slots", count);
    if (count > previous)
        StartNewUploads();
}

void TransferQueueManager::SetUploadSpeedLimit(int limit)
{
    Settings::Set("upload_speed_limit", limit);
    DetermineUploadSpeedLimit();
}

void TransferQueueManager::EnableUploadSpeedLimit(bool on)
{
    Settings::SetYes("upload_speed_limit_enabled", on);
    DetermineUploadSpeedLimit();
}

void TransferQueueManager::DetermineUploadSpeedLimit()
{
    const int limit = static_cast<int>(Settings::GetInt("upload_speed_limit", 0));
    if (limit < 1 || !Settings::IsYes("upload_speed_limit_enabled")) {
        m_speedLimits.Set(0, 0);
        return;
    }
    const int count = ActiveUploadCount();
    m_speedLimits.Set(limit, std::max(1, count ? limit / count : limit));
    // Every running upload starts measuring its speed afresh under the new
    // share of the limit.
    for (Item* upload : g(UploadEntry)) {
        ItemPtr entry(upload);
        if (QDateTime* start = TimeOf(entry[LastSpeedMeasurementTime]))
            *start = Clock::Now();
        if (qint64* bytes = CounterOf(entry[BytesSinceLastReceipt]))
            *bytes = 0;
    }
}

int TransferQueueManager::GetUploadSpeed() const
{
    return m_speedLimits.Total();
}

void TransferQueueManager::UnshareUser(const std::string& user)
{
    ItemPtr userItem = d.GetType(ServerTypes::User)->GetItem(user);
    userItem.Connect(d.GetType(SharingTypes::Unshared)->GetGlobalNullItem());
    for (Item* upload : userItem.GetItems(UploadEntry)) {
        peerMessenger->DenyUpload(user, ItemPtr(upload)[FilenameAsRequested].AsString(),
                                  Reason::NotShared);
        RemoveUpload(upload);
    }
}

void TransferQueueManager::ReshareUser(const std::string& user)
{
    if (ItemPtr userItem = d.GetType(ServerTypes::User)->HasItem(user))
        userItem.Disconnect(SharingTypes::Unshared);
}
