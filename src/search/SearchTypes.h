#pragma once

// Store types of searches and their results, in the order
// SearchSchema::DeclareSchema creates them. Searches live for the run only,
// so nothing here is saved.
namespace SearchTypes {
// One search sent to the server, keyed by its token in decimal.
constexpr const char* SearchRequest = "search_request";
// The text searched for; one item serves every search of the same text.
constexpr const char* SearchRequestText = "search_request_text";
// Marker: the search was sent by the wish list.
constexpr const char* WishListSearch = "wishlist_search";
// The results one user sent for one search, with what that user told about
// its upload queue. Owned by its request.
constexpr const char* SearchResults = "search_results";
// One file of a result set. Owned by its set.
constexpr const char* SearchResult = "search_result";
// "yes" when the user had a free upload slot, otherwise "no".
constexpr const char* SearchResultsUserAvailable = "search_results_user_available";
// The user's average upload speed in bytes per second.
constexpr const char* SearchResultsUserSpeed = "search_results_user_speed";
// The number of uploads queued at the user.
constexpr const char* SearchResultsUploadsInQueue = "search_results_uploads_in_queue";
// A result's file name, folder ("\" separators) and size in decimal.
constexpr const char* SearchResultFileName = "search_result_file_name";
constexpr const char* SearchResultFileFolder = "search_result_file_folder";
constexpr const char* SearchResultFileSize = "search_result_file_size";
// Audio attributes: kbit/s, seconds, and "vbr" or "cbr". Shared listings
// use the same three.
constexpr const char* Bitrate = "bitrate";
constexpr const char* LengthSeconds = "length_seconds";
constexpr const char* BitrateMode = "bitrate_mode";
// Further audio attributes, kept for the scanner; no message fills them.
constexpr const char* MpegVersion = "mpeg_version";
constexpr const char* ChannelMode = "channel_mode";
constexpr const char* AudioFrequency = "audio_frequency";
} // namespace SearchTypes
