// Times the share browser on large received listings, offscreen: storing a
// listing and opening a tab on it (the one stall of the event loop when a
// listing arrives), storing it with the Browse page following, drawing it,
// Expand All, filter keystrokes and choosing a folder. Two shapes: a tree of folders of 100
// files each, and one flat folder holding every file.
//
// Usage: quorvale-bench-share-browser [--files N]   (default 100000)

#include <algorithm>
#include <string>

#include <QApplication>
#include <QLineEdit>
#include <QTabWidget>
#include <QTreeWidget>

#include "BenchSupport.h"
#include "WindowBench.h"
#include "base/Settings.h"
#include "server/ServerTypes.h"
#include "sharing/SharingTypes.h"
#include "sharing/UserShareStore.h"
#include "store/Data.h"
#include "ui/ShareForm.h"
#include "ui/SharesForm.h"

namespace {

using namespace BenchSupport;

constexpr int FilesPerFolder = 100;

FileInfo File(int n)
{
    FileInfo file;
    file.m_name = "track " + std::to_string(n) + ".mp3";
    file.m_size = 4000000 + n;
    file.m_attributes.m_extension = "mp3";
    file.m_attributes.m_attributes = {{0, 192}, {2, 0}};
    return file;
}

// artist\album folders below one root, FilesPerFolder files in each album.
FileInfoMap Tree(int files)
{
    FileInfoMap share;
    share["music"];
    for (int n = 0; n < files; ++n) {
        const int album = n / FilesPerFolder;
        const std::string artist = "music\\artist " + std::to_string(album / 20);
        share[artist];
        share[artist + "\\album " + std::to_string(album)].insert(File(n));
    }
    return share;
}

// Every file in one folder, with a small folder before it, which the tab
// chooses when it opens.
FileInfoMap Flat(int files)
{
    FileInfoMap share;
    for (int n = 0; n < 10; ++n)
        share["a few"].insert(File(n));
    for (int n = 0; n < files; ++n)
        share["everything"].insert(File(n));
    return share;
}

double Milliseconds(Clock::time_point start)
{
    return SecondsSince(start) * 1000.0;
}

// The sharing side storing the listing, then a tab opening on it by itself,
// before the view follows listings.
void MeasureOpening(const char* shape, const FileInfoMap& share)
{
    const std::string prefix = std::string("sharebrowser.") + shape + ".";
    auto start = Clock::now();
    UserShareStore::Store("bare", share);
    Print((prefix + "store_ms").c_str(), Milliseconds(start), 1);
    ItemPtr listing =
        ItemPtr(d.GetType(ServerTypes::User)->GetItem("bare"))[SharingTypes::UserShare];
    start = Clock::now();
    {
        ShareForm form(listing, nullptr);
        Print((prefix + "open_tab_ms").c_str(), Milliseconds(start), 1);
    }
    UserShareStore::Remove("bare");
}

void Measure(const char* shape, const FileInfoMap& share, SharesForm& view)
{
    const std::string prefix = std::string("sharebrowser.") + shape + ".";
    auto print = [&prefix](const char* name, double value) {
        Print((prefix + name).c_str(), value, 1);
    };
    auto start = Clock::now();
    UserShareStore::Store("bench-" + std::string(shape), share);
    print("store_with_view_ms", Milliseconds(start));
    start = Clock::now();
    QApplication::processEvents();
    print("first_draw_ms", Milliseconds(start));

    ShareForm* form = view.FormOfUser("bench-" + std::string(shape));
    start = Clock::now();
    form->ExpandAll();
    QApplication::processEvents();
    print("expand_all_ms", Milliseconds(start));
    start = Clock::now();
    form->FilterField()->setText("7");
    QApplication::processEvents();
    print("first_filter_ms", Milliseconds(start));
    start = Clock::now();
    form->FilterField()->setText("7 -9");
    QApplication::processEvents();
    print("next_filter_ms", Milliseconds(start));
    form->FilterField()->clear();
    QTreeWidget* folders = form->Folders();
    QTreeWidgetItem* last = folders->topLevelItem(folders->topLevelItemCount() - 1);
    while (last->childCount() > 0)
        last = last->child(last->childCount() - 1);
    // A long file list fills a slice per turn of the loop: the figures are
    // the time until it is complete and the longest single turn.
    start = Clock::now();
    double longestTurn = 0;
    folders->setCurrentItem(last);
    do {
        const auto turn = Clock::now();
        QApplication::processEvents();
        longestTurn = std::max(longestTurn, Milliseconds(turn));
    } while (form->IsFillingFiles());
    print("choose_folder_ms", Milliseconds(start));
    print("choose_folder_longest_turn_ms", longestTurn);
}

} // namespace

int main(int argc, char** argv)
{
    int files = 100000;
    WindowBench bench(argc, argv, "quorvale-bench-share-browser", {{"--files", &files}});
    bench.StartCore();
    Settings::Set("expand_new_shares", "no");

    const FileInfoMap tree = Tree(files);
    const FileInfoMap flat = Flat(files);
    Print("sharebrowser.files", files, 0);
    auto* view = new SharesForm;
    view->resize(1000, 700);
    view->show();
    SharesForm::DeclareSchema();
    MeasureOpening("tree", tree);
    MeasureOpening("flat", flat);
    view->Init();
    Measure("tree", tree, *view);
    Measure("flat", flat, *view);
    Print("sharebrowser.resident_mib", ResidentMiB(), 0);
    delete view;
    return 0;
}
