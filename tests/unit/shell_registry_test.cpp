// The handler registry: its order, display names and claimed extensions.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/charset.h"
#include "core/handler.h"
#include "shell/handler_list.h"

namespace {

#define EXTRACT " \x93\x57\x8A\x4A"
#define DECOMPRESS " \x89\xF0\x93\x80"

struct Registry {
  Registry() {
    BuildLeadByteTable();
    head = CreateHandlerRegistry();
  }
  ~Registry() { delete head; }
  // The display name of the first handler that claims the extension, or "".
  std::string Claimant(const char* extension) const {
    for (FormatHandler* h = head; h != nullptr; h = h->next)
      if (h->MatchesExtension(extension)) return h->displayName;
    return "";
  }
  FormatHandler* head;
};

TEST(HandlerRegistry, OrderAndDisplayNames) {
  Registry r;
  std::vector<std::string> names;
  for (FormatHandler* h = r.head; h != nullptr; h = h->next) names.push_back(h->displayName);
  const std::vector<std::string> expected = {
      "Tar" EXTRACT,  "Tar+Gzip" EXTRACT, "Tar+Bzip2" EXTRACT, "Tar+Compress" EXTRACT,
      "Lzh" DECOMPRESS, "Zip" EXTRACT,    "Arj" EXTRACT,       "Gzip" EXTRACT,
      "Bzip2" EXTRACT, "Compress" EXTRACT, "yDecode",          "CAB",
      "Base64 Decode", "UUDecode",
      "Tar+Xz" EXTRACT, "Tar+Zstd" EXTRACT, "Tar+Lzip" EXTRACT, "Tar+Lzma" EXTRACT, "Tar+Lz4" EXTRACT,
      "Xz" EXTRACT, "Zstd" EXTRACT, "Lzip" EXTRACT, "Lzma" EXTRACT, "Lz4" EXTRACT};
  EXPECT_EQ(names, expected);
}

TEST(HandlerRegistry, ClaimedExtensions) {
  Registry r;
  EXPECT_EQ(r.Claimant("tar"), "Tar" EXTRACT);
  EXPECT_EQ(r.Claimant("TGZ"), "Tar+Gzip" EXTRACT);
  EXPECT_EQ(r.Claimant("gz"), "Tar+Gzip" EXTRACT);
  EXPECT_EQ(r.Claimant("tbz"), "Tar+Bzip2" EXTRACT);
  EXPECT_EQ(r.Claimant("Bz2"), "Tar+Bzip2" EXTRACT);
  // Compress is claimed with its exact letter case only.
  EXPECT_EQ(r.Claimant("Z"), "Tar+Compress" EXTRACT);
  EXPECT_EQ(r.Claimant("taZ"), "Tar+Compress" EXTRACT);
  EXPECT_EQ(r.Claimant("z"), "");
  EXPECT_EQ(r.Claimant("TAZ"), "");
  EXPECT_EQ(r.Claimant("Lzh"), "Lzh" DECOMPRESS);
  EXPECT_EQ(r.Claimant("ZIP"), "Zip" EXTRACT);
  EXPECT_EQ(r.Claimant("arj"), "Arj" EXTRACT);
  EXPECT_EQ(r.Claimant("NTX"), "yDecode");
  // The library formats: the TAR handler first, for both extensions; .tlz
  // is tried as lzip first (lzma by content when it is not).
  const std::pair<const char*, const char*> library[] = {
      {"xz", "Tar+Xz"}, {"TXZ", "Tar+Xz"}, {"zst", "Tar+Zstd"}, {"tzst", "Tar+Zstd"}, {"lz", "Tar+Lzip"},
      {"tlz", "Tar+Lzip"}, {"lzma", "Tar+Lzma"}, {"lz4", "Tar+Lz4"}, {"tlz4", "Tar+Lz4"}};
  for (const auto& [ext, name] : library) EXPECT_EQ(r.Claimant(ext), std::string(name) + EXTRACT) << ext;
  // Found by content only.
  for (const char* ext : {"cab", "b64", "mim", "uu", "uue", "exe", ""}) EXPECT_EQ(r.Claimant(ext), "") << ext;
}

}  // namespace
