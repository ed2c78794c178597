// Where tests find the shared real stores and a scratch directory.
#pragma once

#include <array>
#include <filesystem>
#include <string>

namespace bmtest {

// ../shared/stores/ next to the project root; empty when absent (a user's
// fresh clone), in which case store tests skip.
std::filesystem::path SharedStoresDir();
// The path of this test program's own copy of one shared store, or empty
// when the store is missing.
std::filesystem::path SharedStore(const std::string& name);
// A fresh, empty directory for one test; removed when the test program ends.
std::filesystem::path ScratchDir(const std::string& name);

// The shared stores that the per-store test suites run over, and the test
// name each gets ("unicode-sample.ost" becomes "unicode_sample_ost").
inline constexpr std::array<const char*, 7> kSharedStoreNames = {
    "ansi-sample.pst",    "unicode-sample.pst", "unicode-submessage.pst", "unicode-dist-list.pst",
    "unicode-sample.ost", "unicode-enron.pst",  "4k-sample.ost"};
std::string StoreTestName(const std::string& store);

}  // namespace bmtest

// Skips the current test when a shared store is absent.
#define BM_REQUIRE_STORE(var, name)                                            \
    const std::filesystem::path var = ::bmtest::SharedStore(name);             \
    if (var.empty()) GTEST_SKIP() << "shared store " << (name) << " not present"
