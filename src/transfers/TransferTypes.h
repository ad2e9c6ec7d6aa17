#pragma once

// Store types of the download and upload queues, in the order
// TransferSchema::DeclareSchema creates them. Items standing for live
// objects (sockets, files, threads, counters, times) carry the object's
// address.
namespace TransferTypes {
// One download (valueless).
constexpr const char* DownloadEntry = "download_entry";
// The remote file name, and the remote folder with "\" separators.
constexpr const char* FileName = "file_name";
constexpr const char* RemoteFolder = "remote_folder";
// A size in bytes.
constexpr const char* FileSize = "file_size";
// The token of a transfer request we sent, and of one a peer sent us.
constexpr const char* TransferReq = "transfer_req";
constexpr const char* RemoteTransferReq = "remote_transfer_req";
// The runtime objects of a running download.
constexpr const char* DownloadSocket = "download_socket";
constexpr const char* DownloadFile = "download_file";
constexpr const char* WritePosition = "write_position";
constexpr const char* DownloadEntryStatus = "download_entry_status";
// Position in the download order.
constexpr const char* DownloadOrder = "download_order";

// One upload (valueless), the path as the peer asked for it, its status and
// order.
constexpr const char* UploadEntry = "upload_entry";
constexpr const char* FilenameAsRequested = "filename_as_requested";
constexpr const char* UploadEntryStatus = "upload_entry_status";
constexpr const char* UploadOrder = "upload_order";
constexpr const char* EffectiveUploadOrder = "effective_upload_order";
// The runtime objects of a running upload.
constexpr const char* UploadSocket = "upload_socket";
constexpr const char* UploadFile = "upload_file";
constexpr const char* UploadThread = "upload_thread";
constexpr const char* ReadPosition = "read_position";

// Flag on a status item: entries in that status hold a slot.
constexpr const char* IsActive = "is_active";
// Progress bookkeeping of a running transfer.
constexpr const char* LastReceiptTime = "last_receipt_time";
constexpr const char* LastSpeedMeasurementTime = "last_speed_measurement_time";
constexpr const char* BytesPerSecond = "bytes_per_second";
constexpr const char* BytesSinceLastReceipt = "bytes_since_last_receipt";
// A download's place in the peer's upload queue.
constexpr const char* PlaceInLine = "place_in_line";
// Per user: when we last asked for places in line (date-time text).
constexpr const char* LastPlaceInLineRequestTime = "last_place_in_line_request_time";
constexpr const char* DownloadThread = "download_thread";
// How many remote parent folders a download recreates locally.
constexpr const char* SubfolderSaveLevel = "subfolder_save_level";
constexpr const char* LastStatusChangeTime = "last_status_change_time";
constexpr const char* DenialReason = "denial_reason";

// Records of finished downloads.
constexpr const char* CompleteDownload = "complete_download";
constexpr const char* CompleteDownloadFolder = "complete_download_folder";
constexpr const char* CompleteDownloadRelativeFolder = "complete_download_relative_folder";
constexpr const char* CompleteDownloadFilename = "complete_download_filename";
constexpr const char* CompleteDownloadFileSize = "complete_download_file_size";
constexpr const char* CompleteDownloadCompletionTime = "complete_download_completion_time";

// Download statuses.
namespace Download {
constexpr const char* Queued = "queued";
constexpr const char* Downloading = "downloading";
constexpr const char* Complete = "complete";
constexpr const char* Aborted = "aborted";
constexpr const char* Denied = "denied";
constexpr const char* LocalError = "local error";
} // namespace Download

// Upload statuses.
namespace Upload {
constexpr const char* Queued = "queued";
constexpr const char* Requesting = "requesting";
constexpr const char* Connecting = "connecting";
constexpr const char* Uploading = "uploading";
constexpr const char* WaitingForOffset = "waiting for offset";
constexpr const char* Complete = "complete";
constexpr const char* Aborted = "aborted";
constexpr const char* Denied = "denied";
constexpr const char* LocalError = "local error";
} // namespace Upload

// Denial texts sent to peers.
namespace Reason {
constexpr const char* NotShared = "File not shared.";
constexpr const char* ReadError = "File read error.";
constexpr const char* Cancelled = "Cancelled";
constexpr const char* Complete = "Complete";
} // namespace Reason
} // namespace TransferTypes
