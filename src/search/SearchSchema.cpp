#include "search/SearchSchema.h"

#include "search/SearchTypes.h"
#include "server/ServerTypes.h"
#include "store/Data.h"

namespace SearchSchema {

void DeclareSchema()
{
    using namespace SearchTypes;

    Type* request = d.NewType(SearchRequest, true, false, false);
    Type* text = d.NewType(SearchRequestText, false, false, true);
    Type* wishList = d.NewType(WishListSearch, false, true, true);
    Type* results = d.NewType(SearchResults, true, true, true);
    Type* result = d.NewType(SearchResult, false, true, true);
    Type* available = d.NewType(SearchResultsUserAvailable, false, false, true);
    Type* speed = d.NewType(SearchResultsUserSpeed, false, false, true);
    Type* queue = d.NewType(SearchResultsUploadsInQueue, false, false, true);
    Type* fileName = d.NewType(SearchResultFileName, false, false, true);
    Type* folder = d.NewType(SearchResultFileFolder, false, false, true);
    Type* size = d.NewType(SearchResultFileSize, false, false, true);
    Type* bitrate = d.NewType(Bitrate, false, false, true);
    Type* length = d.NewType(LengthSeconds, false, false, true);
    Type* bitrateMode = d.NewType(BitrateMode, false, false, true);
    d.NewType(MpegVersion, false, false, true);
    d.NewType(ChannelMode, false, false, true);
    d.NewType(AudioFrequency, false, false, true);
    Type* user = d.GetType(ServerTypes::User);

    request->RelateToType(text, MANY, ONE, false);
    // Every wish-list search hangs on the one shared marker item.
    request->RelateToType(wishList, MANY, ONE, false);

    // A request owns the sets answering it and a set owns its results, so
    // closing a search and collecting garbage takes all of them away.
    request->RelateToType(results, ONE, MANY, true);
    results->RelateToType(result, ONE, MANY, true);

    // Each set is one user's answer; the values of its user attributes are
    // shared between sets like any other value items.
    results->RelateToType(user, MANY, ONE, false);
    results->RelateToType(available, MANY, ONE, false);
    results->RelateToType(speed, MANY, ONE, false);
    results->RelateToType(queue, MANY, ONE, false);

    result->RelateToType(fileName, MANY, ONE, false);
    result->RelateToType(folder, MANY, ONE, false);
    result->RelateToType(size, MANY, ONE, false);
    result->RelateToType(bitrate, MANY, ONE, false);
    result->RelateToType(length, MANY, ONE, false);
    result->RelateToType(bitrateMode, MANY, ONE, false);
}

} // namespace SearchSchema
