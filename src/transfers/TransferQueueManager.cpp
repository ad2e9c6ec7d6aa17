#include "transfers/TransferQueueManager.h"

#include <sys/socket.h>

#include <QDir>
#include <QFile>
#include <QTcpSocket>
#include <QThread>
#include <QTimer>

#include "base/Clock.h"
#include "base/Settings.h"
#include "base/TimerManager.h"
#include "peers/PeerMessenger.h"
#include "server/Server.h"
#include "server/ServerTypes.h"
#include "store/Data.h"
#include "store/DataSaver.h"
#include "store/ObjectValue.h"
#include "transfers/TransferSchema.h"
#include "transfers/TransferThread.h"
#include "transfers/TransferTypes.h"

TransferQueueManager* transferQueueManager = nullptr;

using namespace TransferTypes;

TransferQueueManager::TransferQueueManager()
{
    transferQueueManager = this;
    TransferSchema::DeclareSchema(*dataSaver);
    for (const char* counter : {WritePosition, ReadPosition, BytesPerSecond, BytesSinceLastReceipt,
                                LastReceiptTime, LastSpeedMeasurementTime})
        AddItemRemovedHandler(this, counter, &TransferQueueManager::OnRuntimeValueRemoved);
    AddPairConnectionHandler(this, ServerTypes::User, ServerTypes::IsOnline,
                             &TransferQueueManager::OnUserOnline);
    ConnectPeerMessenger();
    StoreDefaults();
    CreateStatusItems();
    if (timerManager) {
        connect(timerManager->everyFiveMinutes(), &QTimer::timeout, this,
                &TransferQueueManager::PeriodicCheck);
        connect(timerManager->everyHalfMinute(), &QTimer::timeout, this,
                &TransferQueueManager::EveryHalfMinute);
    }
    dataSaver->AddDataLoadedEventHandler(this);
    UploadAvailability::SetCurrent(this);
}

TransferQueueManager::~TransferQueueManager()
{
    UploadAvailability::SetCurrent(nullptr);
    if (dataSaver)
        dataSaver->RemoveDataLoadedEventHandler(this);
    RemoveDataHandlers();
    m_stopping = true;
    // Nothing of a running transfer may outlive the manager that owns it.
    for (Item* download : g(DownloadEntry))
        RemoveRuntimeItems(download, TransferTypes::DownloadThread, DownloadSocket, DownloadFile,
                           WritePosition);
    for (Item* upload : g(UploadEntry))
        RemoveRuntimeItems(upload, TransferTypes::UploadThread, UploadSocket, UploadFile,
                           ReadPosition);
    if (transferQueueManager == this)
        transferQueueManager = nullptr;
}

void TransferQueueManager::ConnectPeerMessenger()
{
    if (!peerMessenger)
        return;
    connect(peerMessenger, &PeerMessenger::FileTransferRequested, this,
            &TransferQueueManager::OnFileTransferRequest);
    connect(peerMessenger, &PeerMessenger::FileConnectionRequested, this,
            &TransferQueueManager::OnFileConnection);
    connect(peerMessenger, &PeerMessenger::QueueUploadRequested, this,
            &TransferQueueManager::OnQueueUploadRequested);
    connect(peerMessenger, &PeerMessenger::FileConnectionAccepted, this,
            &TransferQueueManager::OnFileConnectionAccepted);
    connect(peerMessenger, &PeerMessenger::FileTransferResponse, this,
            &TransferQueueManager::OnFileTransferResponse);
    connect(peerMessenger, &PeerMessenger::UploadFailed, this,
            &TransferQueueManager::OnUploadFailedNotification);
    connect(peerMessenger, &PeerMessenger::UploadDenied, this,
            &TransferQueueManager::OnUploadDeniedNotification);
    connect(peerMessenger, &PeerMessenger::DownloadPlaceInLine, this,
            &TransferQueueManager::OnDownloadPlaceInLine);
}

// Applied before the snapshot is loaded; saved settings replace them.
void TransferQueueManager::StoreDefaults()
{
    if (Settings::Get("download_folder").empty())
        Settings::Set("download_folder", (QDir::homePath() + "/Quorvale Downloads").toStdString());
    if (Settings::Get("transfer_order_counter").empty())
        Settings::Set("transfer_order_counter", 1);
    Settings::Set("transfer_req_counter", 1);
    if (Settings::Get("upload_speed_limit").empty())
        Settings::Set("upload_speed_limit", 0);
    if (Settings::Get("upload_speed_limit_enabled").empty())
        Settings::SetYes("upload_speed_limit_enabled", false);
    if (Settings::Get("upload_slots").empty())
        Settings::Set("upload_slots", 1);
}

// The statuses in which an entry holds a slot and runtime objects; every
// other status item is made when first used.
void TransferQueueManager::CreateStatusItems()
{
    Item* active = d.GetType(IsActive)->GetGlobalNullItem();
    d.GetType(DownloadEntryStatus)->GetItem(Download::Downloading)->Connect(active);
    for (const char* status :
         {Upload::Connecting, Upload::Uploading, Upload::Requesting, Upload::WaitingForOffset})
        d.GetType(UploadEntryStatus)->GetItem(status)->Connect(active);
}

