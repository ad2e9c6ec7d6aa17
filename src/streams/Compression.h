#pragma once

#include "streams/MemStream.h"

// Share listings, folder contents and search results travel as one zlib
// stream (RFC 1950) of the message bytes, with no uncompressed length.

// The most a decompression may produce. Listings of the largest shares stay
// well below it; anything that would inflate past it is treated as corrupt,
// so a small hostile payload cannot make us allocate without bound.
constexpr int MaxDecompressedLength = 64 * 1024 * 1024;

// Compresses the whole written content of source (read or not) with zlib at
// level 9 into a new stream. The source is left as it was. Returns an empty
// stream if zlib fails or the source is too large (over about 1 GiB) for the
// compressed buffer to be addressed by a stream.
MemStream CompressStream(const MemStream& source);

// Inflates the unread rest of source into a new stream, ready to be read with
// the typed reads. A stream that is not valid zlib, is truncated, or would
// inflate to more than MaxDecompressedLength bytes yields an empty stream,
// whose first read fails. Inflation is incremental and stops at the cap, so
// memory stays below twice the cap whatever the input claims. Bytes after the
// end of the zlib stream are ignored.
// The source's read position is not moved.
MemStream DecompressStream(const MemStream& source);
