// Feeds arbitrary bytes to the snapshot loader as a snapshot file. Whatever
// the bytes, loading either succeeds or throws DataLoadFailure with the
// store emptied; it never crashes, hangs or leaks.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include <unistd.h>

#include <QByteArray>

#include "store/Data.h"
#include "store/DataSaver.h"

namespace {

// A store declared like the program's: valued, null, primary and owned
// types with ONE and MANY ends, so that loaded connections exercise the
// replacement and ownership rules.
struct FuzzStore
{
    Data data;
    DataSaver saver{data};

    FuzzStore()
    {
        Type* global = data.NewType("global", true, false, true);
        Type* value = data.NewType("global_value", false, false, true);
        Type* user = data.NewType("user", false, false, true);
        Type* inList = data.NewType("in_user_list", false, true, false);
        Type* group = data.NewType("user_list_group", true, false, false);
        Type* file = data.NewType("shared_file", false, false, false);
        global->RelateToType(value, MANY, ONE, false);
        user->RelateToType(inList, MANY, ONE, false);
        group->RelateToType(user, MANY, MANY, false);
        user->RelateToType(file, ONE, MANY, true);
        for (const char* name :
             {"global", "user", "in_user_list", "user_list_group", "shared_file"})
            saver.AddSavedType(name);
        saver.AddSavedByConnectionType("global_value", "global");
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size)
{
    static const QByteArray path = QByteArray("fuzz-snapshot-") + QByteArray::number(getpid());
    std::FILE* file = std::fopen(path.constData(), "wb");
    if (!file)
        return 0;
    std::fwrite(bytes, 1, size, file);
    std::fclose(file);

    FuzzStore store;
    try {
        store.saver.Load(path.constData());
        store.data.RemoveDisconnectedItems();
    } catch (DataLoadFailure&) {
        for (Type* type : store.data.GetTypes())
            if (type->ItemCount() != 0)
                std::abort(); // a failed load must leave the store empty
    }
    return 0;
}
