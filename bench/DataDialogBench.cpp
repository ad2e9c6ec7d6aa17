// Times the store viewer on a store of a million file items that all share
// one search token, as a large music share does with "mp3": opening the
// viewer, listing the file type, opening the token with its million
// partners, and following a burst of added and removed files while the file
// type is listed. Prints one figure per line as "name value".
//
// Usage: quorvale-bench-data-dialog [--items N]   (default 1000000; run offscreen)

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include <QApplication>
#include <QListView>
#include <QTreeWidget>

#include "BenchSupport.h"
#include "store/Data.h"
#include "ui/DataDialog.h"

namespace {

using namespace BenchSupport;

constexpr std::size_t kBurst = 10000;

std::string FileName(std::mt19937_64& random, std::size_t n)
{
    return "Artist " + std::to_string(random() % 5000) + "/Album " + std::to_string(random() % 20) +
           "/" + std::to_string(n) + " track.mp3";
}

void Settle()
{
    QApplication::processEvents();
    QApplication::processEvents();
}

} // namespace

int main(int argc, char** argv)
{
    std::size_t items = 1000000;
    if (argc == 3 && std::strcmp(argv[1], "--items") == 0)
        items = std::strtoull(argv[2], nullptr, 10);
    else if (argc != 1) {
        std::fprintf(stderr, "usage: quorvale-bench-data-dialog [--items N]\n");
        return 2;
    }
    QApplication app(argc, argv);

    Data store;
    Type* file = store.NewType("file", true, false, false);
    Type* token = store.NewType("token", false, false, false);
    file->RelateToType(token, MANY, MANY, false);
    Item* mp3 = token->NewItem("mp3");
    std::mt19937_64 random(20261207);
    for (std::size_t n = 0; n < items; ++n)
        file->NewItem(FileName(random, n))->Connect(mp3);

    auto start = Clock::now();
    auto* dialog = new DataDialog(&store);
    dialog->show();
    Settle();
    Print("data_dialog_open_s", SecondsSince(start), 3);

    QTreeWidget* types = dialog->TypeList();
    start = Clock::now();
    types->setCurrentItem(types->findItems("file", Qt::MatchExactly).front());
    Settle();
    Print("data_dialog_list_type_s", SecondsSince(start), 3);

    // Opening the token lists its million partners, one batch of them.
    types->setCurrentItem(types->findItems("token", Qt::MatchExactly).front());
    Settle();
    start = Clock::now();
    dialog->OnItemClicked(dialog->ItemList()->model()->index(0, 0));
    Settle();
    Print("data_dialog_open_hub_s", SecondsSince(start), 3);

    types->setCurrentItem(types->findItems("file", Qt::MatchExactly).front());
    Settle();
    std::vector<Item*> burst;
    start = Clock::now();
    for (std::size_t n = 0; n < kBurst; ++n)
        burst.push_back(file->NewItem(FileName(random, items + n)));
    Settle();
    Print("data_dialog_add_burst_s", SecondsSince(start), 3);
    start = Clock::now();
    for (Item* item : burst)
        item->Remove();
    Settle();
    Print("data_dialog_remove_burst_s", SecondsSince(start), 3);
    // A few at a time are applied row by row.
    start = Clock::now();
    for (std::size_t n = 0; n < 100; ++n) {
        file->NewItem(FileName(random, items + kBurst + n));
        dialog->OnRefresh();
    }
    Settle();
    Print("data_dialog_add_one_ms", SecondsSince(start) * 1000 / 100, 3);
    if (dialog->ItemList()->model()->rowCount() != static_cast<int>(items + 100)) {
        std::fprintf(stderr, "item list out of step with the store\n");
        return 1;
    }
    Print("data_dialog_resident_mib", ResidentMiB(), 1);
    delete dialog;
    return 0;
}
