// Every mail of the shared real stores exported as MIME: Python's email
// package reads each one without a defect, and a message made from its
// properties keeps the source's subject.
#include <gtest/gtest.h>

#include "output/mime/mail_check.h"
#include "output/mime/message_fields.h"
#include "output/mime/message_to_mime.h"
#include "store/nid_types.h"

namespace bm::mime {
namespace {

using nlohmann::json;

class SharedStoreMime : public testing::TestWithParam<const char*> {};

TEST_P(SharedStoreMime, EveryMessageParsesWithoutDefects) {
    BM_REQUIRE_STORE(path, GetParam());
    BM_REQUIRE_PYTHON();
    StoreFile store;
    StoreReader reader;
    ASSERT_EQ(OpenStore(store, path, StoreOpenMode::SharedRead), 0);
    ASSERT_EQ(BuildIndexes(store, reader), 0);
    LoadNamedPropertyMap(store);
    const auto out = bmtest::ScratchDir(std::string("shared-mime-") + bmtest::StoreTestName(GetParam()));
    json expected = json::array();
    std::size_t n = 0;
    for (const NodeEntry& node : store.forest.records()) {
        if (!IsNormalMessageNid(node.nid)) continue;
        const std::optional<pst::Message> message = CopySourceMessage(store, node);
        if (!message) continue;
        const auto file = out / (std::to_string(++n) + ".eml");
        bmtest::WriteFile(file, MessageToMime(*message));
        json expect = json::object();
        if (!TextOf(message->properties, 0x007D, CodePageOf(message->properties)))
            expect["subject"] = TextOf(message->properties, 0x0037, CodePageOf(message->properties)).value_or("");
        expected.push_back({{"file", file.string()}, {"expect", expect}});
    }
    ReleaseStore(store);
    EXPECT_GT(n, 0u);
    EXPECT_EQ(bmtest::CheckMail("messages", {}, expected), "");
}

INSTANTIATE_TEST_SUITE_P(Stores, SharedStoreMime, testing::ValuesIn(bmtest::kSharedStoreNames),
                         [](const auto& info) { return bmtest::StoreTestName(info.param); });

}  // namespace
}  // namespace bm::mime
