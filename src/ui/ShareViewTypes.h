#pragma once

// Store types of the share browser, in the order SharesForm declares them.
namespace ShareViewTypes {
// The open tab of one received listing, by the address of its form; one to
// one with "user_share".
constexpr const char* UserShareTab = "user_share_tab";
// A folder row of a tab, by the address of the row; tied to its
// "user_share_folder".
constexpr const char* UserShareFolderNode = "user_share_folder_node";
// A row of a tab's file list, by the address of the row; tied to its
// "user_share_file".
constexpr const char* UserShareFileNode = "user_share_file_node";
} // namespace ShareViewTypes
