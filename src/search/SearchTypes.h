#pragma once

// Store types of searches, in the order SearchSchema::DeclareSchema creates
// them. The result types join them when the results arrive with the peer layer.
namespace SearchTypes {
// One search sent to the server, keyed by its token in decimal.
constexpr const char* SearchRequest = "search_request";
// The text searched for; one item serves every search of the same text.
constexpr const char* SearchRequestText = "search_request_text";
// Marker: the search was sent by the wish list.
constexpr const char* WishListSearch = "wishlist_search";
} // namespace SearchTypes
