// Times the item store on a store shaped like a very large share: a million
// value-less file items, each tagged with one size and a handful of search
// tokens, all of them also under one very common token (as "mp3" is in a
// real music share). Prints one figure per line as "name value".
//
// Usage: quorvale-bench-store [--items N]   (default 1000000)

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <unordered_set>
#include <utility>
#include <vector>

#include <QFileInfo>
#include <QTemporaryDir>

#include "BenchSupport.h"
#include "store/Data.h"
#include "store/DataSaver.h"

namespace {

using namespace BenchSupport;

constexpr std::uint64_t kSeed = 20240613;
constexpr std::size_t kTokensPerFile = 10;
constexpr std::size_t kHubDisconnects = 10000;
constexpr std::size_t kSubsetQueries = 10000;

bool ParseItems(int argc, char** argv, std::size_t& items)
{
    for (int n = 1; n < argc; ++n) {
        if (std::strcmp(argv[n], "--items") == 0 && n + 1 < argc) {
            char* end = nullptr;
            const unsigned long long value = std::strtoull(argv[++n], &end, 10);
            if (*end != '\0' || value < 10)
                return false;
            items = static_cast<std::size_t>(value);
        } else {
            return false;
        }
    }
    return true;
}

// The declarations a sharing manager would make, in a store of its own.
struct Schema
{
    std::unique_ptr<Data> data = std::make_unique<Data>();
    Type* file = data->NewType("file", true, true, false);
    Type* size = data->NewType("size", false, false, false);
    Type* token = data->NewType("token", false, false, false);
    std::unique_ptr<DataSaver> saver = std::make_unique<DataSaver>(*data);

    Schema()
    {
        file->RelateToType(size, MANY, ONE, false);
        file->RelateToType(token, MANY, MANY, false);
        for (const char* name : {"file", "size", "token"})
            saver->AddSavedType(name);
    }

