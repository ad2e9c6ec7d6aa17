#pragma once

// Store types of the search page, declared by SearchForm::Init. They live
// for the run only: result tabs are not saved.
namespace SearchFormTypes {
// A result tab, by the address of its view. Connected to the searches it
// shows, to its two options and, for a wish-list tab, to its entry.
constexpr const char* ResultsWidget = "search_results_widget";
// Options of a tab, "yes" or "no": new user (folder) rows open.
constexpr const char* ExpandUsers = "expand_users";
constexpr const char* ExpandFolders = "expand_folders";
// A user row of a tab, connected to the tab and the "user".
constexpr const char* UserNode = "search_results_user_node";
// A folder row, connected to its user row and the result folder.
constexpr const char* FolderNode = "search_results_folder_node";
// A file row, connected to its folder row and its "search_result".
constexpr const char* ResultNode = "search_result_node";
// A row of the wish list and its check box, related to the entry (row) and
// to the row (box).
constexpr const char* WishListNode = "wish_list_node";
constexpr const char* WishListNodeCheckbox = "wish_list_node_checkbox";
} // namespace SearchFormTypes
