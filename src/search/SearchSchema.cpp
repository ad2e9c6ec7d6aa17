#include "search/SearchSchema.h"

#include "search/SearchTypes.h"
#include "store/Data.h"

namespace SearchSchema {

void DeclareSchema()
{
    using namespace SearchTypes;

    Type* request = d.NewType(SearchRequest, true, false, false);
    Type* text = d.NewType(SearchRequestText, false, false, true);
    Type* wishList = d.NewType(WishListSearch, false, true, true);

    request->RelateToType(text, MANY, ONE, false);
    // Every wish-list search hangs on the one shared marker item.
    request->RelateToType(wishList, MANY, ONE, false);
}

} // namespace SearchSchema
