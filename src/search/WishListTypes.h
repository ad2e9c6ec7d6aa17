#pragma once

// Store types of the wish list, declared at start-up so that saved wish-list
// searches load before the searcher exists.
namespace WishListTypes {
// A saved search text, repeated at the interval the server sets.
constexpr const char* WishListItem = "wish_list_item";
// Flag on the wish-list searches that are switched on.
constexpr const char* WishListItemEnabled = "wish_list_item_enabled";
} // namespace WishListTypes