    std::size_t ItemCount() const
    {
        return file->ItemCount() + size->ItemCount() + token->ItemCount();
    }
};

struct Share
{
    std::vector<Item*> files;
    std::vector<Item*> sizes;
    std::vector<Item*> tokens;
    Item* hub = nullptr;
};

void CreateTokensAndSizes(Schema& s, Share& share, std::size_t items)
{
    share.tokens.reserve(items);
    for (std::size_t n = 0; n < items; ++n)
        share.tokens.push_back(s.token->NewItem("token" + std::to_string(n)));
    share.hub = s.token->NewItem("mp3");
    const std::size_t sizeCount = items / 10;
    share.sizes.reserve(sizeCount);
    for (std::size_t n = 0; n < sizeCount; ++n)
        share.sizes.push_back(s.size->NewItem(Value(1000000ULL + 4096ULL * n)));
}

// Every size and token gets at least one file, so that nothing is garbage
// and the collector's figure is its cost on a store it must keep whole.
void CreateFiles(Schema& s, Share& share, std::size_t items, std::mt19937_64& rng)
{
    share.files.reserve(items);
    for (std::size_t n = 0; n < items; ++n) {
        Item* file = s.file->NewItem();
        file->Connect(share.sizes[n % share.sizes.size()]);
        file->Connect(share.tokens[n]);
        for (std::size_t k = 1; k < kTokensPerFile; ++k)
            file->Connect(share.tokens[rng() % items]);
        file->Connect(share.hub);
        share.files.push_back(file);
    }
}

std::vector<std::size_t> DistinctIndices(std::size_t count, std::size_t range, std::mt19937_64& rng)
{
    std::unordered_set<std::size_t> seen;
    std::vector<std::size_t> out;
    count = std::min(count, range);
    while (out.size() < count) {
        const std::size_t n = rng() % range;
        if (seen.insert(n).second)
            out.push_back(n);
    }
    return out;
}

// Connects fresh (file, token) pairs, then takes them apart again untimed
// so the store keeps its shape for the figures that follow.
double MeasureConnect(Share& share, std::mt19937_64& rng)
{
    std::vector<std::pair<Item*, Item*>> pairs;
    const std::size_t wanted = std::min<std::size_t>(200000, share.files.size());
    while (pairs.size() < wanted) {
        Item* file = share.files[rng() % share.files.size()];
        Item* token = share.tokens[rng() % share.tokens.size()];
        if (!file->IsConnected(token))
            pairs.emplace_back(file, token);
    }
    const auto start = Clock::now();
    for (const auto& [file, token] : pairs)
        file->Connect(token);
    const double seconds = SecondsSince(start);
    for (const auto& [file, token] : pairs)
        file->Disconnect(token);
    return seconds * 1e9 / static_cast<double>(pairs.size());
}

double MeasureIsConnected(const Share& share, std::mt19937_64& rng)
{
    const std::size_t queries = std::min<std::size_t>(1000000, share.files.size());
    std::vector<std::pair<Item*, Item*>> pairs;
    pairs.reserve(queries);
    for (std::size_t n = 0; n < queries; ++n) {
        const std::size_t f = rng() % share.files.size();
        // Half of the questions are about a link that exists.
        Item* token = n % 2 ? share.tokens[f] : share.tokens[rng() % share.tokens.size()];
        pairs.emplace_back(share.files[f], token);
    }
    std::size_t hits = 0;
    const auto start = Clock::now();
    for (const auto& [file, token] : pairs)
        hits += file->IsConnected(token) ? 1 : 0;
    const double seconds = SecondsSince(start);
    if (hits < queries / 2)
        std::fprintf(stderr, "is_connected: only %zu of %zu hits\n", hits, queries);
    return seconds * 1e9 / static_cast<double>(queries);
}

double MeasureSubset(Data& data, const std::vector<ItemSet>& queries)
{
    std::size_t found = 0;
    const auto start = Clock::now();
    for (const ItemSet& query : queries)
        found += data.GetItemSubset(query, "file").size();
    const double seconds = SecondsSince(start);
    std::fprintf(stderr, "subset: %zu files over %zu queries\n", found, queries.size());
    return seconds * 1e6 / static_cast<double>(queries.size());
}

std::vector<ItemSet> TokenPairs(const Share& share, std::mt19937_64& rng, bool withHub)
{
    std::vector<ItemSet> queries;
    for (std::size_t n = 0; n < kSubsetQueries; ++n) {
        Item* a = share.tokens[rng() % share.tokens.size()];
        Item* b = withHub ? share.hub : share.tokens[rng() % share.tokens.size()];
        queries.push_back(ItemSet{a, b});
    }
    return queries;
}

// The mean cost of taking one file off the hub token, whose partner set is
// as large as the share; reconnected afterwards, untimed.
double MeasureHubDisconnect(Share& share, std::mt19937_64& rng)
{
    std::vector<std::size_t> picks = DistinctIndices(kHubDisconnects, share.files.size(), rng);
    const auto start = Clock::now();
    for (std::size_t n : picks)
        share.hub->Disconnect(share.files[n]);
    const double seconds = SecondsSince(start);
    for (std::size_t n : picks)
        share.hub->Connect(share.files[n]);
    return seconds * 1e6 / static_cast<double>(picks.size());
}

int Run(std::size_t items)
{
    std::mt19937_64 rng(kSeed);
    QTemporaryDir folder;
    if (!folder.isValid()) {
        std::fprintf(stderr, "cannot make a temporary folder\n");
        return 1;
    }
    const QByteArray snapshot = QFile::encodeName(folder.filePath("snapshot"));

    auto built = std::make_unique<Schema>();
    Share share;
    // Beside each wall time the CPU time of the same step: on a machine
    // shared with other work the ratio of the two wall times wanders.
    auto start = Clock::now();
    double cpu = CpuSeconds();
    CreateTokensAndSizes(*built, share, items);
    CreateFiles(*built, share, items, rng);
    Print("store.build_s", SecondsSince(start), 3);
    Print("store.build_cpu_s", CpuSeconds() - cpu, 3);
    Print("store.rss_mib", ResidentMiB(), 1);

    Print("store.connect_ns", MeasureConnect(share, rng), 1);
    Print("store.is_connected_ns", MeasureIsConnected(share, rng), 1);
    Print("store.subset_two_tokens_us", MeasureSubset(*built->data, TokenPairs(share, rng, false)),
          3);
    Print("store.subset_hub_token_us", MeasureSubset(*built->data, TokenPairs(share, rng, true)),
          3);
    Print("store.hub_disconnect_us", MeasureHubDisconnect(share, rng), 3);

    start = Clock::now();
    const int collected = built->data->RemoveDisconnectedItems();
    Print("store.gc_s", SecondsSince(start), 3);
    if (collected != 0)
        std::fprintf(stderr, "gc removed %d items from a store with no garbage\n", collected);

    // The periodic save holds the event loop only while it reads the store;
    // the file is written on the saver's thread.
    start = Clock::now();
    cpu = CpuSeconds();
    built->saver->SaveInBackground(snapshot.constData());
    Print("store.save_loop_s", SecondsSince(start), 3);
    Print("store.save_loop_cpu_s", CpuSeconds() - cpu, 3);
    built->saver->WaitForSave();

    start = Clock::now();
    const bool saved = built->saver->Save(snapshot.constData());
    Print("store.save_s", SecondsSince(start), 3);
    if (!saved) {
        std::fprintf(stderr, "save failed\n");
        return 1;
    }
    Print("store.snapshot_mib",
          static_cast<double>(QFileInfo(folder.filePath("snapshot")).size()) / (1024.0 * 1024.0),
          1);

    // Only one store at a time, as at start-up.
    const std::size_t expected = built->ItemCount();
    built.reset();
    Schema fresh;
    start = Clock::now();
    cpu = CpuSeconds();
    try {
        fresh.saver->Load(snapshot.constData());
    } catch (const DataLoadFailure&) {
        std::fprintf(stderr, "load failed\n");
        return 1;
    }
    Print("store.load_s", SecondsSince(start), 3);
    Print("store.load_cpu_s", CpuSeconds() - cpu, 3);
    if (fresh.ItemCount() != expected) {
        std::fprintf(stderr, "loaded %zu items, saved %zu\n", fresh.ItemCount(), expected);
        return 1;
    }
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    std::size_t items = 1000000;
    if (!ParseItems(argc, argv, items)) {
        std::fprintf(stderr, "usage: %s [--items N]   (N >= 10)\n", argv[0]);
        return 2;
    }
    return Run(items);
}
