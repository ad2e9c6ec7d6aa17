// Feeds arbitrary bytes to the snapshot loader as a snapshot file, in a store
// declared exactly as the program declares it: every subsystem's types,
// relations and saved types, the window's too when it is built. Whatever the
// bytes, loading either succeeds or throws DataLoadFailure with the store
// emptied; it never crashes, hangs or leaks.
//
// With QUORVALE_WRITE_SNAPSHOT=PATH in the environment the target first
// writes, to PATH, a snapshot holding items of every saved type connected
// along every relation, and exits: the seed that keeps the loader's path
// through the whole vocabulary covered (fuzz/corpus/fuzz_snapshot/
// every_saved_type). Regenerate it when a subsystem's schema changes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <string>

#include <QByteArray>

#include "FuzzCheck.h"
#include "base/Settings.h"
#include "peers/PeerSchema.h"
#include "search/SearchSchema.h"
#include "search/WishListSearcher.h"
#include "server/ServerSchema.h"
#include "sharing/SharingSchema.h"
#include "store/Data.h"
#include "store/DataSaver.h"
#include "store/Item.h"
#include "store/OneOrMany.h"
#include "transfers/TransferSchema.h"
#ifdef QUORVALE_FUZZ_WINDOW_SCHEMA
#include "ui/SizeManager.h"
#endif

namespace {

// In the order start-up creates the managers, since later vocabularies
// relate to types of earlier ones.
void DeclareProgramSchema(DataSaver& saver)
{
    ServerSchema::DeclareSchema(saver);
    PeerSchema::DeclareSchema();
    SearchSchema::DeclareSchema();
    Settings::DeclareSchema(saver);
    WishListSearcher::DeclareSchema(saver);
    SharingSchema::DeclareSchema(saver);
    TransferSchema::DeclareSchema(saver);
#ifdef QUORVALE_FUZZ_WINDOW_SCHEMA
    // Window geometry is the window layer's only saved vocabulary; the
    // manager declares it when created and needs no application object.
    static SizeManager sizes(saver);
#endif
}

// Two items of every type, the first of each type connected to the first
// of every related type and the second to the second, so that the saver
// writes every saved type and its saved connections. No item ever gets a
// second partner of one type, so no ONE end replaces (and no owner removes)
// anything on the way.
void FillEveryType()
{
    std::map<Type*, Item* [2]> items;
    for (Type* type : d.GetTypes())
        for (int n = 0; n < 2; ++n)
            items[type][n] = type->IsNull()
                                 ? type->NewItem()
                                 : type->NewItem(std::to_string(n + 1) + " " + type->GetName());
    for (Type* type : d.GetTypes()) {
        std::map<Type*, RelationInfo> related;
        type->GetRelatedTypes(related);
        for (const auto& relation : related)
            for (int n = 0; n < 2; ++n)
                if (relation.first != type)
                    items[type][n]->Connect(items[relation.first][n]);
    }
}

void WriteEveryTypeSnapshot(DataSaver& saver, const char* path)
{
    FillEveryType();
    d.RemoveDisconnectedItems();
    std::exit(saver.Save(path) ? 0 : 1);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    static DataSaver saver;
    dataSaver = &saver;
    DeclareProgramSchema(saver);
    if (const char* path = std::getenv("QUORVALE_WRITE_SNAPSHOT"))
        WriteEveryTypeSnapshot(saver, path);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size)
{
    // From memory: writing each input to a file for the loader to read
    // back cost more than reading it.
    const QByteArray snapshot =
        QByteArray::fromRawData(reinterpret_cast<const char*>(bytes), qsizetype(size));
    if (dataSaver->LoadBytes(snapshot)) {
        d.RemoveDisconnectedItems();
    } else {
        for (Type* type : d.GetTypes())
            FUZZ_CHECK(type->ItemCount() == 0); // a failed load must leave the store empty
    }
    d.RemoveAllItems();
    return 0;
}
