// brightmend-cli batch-summary FILE|DIR...: the summaries of the shards of
// one batch (`save --batch ... --shard K/N --json`, each a
// brightmend.batch/1 object) merged into one, as if one run had saved the
// whole batch: the stores in the batch's order, the counts added up, the
// shards that are missing named. A directory stands for the batch
// summaries directly in it (other JSON files there are passed over); a
// file named outright must be one. Exit 0 only when every shard is there
// and every store was saved whole, 3 otherwise, 1 when nothing could be
// merged.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "cli/cli_runs.h"
#include "cli/commands.h"
#include "cli/json_output.h"

namespace bm::cli {

namespace fs = std::filesystem;

namespace {

constexpr const char* kCommand = "batch-summary";
constexpr const char* kBatchSchema = "brightmend.batch/1";

// The JSON object of `file`; discarded when it is none.
OrderedJson ReadJson(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return OrderedJson::parse(text, nullptr, false);
}

bool IsBatchSummary(const OrderedJson& j) {
    return j.is_object() && j.value("schema", std::string()) == kBatchSchema && j.contains("stores") &&
           j["stores"].is_array() && j.contains("storesFound") && j["storesFound"].is_number_unsigned();
}

// K and N of "K/N"; {0, 0} when it is not one.
std::pair<unsigned, unsigned> ShardOf(const OrderedJson& j) {
    unsigned k = 0, n = 0;
    char slash = 0;
    if (j.contains("shard") && j["shard"].is_string() &&
        std::sscanf(j["shard"].get<std::string>().c_str(), "%u%c%u", &k, &slash, &n) == 3 && slash == '/' && k >= 1 &&
        k <= n)
        return {k, n};
    return {0, 0};
}

}  // namespace

int RunBatchSummary(CliEnvironment& env, const std::vector<std::string>& inputs) {
    std::vector<std::pair<fs::path, OrderedJson>> summaries;
    for (const std::string& input : inputs) {
        std::error_code ec;
        if (fs::is_directory(input, ec)) {
            std::vector<fs::path> files;
            for (const fs::directory_entry& e : fs::directory_iterator(input, ec))
                if (e.path().extension() == ".json" && e.is_regular_file(ec)) files.push_back(e.path());
            std::sort(files.begin(), files.end());
            for (const fs::path& f : files)
                if (OrderedJson j = ReadJson(f); IsBatchSummary(j)) summaries.emplace_back(f, std::move(j));
            continue;
        }
        OrderedJson j = ReadJson(input);
        if (!IsBatchSummary(j))
            return FailCommand(env, kCommand, input + ": not a batch summary (" + kBatchSchema +
                                                  ", as save --batch --json prints it)");
        summaries.emplace_back(input, std::move(j));
    }
    if (summaries.empty()) return FailCommand(env, kCommand, "no batch summaries found");

    const OrderedJson& first = summaries.front().second;
    unsigned shardCount = ShardOf(first).second;
    std::set<unsigned> shardsSeen;
    std::size_t storesFound = 0;
    bool aborted = false;
    // Each store once, by its position in the batch (a summary given twice
    // counts once).
    std::map<std::size_t, OrderedJson> byPosition;
    std::vector<OrderedJson> unplaced;
    std::set<std::string> storesSeen;
    OrderedJson files = OrderedJson::array();
    for (const auto& [file, j] : summaries) {
        if (j.value("batch", std::string()) != first.value("batch", std::string()))
            return FailCommand(env, kCommand, file.string() + " is the summary of another batch (" +
                                                  j.value("batch", std::string()) + ", not " +
                                                  first.value("batch", std::string()) + ")");
        const auto [k, n] = ShardOf(j);
        if (n != shardCount)
            return FailCommand(env, kCommand, file.string() + ": its shard does not divide the batch as " +
                                                  summaries.front().first.string() + " does");
        files.push_back(file.string());
        if (!shardsSeen.insert(k).second) continue;  // the same shard again
        storesFound += j["storesFound"].get<std::size_t>();
        aborted = aborted || j.value("outcome", std::string()) == "aborted";
        for (const OrderedJson& entry : j["stores"]) {
            const std::string store = entry.value("store", std::string());
            if (!storesSeen.insert(store).second) continue;
            if (entry.contains("position") && entry["position"].is_number_unsigned())
                byPosition.emplace(entry["position"].get<std::size_t>(), entry);
            else
                unplaced.push_back(entry);
        }
    }
    OrderedJson missing = OrderedJson::array();
    for (unsigned k = 1; k <= shardCount; ++k)
        if (shardsSeen.count(k) == 0) missing.push_back(std::to_string(k) + "/" + std::to_string(shardCount));

    OrderedJson stores = OrderedJson::array();
    std::size_t whole = 0;
    const auto add = [&](const OrderedJson& entry) {
        if (entry.value("exitCode", -1) == kExitSuccess) ++whole;
        stores.push_back(entry);
    };
    for (const auto& [position, entry] : byPosition) add(entry);
    for (const OrderedJson& entry : unplaced) add(entry);
    const bool complete = missing.empty() && whole == storesFound;
    const std::string verdict = aborted ? "aborted" : complete ? "completed" : "partial";
    if (env.json) {
        OrderedJson out = OrderedJson::object();
        out["schema"] = kBatchSchema;
        out["command"] = first.contains("command") ? first["command"] : OrderedJson("save");
        out["batch"] = first.contains("batch") ? first["batch"] : OrderedJson(nullptr);
        out["destination"] = first.contains("destination") ? first["destination"] : OrderedJson(nullptr);
        out["shard"] = nullptr;
        out["summaries"] = std::move(files);
        out["shardsMissing"] = missing;
        out["outcome"] = verdict;
        out["storesFound"] = storesFound;
        out["storesWhole"] = whole;
        out["stores"] = std::move(stores);
        PrintJson(out);
    } else {
        for (const OrderedJson& e : stores)
            std::printf("%s: %s (exit %d)\n", e.value("store", std::string()).c_str(),
                        e.value("outcome", std::string("failed")).c_str(), e.value("exitCode", -1));
        for (const OrderedJson& m : missing) std::printf("shard %s: no summary\n", m.get<std::string>().c_str());
        std::printf("%zu of %zu stores saved whole\n", whole, storesFound);
    }
    return complete && !aborted ? kExitSuccess : kExitPartial;
}

}  // namespace bm::cli
