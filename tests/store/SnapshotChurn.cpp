// A process that loads a snapshot, says what it found, and then saves a
// large one again and again (or once with --once), for tests that kill it
// at random moments or give it a full disk. Lines on standard output:
//   loaded GENERATION ITEMS   the snapshot read back whole (0 0: none yet)
//   incomplete DETAIL         it loaded, but not as one generation wrote it
//   unreadable                the load failed
//   saving GENERATION         a save begins
//   saved GENERATION MS       a save finished and the file is in place
//   save-failed GENERATION    a save was abandoned
//   log CATEGORY TEXT         a log line of the program
//
// Usage: snapshot-churn PATH ITEMS [--once]

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <QByteArray>
#include <QElapsedTimer>
#include <QString>

#include "base/Log.h"
#include "base/LogSink.h"
#include "store/Data.h"
#include "store/DataSaver.h"
#include "store/Item.h"

namespace {

constexpr const char* GenerationType = "churn_generation";
constexpr const char* ItemType = "churn_item";

class PrintingSink : public LogSink
{
public:
    void Append(const QString& category, const QString& line, ItemPtr) override
    {
        std::printf("log\t%s\t%s\n", qPrintable(category), qPrintable(line));
        std::fflush(stdout);
    }
};

struct Churn
{
    Data data;
    Type* generation = data.NewType(GenerationType, false, false, true);
    Type* item = data.NewType(ItemType, false, false, true);
    DataSaver saver{data};

    Churn()
    {
        item->RelateToType(generation, MANY, ONE, false);
        saver.AddSavedType(GenerationType);
        saver.AddSavedType(ItemType);
    }

    // Every item must hang on the one generation item: a snapshot cut short
    // or mixed from two saves shows up as a wrong count or a loose item.
    long Verify(long& items)
    {
        items = static_cast<long>(item->ItemCount());
        if (generation->ItemCount() == 0)
            return items == 0 ? 0 : -1;
        if (generation->ItemCount() != 1)
            return -1;
        Item* current = generation->GetItemsInOrder().front();
        for (Item* each : item->GetItemsInOrder())
            if (!each->IsConnected(current))
                return -1;
        return std::atol(current->AsString().c_str());
    }

    // Values long enough that the file takes a while to write.
    void Fill(long count)
    {
        item->RemoveAllItems();
        const std::string padding(2000, 'x');
        for (long n = 0; n < count; ++n)
            item->NewItem(std::to_string(n) + ":" + padding);
    }

    void SetGeneration(long number)
    {
        generation->RemoveAllItems();
        Item* current = generation->NewItem(std::to_string(number));
        for (Item* each : item->GetItemsInOrder())
            each->Connect(current);
    }
};

} // namespace

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: snapshot-churn PATH ITEMS [--once]\n");
        return 2;
    }
    const char* path = argv[1];
    const long count = std::atol(argv[2]);
    const bool once = argc > 3 && std::strcmp(argv[3], "--once") == 0;
    PrintingSink sink;
    SetLogSink(&sink);

    Churn churn;
    try {
        churn.saver.Load(path);
    } catch (...) {
        std::printf("unreadable\n");
        return 1;
    }
    long items = 0;
    const long loaded = churn.Verify(items);
    if (loaded < 0)
        std::printf("incomplete\t%ld items\n", items);
    else
        std::printf("loaded\t%ld\t%ld\n", loaded, items);
    std::fflush(stdout);
    if (loaded < 0)
        return 1;

    churn.Fill(count);
    for (long generation = loaded + 1;; ++generation) {
        churn.SetGeneration(generation);
        std::printf("saving\t%ld\n", generation);
        std::fflush(stdout);
        QElapsedTimer clock;
        clock.start();
        const bool saved = churn.saver.Save(path);
        if (saved)
            std::printf("saved\t%ld\t%lld\n", generation, clock.elapsed());
        else
            std::printf("save-failed\t%ld\n", generation);
        std::fflush(stdout);
        if (once)
            return saved ? 0 : 1;
    }
}
