#pragma once

class AttributeMap;
class ItemPtr;

// The audio attributes of a file record as store items, the same for a
// search result and for a file of a browsed listing.
namespace AttributeItems {
// Code 0 becomes "bitrate", 1 "length_seconds", 2 "bitrate_mode" ("vbr" for
// a non-zero value, "cbr" for 0); codes we do not know describe nothing we
// show and are passed over.
void Connect(ItemPtr item, const AttributeMap& attributes);
} // namespace AttributeItems