void TransferQueueManager::DataLoaded()
{
    Item* queued = d.GetType(DownloadEntryStatus)->GetItem(Download::Queued);
    for (Item* download : g(DownloadEntry)) {
        ItemPtr status = ItemPtr(download)[DownloadEntryStatus];
        if (status.AsString() != Download::Complete)
            download->Connect(queued);
    }
    if (gp_server)
        for (Item* user : g(DownloadEntry).GetItems(ServerTypes::User))
            gp_server->TrackUser(user->AsString());
    emit TransfersLoaded();
    DetermineUploadSpeedLimit();
}

void TransferQueueManager::OnUserOnline(ConnectionInfo& info)
{
    OnUserOnline(info.item);
}

// ---------------------------------------------------------------------------
// Runtime values

ItemPtr TransferQueueManager::NewTime(const char* typeName)
{
    auto time = std::make_unique<QDateTime>(Clock::Now());
    ItemPtr item = d.GetType(typeName)->GetItem(ObjectValue(time.get()));
    m_times[time.get()] = std::move(time);
    return item;
}

ItemPtr TransferQueueManager::NewCounter(const char* typeName, qint64 value)
{
    auto counter = std::make_unique<qint64>(value);
    ItemPtr item = d.GetType(typeName)->GetItem(ObjectValue(counter.get()));
    m_counters[counter.get()] = std::move(counter);
    return item;
}

QDateTime* TransferQueueManager::TimeOf(ItemPtr item)
{
    return ObjectFromItem<QDateTime>(item);
}

qint64* TransferQueueManager::CounterOf(ItemPtr item)
{
    return ObjectFromItem<qint64>(item);
}

int TransferQueueManager::GetTransferSpeed(ItemPtr entry) const
{
    const qint64* speed = CounterOf(entry[BytesPerSecond]);
    return speed ? static_cast<int>(*speed) : 0;
}

void TransferQueueManager::OnRuntimeValueRemoved(Item* item)
{
    const std::string& type = item->GetType()->GetName();
    if (type == LastReceiptTime || type == LastSpeedMeasurementTime)
        m_times.erase(TimeOf(item));
    else
        m_counters.erase(CounterOf(item));
}

void TransferQueueManager::AttachProgressValues(ItemPtr entry, const char* positionType,
                                                qint64 position)
{
    entry.Connect(NewCounter(positionType, position));
    entry.Connect(NewTime(LastReceiptTime));
    entry.Connect(NewTime(LastSpeedMeasurementTime));
    entry.Connect(NewCounter(BytesPerSecond, 0));
    entry.Connect(NewCounter(BytesSinceLastReceipt, 0));
}

void TransferQueueManager::RecordProgress(ItemPtr entry, const char* positionType, qint64 position,
                                          int bytesPerSecond)
{
    if (qint64* at = CounterOf(entry[positionType]))
        *at = position;
    if (qint64* speed = CounterOf(entry[BytesPerSecond]))
        *speed = bytesPerSecond;
    if (QDateTime* receipt = TimeOf(entry[LastReceiptTime]))
        *receipt = Clock::Now();
}

// A thread blocked in a 30-second wait for its peer would hold the event
// loop that long; shutting the connection down under it ends the wait at
// once, and the thread then sees its stop flag or a closed connection.
void TransferQueueManager::StopThread(QThread* thread, QTcpSocket* socket)
{
    if (auto* transfer = qobject_cast<TransferThread*>(thread))
        transfer->SignalExit();
    if (socket && thread->isRunning() && socket->socketDescriptor() != -1)
        ::shutdown(static_cast<int>(socket->socketDescriptor()), SHUT_RDWR);
    thread->disconnect();
    thread->wait();
    if (transferQueueManager && transferQueueManager->m_stopping)
        delete thread;
    else
        thread->deleteLater();
}

void TransferQueueManager::ReleaseSocket(QTcpSocket* socket)
{
    socket->disconnect();
    socket->close();
    // Once the manager goes, the event loop may never run again to carry
    // out a deferred deletion.
    if (transferQueueManager && transferQueueManager->m_stopping)
        delete socket;
    else
        socket->deleteLater();
}

void TransferQueueManager::RemoveRuntimeItems(ItemPtr entry, const char* threadType,
                                              const char* socketType, const char* fileType,
                                              const char* positionType)
{
    // Items are read before they go: removing one frees it. The thread ends
    // before the socket and the file it uses are let go.
    auto* socket = ObjectFromItem<QTcpSocket>(entry[socketType]);
    if (ItemPtr thread = entry[threadType]) {
        auto* object = ObjectFromItem<QThread>(thread);
        thread.Remove();
        StopThread(object, socket);
    }
    if (ItemPtr file = entry[fileType]) {
        auto* object = ObjectFromItem<QFile>(file);
        file.Remove();
        object->close();
        delete object;
    }
    if (ItemPtr socketItem = entry[socketType]) {
        socketItem.Remove();
        ReleaseSocket(socket);
    }
    for (const char* value : {positionType, LastReceiptTime, LastSpeedMeasurementTime,
                              BytesPerSecond, BytesSinceLastReceipt})
        if (ItemPtr item = entry[value])
            item.Remove();
}
