// What the export tests share: a small store written with the project's
// writer and read back with its reader, and the Python checker that reads
// the exported mail with Python's own email and mailbox packages.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>

#include <nlohmann/json.hpp>

#include "messaging/messaging.h"
#include "output/pst/message.h"
#include "output/pst/props_tags.h"
#include "output/pst/store_writer.h"
#include "output/source_copy.h"
#include "store/store.h"
#include "support/test_paths.h"

namespace bmtest {

// A store written by the project's writer, opened again for reading.
class WrittenStore {
public:
    explicit WrittenStore(const std::string& name) : path_(ScratchDir(name) / "source.pst") {
        writer_ =
            bm::pst::PstStore::Create(path_, {.displayName = "Source", .seed = 11, .defaultMessageTime = 1700000000});
    }
    bm::pst::PstStore& writer() { return *writer_; }

    // Finishes writing and opens the file with the reader.
    bm::StoreFile& Open() {
        writer_->Finish();
        EXPECT_EQ(bm::OpenStore(store_, path_, bm::StoreOpenMode::SharedRead), 0);
        EXPECT_EQ(bm::BuildIndexes(store_, reader_), 0);
        bm::LoadNamedPropertyMap(store_);
        return store_;
    }
    // The message at `nid` as the reader gives it back.
    std::optional<bm::pst::Message> Read(std::uint32_t nid) {
        for (const bm::NodeEntry& n : store_.forest.records())
            if (n.nid == nid) return bm::CopySourceMessage(store_, n);
        return std::nullopt;
    }
    ~WrittenStore() { bm::ReleaseStore(store_); }

private:
    std::filesystem::path path_;
    std::unique_ptr<bm::pst::PstStore> writer_;
    bm::StoreFile store_;
    bm::StoreReader reader_;
};

inline constexpr std::int64_t kSent = 1714557600;  // 2024-05-01 10:00:00 UTC; delivered a minute later

// Zoë Ångström, zoe@example.org, as the item's SMTP sender and the one it
// was sent for.
inline void SetSmtpSender(bm::pst::Message& m) {
    namespace tags = bm::pst::tags;
    for (const auto& [name, type, address] :
         {std::tuple{tags::kSentRepresentingName, tags::kSentRepresentingAddrType, tags::kSentRepresentingEmailAddress},
          std::tuple{tags::kSenderName, tags::kSenderAddrType, tags::kSenderEmailAddress}}) {
        m.properties.SetString(name, "Zoë Ångström");
        m.properties.SetString(type, "SMTP");
        m.properties.SetString(address, "zoe@example.org");
    }
}

// Calls `fn(name, store)` for every shared store that is there, opened
// for reading with its indexes and its named-property map.
template <class Fn>
void ForEachSharedStore(Fn&& fn) {
    for (const char* name : kSharedStoreNames) {
        const std::filesystem::path path = SharedStore(name);
        if (path.empty()) continue;
        bm::StoreFile store;
        bm::StoreReader reader;
        const bool open = bm::OpenStore(store, path, bm::StoreOpenMode::SharedRead) == 0 &&
                          bm::BuildIndexes(store, reader) == 0;
        EXPECT_TRUE(open) << name;
        if (open) {
            bm::LoadNamedPropertyMap(store);
            fn(std::string_view(name), store);
        }
        bm::ReleaseStore(store);
    }
}

// A mail from an SMTP sender, sent at kSent.
inline bm::pst::Message Mail(std::string_view subject, std::string_view body) {
    namespace tags = bm::pst::tags;
    bm::pst::Message m;
    m.properties.SetString(tags::kMessageClass, "IPM.Note");
    m.properties.SetString(tags::kSubject, subject);
    if (!body.empty()) m.properties.SetString(tags::kBody, body);
    m.properties.SetSysTime(tags::kClientSubmitTime, bm::pst::FileTimeFromUnix(kSent));
    m.properties.SetSysTime(tags::kMessageDeliveryTime, bm::pst::FileTimeFromUnix(kSent + 60));
    SetSmtpSender(m);
    return m;
}

inline bm::pst::Attachment File(std::string_view name, std::string_view mimeType, std::string_view bytes) {
    bm::pst::Attachment a = bm::pst::Attachment::FromBytes(name, {bytes.begin(), bytes.end()});
    if (!mimeType.empty()) a.properties.SetString(bm::pst::tags::kAttachMimeTag, mimeType);
    return a;
}

inline std::string Hex(std::string_view bytes) {
    static const char* digits = "0123456789abcdef";
    std::string out;
    for (unsigned char c : bytes) {
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

inline void WriteFile(const std::filesystem::path& path, std::string_view bytes) {
    std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// The system's Python, where Debian's python3-* packages (vobject,
// icalendar, dateutil) are installed; "python3" on the path otherwise.
inline std::string Python() {
    return std::filesystem::exists("/usr/bin/python3") ? std::string("/usr/bin/python3") : std::string("python3");
}

// Whether Python can import `modules` (a comma-separated list).
inline bool HavePythonModules(const std::string& modules) {
    return std::system((Python() + " -c 'import " + modules + "' >/dev/null 2>&1").c_str()) == 0;
}

inline bool HavePython() { return HavePythonModules("email.policy, mailbox"); }

#define BM_REQUIRE_PYTHON() \
    if (!::bmtest::HavePython()) GTEST_SKIP() << "python3 is not installed"

// Runs the Python checker `script` (a path below tests/) with `arguments`
// and the JSON `expected` as its last argument; its complaints, empty when all
// matched.
inline std::string RunChecker(const std::string& script, const std::string& arguments, const nlohmann::json& expected) {
    const std::filesystem::path expectedPath = ScratchDir("checker-expected") / "expected.json";
    WriteFile(expectedPath, expected.dump(2));
    std::string command = Python() + " '" + std::string(BRIGHTMEND_SOURCE_DIR) + "/tests/" + script + "' " + arguments +
                          " '" + expectedPath.string() + "' 2>&1";
    std::string out;
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(::popen(command.c_str(), "r"), ::pclose);
    if (!pipe) return "the checker did not start";
    char buffer[4096];
    while (std::size_t n = std::fread(buffer, 1, sizeof buffer, pipe.get())) out.append(buffer, n);
    const int status = ::pclose(pipe.release());
    if (status != 0 && out.empty()) out = "the checker failed with status " + std::to_string(status);
    return out;
}

// Runs check_mail.py in `mode` ("messages", "mbox", "maildir") over `root`
// with `expected`.
inline std::string CheckMail(const std::string& mode, const std::filesystem::path& root, const nlohmann::json& expected) {
    std::string arguments = mode;
    if (!root.empty()) arguments += " '" + root.string() + "'";
    return RunChecker("output/mime/check_mail.py", arguments, expected);
}

}  // namespace bmtest
