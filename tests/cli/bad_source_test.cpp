// Sources that are no store: a FIFO or a device named as the store fails
// every command at once with a message that says what it is (nothing waits
// for a writer on the pipe), and a file without a store header fails every
// command that reads it.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "cli/cli_runner.h"
#include "support/test_paths.h"

namespace bm {
namespace {

using namespace bmtest::cli_names;

TEST(CliBadSource, AFifoOrADeviceFailsAtOnceAndSaysWhatItIs) {
    const fs::path home = bmtest::ScratchDir("cli-fifo");
    const fs::path fifo = home / "outlook.ost";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    struct Source {
        fs::path path;
        const char* what;
    };
    for (const Source& source : {Source{fifo, "is a FIFO (named pipe), not a store file"},
                                 Source{"/dev/null", "is a character device, not a store file"}}) {
        const std::string path = source.path.string();
        for (const std::vector<std::string>& command :
             {std::vector<std::string>{"-q", "list", path}, {"-q", "analyze", path},
              {"-q", "save", path, "--to", home.string(), "--all"}, {"-q", "info", path}, {"-q", "check", path}}) {
            SCOPED_TRACE(command[1] + " " + path);
            // A blocking open never returns: the run is killed after 20 s (exit 137).
            const auto r = RunCli(command, home, 20);
            EXPECT_EQ(r.exitCode, 1) << r.out << r.err;
            EXPECT_NE(r.err.find(path + " " + source.what), std::string::npos) << r.err;
        }
    }
    EXPECT_FALSE(fs::exists(home / "Repair")) << "nothing is written for a source that is no store";
}

TEST(CliBadSource, AFileWithoutAStoreHeaderFailsEveryReadingCommand) {
    const fs::path home = bmtest::ScratchDir("cli-no-header");
    const fs::path file = home / "notes.ost";
    std::ofstream(file) << "These are not the bytes of a store file.\n";
    for (const char* command : {"list", "analyze"}) {
        SCOPED_TRACE(command);
        const auto r = RunCli({"-q", command, file.string()}, home);
        EXPECT_EQ(r.exitCode, 1) << r.out << r.err;
        EXPECT_NE(r.err.find("Unable to parse file. File is Highly Corrupted"), std::string::npos) << r.err;
    }
}

}  // namespace
}  // namespace bm
