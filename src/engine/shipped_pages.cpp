#include "engine/shipped_pages.h"

#include <array>
#include <fstream>
#include <system_error>

namespace bm {

namespace fs = std::filesystem;

namespace {

constexpr std::array kPages{
    ShippedPage{kProgressPage,
                "<html><head><title>Brightmend</title></head><body>"
                "<h2>Analysing the store file</h2><p>Please wait while the folders are read.</p>"
                "</body></html>\n"},
    ShippedPage{kCompletedPage,
                "<html><head><title>Brightmend</title></head><body>"
                "<h2>Analysis completed</h2><p>Check the folders to save and press Save.</p>"
                "</body></html>\n"},
    ShippedPage{kAbortPage,
                "<html><head><title>Brightmend</title></head><body>"
                "<h2>Analysis not completed</h2><p>The folders found so far are shown.</p>"
                "</body></html>\n"},
    ShippedPage{kPreviewPage, "<html><head><title>Brightmend</title></head><body></body></html>\n"},
    ShippedPage{kMessagePreviewPage, "<html><head><title>Brightmend</title></head><body></body></html>\n"},
    ShippedPage{kHelpPage,
                "<html><head><title>Brightmend Help</title></head><body>"
                "<h1>Brightmend</h1>"
                "<p>Step 1: choose the offline store file (.ost), or search a folder for one.</p>"
                "<p>Step 2: the file is analysed; its folders appear in the tree with their counts.</p>"
                "<p>Step 3: check the folders to keep and press Save to write them into a new .pst file.</p>"
                "</body></html>\n"},
};

}  // namespace

std::span<const ShippedPage> DefaultShippedPages() { return kPages; }

bool PrepareAppDir(const fs::path& appDir, std::span<const ShippedPage> pages) {
    std::error_code ec;
    fs::create_directories(appDir, ec);
    if (!fs::is_directory(appDir, ec)) return false;
    bool allThere = true;
    for (const ShippedPage& page : pages) {
        const fs::path target = appDir / fs::path(std::string(page.name));
        if (fs::exists(target, ec)) continue;
        std::ofstream out(target, std::ios::binary);
        out.write(page.content.data(), static_cast<std::streamsize>(page.content.size()));
        if (!out.flush()) allThere = false;
    }
    return allThere;
}

}  // namespace bm
