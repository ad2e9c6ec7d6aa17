#pragma once

// Store types of our own shares and of the listings other users send us, in
// the order SharingSchema::DeclareSchema creates them.
namespace SharingTypes {
// A shared root folder; its value is the absolute local path.
constexpr const char* SharedFolder = "shared_folder";
// One shared file (valueless).
constexpr const char* SharedFile = "shared_file";
// A file name, the last path component; shared by every file of that name.
constexpr const char* SharedFileName = "shared_file_name";
// The comparison form of a file name (see GetAbsoluteFileName).
constexpr const char* SharedFileLowercaseName = "shared_file_lowercase_name";
// A directory holding shared files; its value is the absolute local path.
constexpr const char* SharedFileFolder = "shared_file_folder";
// The comparison form of a directory path.
constexpr const char* SharedFileFolderLowercaseName = "shared_file_folder_lowercase_name";
// A file size in bytes as decimal text.
constexpr const char* SharedFileSize = "shared_file_size";
// Flag on a root: visible to everybody.
constexpr const char* SharedPublic = "shared_public";
// Flag on a root: visible to everybody on our user list.
constexpr const char* SharedUserlist = "shared_userlist";
// Flag on a file: the MP3 scanner has been through it.
constexpr const char* IsScanned = "is_scanned";
// One word of a file path, lower case.
constexpr const char* SearchToken = "search_token";
// Flag on a user: this user may see none of our shares.
constexpr const char* Unshared = "unshared";

// The listing one user sent us; one per user.
constexpr const char* UserShare = "user_share";
// Flag: the listing arrived completely.
constexpr const char* UserShareLoaded = "user_share_loaded";
// One folder of a listing, and the link items joining it to its parent and
// to each child.
constexpr const char* UserShareFolder = "user_share_folder";
constexpr const char* UserShareFolderParent = "user_share_folder_parent";
constexpr const char* UserShareFolderChild = "user_share_folder_child";
// A folder path exactly as the peer sent it ("\" separators).
constexpr const char* UserShareFolderName = "user_share_folder_name";
// One file of a listing, its name and its size as decimal text.
constexpr const char* UserShareFile = "user_share_file";
constexpr const char* UserShareFileName = "user_share_file_name";
constexpr const char* UserShareFileSize = "user_share_file_size";
} // namespace SharingTypes
