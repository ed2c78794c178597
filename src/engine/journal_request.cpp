#include "engine/journal_request.h"

#include <cctype>

#include <nlohmann/json.hpp>

namespace bm {

std::string JournalRequestText(const JournalRequest& request) {
    nlohmann::ordered_json out;
    out["store"] = request.store;
    out["folders"] = request.folders;
    out["trees"] = request.trees;
    out["all"] = request.all;
    out["deepScan"] = request.deepScan;
    out["recoverDeleted"] = request.recoverDeleted;
    out["markDamaged"] = request.markDamaged;
    out["since"] = request.since;
    out["until"] = request.until;
    out["from"] = request.senders;
    out["class"] = request.classes;
    out["dedupe"] = request.dedupe;
    out["splitSize"] = request.splitSize;
    // Bytes that are not UTF-8 are written as U+FFFD, as in every JSON output.
    return out.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

std::optional<JournalRequest> JournalRequestOfText(const std::string& text) {
    try {
        const nlohmann::json in = nlohmann::json::parse(text);
        JournalRequest request;
        request.store = in.at("store").get<std::string>();
        request.folders = in.at("folders").get<std::vector<std::string>>();
        request.trees = in.at("trees").get<std::vector<std::string>>();
        request.all = in.at("all").get<bool>();
        request.deepScan = in.at("deepScan").get<bool>();
        request.recoverDeleted = in.at("recoverDeleted").get<bool>();
        request.markDamaged = in.at("markDamaged").get<bool>();
        request.since = in.at("since").get<std::string>();
        request.until = in.at("until").get<std::string>();
        request.senders = in.at("from").get<std::vector<std::string>>();
        request.classes = in.at("class").get<std::vector<std::string>>();
        request.dedupe = in.at("dedupe").get<bool>();
        request.splitSize = in.at("splitSize").get<std::string>();
        return request;
    } catch (const nlohmann::json::exception&) {
        return std::nullopt;
    }
}

std::optional<std::uint64_t> ParseSize(std::string_view text) {
    std::size_t at = 0;
    double value = 0;
    bool digits = false;
    while (at < text.size() && text[at] >= '0' && text[at] <= '9') {
        value = value * 10 + (text[at++] - '0');
        digits = true;
    }
    if (at < text.size() && text[at] == '.') {
        double scale = 0.1;
        for (++at; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at, scale /= 10) {
            value += (text[at] - '0') * scale;
            digits = true;
        }
    }
    if (!digits) return std::nullopt;
    std::string unit(text.substr(at));
    for (char& c : unit) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    double factor = 1;
    if (!unit.empty() && unit != "B") {
        static constexpr std::string_view kUnits = "KMGT";
        const std::size_t power = kUnits.find(unit[0]);
        if (power == std::string_view::npos) return std::nullopt;
        const std::string_view rest = std::string_view(unit).substr(1);
        if (!rest.empty() && rest != "B" && rest != "IB") return std::nullopt;
        for (std::size_t i = 0; i <= power; ++i) factor *= 1024;
    }
    const double bytes = value * factor;
    if (bytes >= 1.8e19) return std::nullopt;
    return static_cast<std::uint64_t>(bytes);
}

}  // namespace bm
