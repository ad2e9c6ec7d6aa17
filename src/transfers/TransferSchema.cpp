#include "transfers/TransferSchema.h"

#include "search/SearchTypes.h"
#include "server/ServerTypes.h"
#include "sharing/SharingTypes.h"
#include "store/Data.h"
#include "store/DataSaver.h"
#include "transfers/TransferTypes.h"

namespace TransferSchema {

namespace {

using namespace TransferTypes;

// Every transfer type is created on demand.
Type* New(const char* name, bool primary, bool null)
{
    return d.NewType(name, primary, null, true);
}

void DeclareTypes()
{
    New(DownloadEntry, true, true);
    New(FileName, false, false);
    New(RemoteFolder, false, false);
    New(FileSize, false, false);
    New(TransferReq, false, false);
    New(RemoteTransferReq, false, false);
    New(DownloadSocket, true, false);
    New(DownloadFile, true, false);
    New(WritePosition, false, false);
    New(DownloadEntryStatus, false, false);
    New(DownloadOrder, false, false);
    New(UploadEntry, true, true);
    New(FilenameAsRequested, false, false);
    New(UploadEntryStatus, true, false);
    New(UploadOrder, false, false);
    New(EffectiveUploadOrder, false, false);
    New(UploadSocket, true, false);
    New(UploadFile, true, false);
    New(UploadThread, true, false);
    New(ReadPosition, false, false);
    New(IsActive, false, true);
    New(LastReceiptTime, false, false);
    New(LastSpeedMeasurementTime, false, false);
    New(BytesPerSecond, false, false);
    New(BytesSinceLastReceipt, false, false);
    New(PlaceInLine, false, false);
    New(LastPlaceInLineRequestTime, false, false);
    New(DownloadThread, true, false);
    New(SubfolderSaveLevel, false, false);
    New(LastStatusChangeTime, false, false);
    New(DenialReason, false, false);
    New(CompleteDownload, true, true);
    New(CompleteDownloadFolder, false, false);
    New(CompleteDownloadRelativeFolder, false, false);
    New(CompleteDownloadFilename, false, false);
    New(CompleteDownloadFileSize, false, false);
    New(CompleteDownloadCompletionTime, false, false);
}

void Relate(const char* from, const char* to, OneOrMany thisEnd, OneOrMany otherEnd)
{
    d.GetType(from)->RelateToType(d.GetType(to), thisEnd, otherEnd, false);
}

void DeclareRelations()
{
    for (const char* one :
         {ServerTypes::User, FileName, RemoteFolder, FileSize, RemoteTransferReq, WritePosition,
          DownloadEntryStatus, PlaceInLine, SubfolderSaveLevel, LastStatusChangeTime})
        Relate(DownloadEntry, one, MANY, ONE);
    for (const char* own :
         {TransferReq, DownloadSocket, DownloadThread, DownloadFile, DownloadOrder, LastReceiptTime,
          LastSpeedMeasurementTime, BytesPerSecond, BytesSinceLastReceipt})
        Relate(DownloadEntry, own, ONE, ONE);
    // The search a download was found by follows it into its completion
    // record.
    Relate(DownloadEntry, SearchTypes::SearchRequestText, MANY, ONE);
    Relate(DownloadEntryStatus, IsActive, MANY, ONE);
    Relate(ServerTypes::User, LastPlaceInLineRequestTime, MANY, ONE);
    Relate(DenialReason, DownloadEntry, ONE, MANY);

    for (const char* one : {ServerTypes::User, SharingTypes::SharedFile, ReadPosition,
                            UploadEntryStatus, FilenameAsRequested, LastStatusChangeTime})
        Relate(UploadEntry, one, MANY, ONE);
    for (const char* own : {UploadSocket, UploadFile, UploadOrder, TransferReq, LastReceiptTime,
                            LastSpeedMeasurementTime, BytesPerSecond, BytesSinceLastReceipt,
                            UploadThread, EffectiveUploadOrder})
        Relate(UploadEntry, own, ONE, ONE);
    Relate(UploadEntryStatus, IsActive, MANY, ONE);
    Relate(DenialReason, UploadEntry, ONE, MANY);

    for (const char* one :
         {ServerTypes::User, CompleteDownloadFolder, CompleteDownloadRelativeFolder,
          CompleteDownloadFilename, CompleteDownloadFileSize, CompleteDownloadCompletionTime,
          SearchTypes::SearchRequestText})
        Relate(CompleteDownload, one, MANY, ONE);
}

// Downloads survive a restart with their identity, status and order, and
// with the search they were found by, so "Re-run Search" still works for a
// download queued in an earlier run (searches themselves last one run);
// everything that belongs to a running transfer, and the whole upload queue,
// is rebuilt by the peers. Completed-download records are kept whole.
void DeclareSaved(DataSaver& saver)
{
    saver.AddSavedType(DownloadEntry);
    for (const char* property :
         {ServerTypes::User, FileName, RemoteFolder, FileSize, DownloadEntryStatus, DownloadOrder,
          SubfolderSaveLevel, SearchTypes::SearchRequestText})
        saver.AddSavedByConnectionType(property, DownloadEntry);
    saver.AddSavedType(CompleteDownload);
    for (const char* property :
         {ServerTypes::User, CompleteDownloadFolder, CompleteDownloadRelativeFolder,
          CompleteDownloadFilename, CompleteDownloadFileSize, CompleteDownloadCompletionTime})
        saver.AddSavedByConnectionType(property, CompleteDownload);
}

} // namespace

void DeclareSchema(DataSaver& saver)
{
    DeclareTypes();
    DeclareRelations();
    DeclareSaved(saver);
}

} // namespace TransferSchema
