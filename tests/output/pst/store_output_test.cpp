// What the finished file holds beyond the messages: the same content gives
// the same bytes, and a store that used no named property still has a
// name-to-ID map that independent readers accept.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>

#include "output/pst/props_tags.h"
#include "output/pst/store_writer.h"
#include "support/command_run.h"
#include "support/file_bytes.h"
#include "support/test_paths.h"

namespace bm::pst {
namespace {

namespace fs = std::filesystem;

Message Mail(const std::string& subject, bool withTimes) {
    Message m;
    m.properties.SetString(tags::kMessageClass, "IPM.Note");
    m.properties.SetString(tags::kSubject, subject);
    m.properties.SetString(tags::kBody, "Body of " + subject + " — тело 本文");
    if (withTimes) {
        m.properties.SetSysTime(tags::kCreationTime, FileTimeFromUnix(1600000000));
        m.properties.SetSysTime(tags::kLastModificationTime, FileTimeFromUnix(1600000100));
    }
    m.AddRecipient("Recipient", "recipient@example.org", kRecipientTo);
    return m;
}

// A store with folders, mail with and without times, a named property, an
// attachment and an embedded message.
void WriteSample(const fs::path& path, StoreOptions options) {
    auto store = PstStore::Create(path, options);
    const FolderId inbox = store->CreateFolder(store->ipmSubtree(), "Inbox");
    const FolderId sub = store->CreateFolder(inbox, "Sub");
    for (int i = 0; i < 40; ++i) {
        Message m = Mail("mail " + std::to_string(i), i % 2 == 0);
        if (i % 10 == 0) m.attachments.push_back(Attachment::FromBytes("a.bin", std::vector<std::uint8_t>(9000, 7)));
        store->AddMessage(i % 3 ? inbox : sub, m);
    }
    Message appointment = Mail("meeting", true);
    appointment.properties.SetString(named::kAppointmentLocation, "Room 1");
    Message outer = Mail("outer", true);
    outer.attachments.push_back(Attachment::FromMessage("meeting", appointment));
    store->AddMessage(sub, outer);
    store->Finish();
}

TEST(StoreOutput, TheSameContentGivesTheSameBytes) {
    const fs::path dir = bmtest::ScratchDir("pst_same_bytes");
    const StoreOptions options{.displayName = "Same", .defaultMessageTime = 1650000000};
    WriteSample(dir / "one.pst", options);
    WriteSample(dir / "two.pst", options);
    const auto one = bmtest::ReadWholeFile(dir / "one.pst");
    const auto two = bmtest::ReadWholeFile(dir / "two.pst");
    ASSERT_GT(one.size(), 100000u);
    EXPECT_TRUE(one == two) << "the two writes differ";

    // Another seed gives another record key, and so other bytes of the
    // same size.
    StoreOptions seeded = options;
    seeded.seed = 1;
    WriteSample(dir / "seeded.pst", seeded);
    const auto three = bmtest::ReadWholeFile(dir / "seeded.pst");
    EXPECT_EQ(three.size(), one.size());
    EXPECT_FALSE(three == one);
}

// pypff (libpff) opens a store only when its name-to-ID map lists entries.
TEST(StoreOutput, AStoreWithoutNamedPropertiesOpensInPypff) {
    if (std::system("/usr/bin/python3 -c 'import pypff' >/dev/null 2>&1") != 0) {
        GTEST_SKIP() << "python3-pypff not installed";
    }
    const fs::path dir = bmtest::ScratchDir("pst_no_named");
    const fs::path path = dir / "plain.pst";
    auto store = PstStore::Create(path, {.displayName = "Plain"});
    const FolderId inbox = store->CreateFolder(store->ipmSubtree(), "Inbox");
    for (int i = 0; i < 3; ++i) store->AddMessage(inbox, Mail("plain " + std::to_string(i), true));
    store->Finish();

    const fs::path script = dir / "count.py";
    std::ofstream(script) << "import sys, pypff\n"
                             "f = pypff.file()\n"
                             "f.open(sys.argv[1])\n"
                             "def walk(folder, path):\n"
                             "    for sub in folder.sub_folders:\n"
                             "        p = path + '/' + sub.name\n"
                             "        print(p, sub.number_of_sub_messages,\n"
                             "              '|'.join(m.subject for m in sub.sub_messages))\n"
                             "        walk(sub, p)\n"
                             "walk(f.get_root_folder(), '')\n";
    const std::string command = "/usr/bin/python3 " + script.string() + " " + path.string() + " 2>&1";
    const bmtest::CommandRun run = bmtest::RunCommand(command);
    ASSERT_TRUE(run.started);
    const std::string& output = run.output;
    EXPECT_EQ(run.status, 0) << output;
    EXPECT_NE(output.find("/Top of Personal Folders/Inbox 3 plain 0|plain 1|plain 2\n"), std::string::npos)
        << output;
}

}  // namespace
}  // namespace bm::pst
