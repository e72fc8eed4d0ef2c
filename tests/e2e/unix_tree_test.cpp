// A Unix tree comes out as it went in: permission bits (less the umask),
// symbolic and hard links, FIFOs, sparse files written with holes, folders'
// modes and times set after their contents; one small tree archived by GNU
// tar, bsdtar, zip, 7zz and arj (tests/fixtures/make-unix.sh). Then what
// hostile links must not do.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "support/testutil.h"

namespace {

using testutil::ReadFile;

struct Row {
  const char* fixture;
  const char* root;  // where the tree lands
  bool symlinks, hardLinks, fifo, holes, folders;
};
void PrintTo(const Row& r, std::ostream* os) { *os << r.fixture; }

mode_t Umask() {
  const mode_t mask = umask(022);
  umask(mask);
  return mask;
}

class UnixTree : public ::testing::TestWithParam<Row> {
 protected:
  testutil::RunResult Run(const std::vector<std::string>& args) {
    // Far from UTC, so a local MS-DOS time in place of an exact one shows.
    return testutil::RunDorvane(args, {{"DORVANE_REGISTRY", tmp_ / "registry.reg"}, {"TZ", "Asia/Tokyo"}});
  }
  std::string out() const { return tmp_ / "out"; }
  testutil::TempDir tmp_;
};

TEST_P(UnixTree, ComesOutAsItWentIn) {
  const Row& row = GetParam();
  const auto r = Run({"-o", out(), testutil::Fixture(std::string("unix/") + row.fixture)});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.err, "");
  const std::string tree = out() + "/" + row.root;
  const mode_t mask = Umask();
  struct stat st;

  struct File {
    const char* path;
    mode_t mode;
    const char* data;
  };
  for (const File& f : {File{"bin/run", 0755, "#!/bin/sh\necho run\n"}, File{"priv/key", 0600, "secret\n"},
                        File{"ro/f", 0444, "read only\n"}, File{"docs/readme.txt", 0644, "hello\n"},
                        File{"docs/hard", 0644, "hello\n"}}) {
    ASSERT_EQ(lstat((tree + f.path).c_str(), &st), 0) << f.path;
    EXPECT_TRUE(S_ISREG(st.st_mode)) << f.path;
    EXPECT_EQ(st.st_mode & 07777, f.mode & ~mask) << f.path;
    EXPECT_EQ(st.st_mtime, 1000000000) << f.path;
    EXPECT_EQ(ReadFile(tree + f.path), f.data) << f.path;
  }

  std::string sparse(3 << 20, '\0');
  sparse.replace(1 << 20, 6, "middle");
  sparse.replace(sparse.size() - 3, 3, "end");
  EXPECT_TRUE(ReadFile(tree + "sparse.bin") == sparse);
  ASSERT_EQ(stat((tree + "sparse.bin").c_str(), &st), 0);
  if (row.holes) {
    EXPECT_LT(st.st_blocks * 512, 1 << 20);
  }

  struct stat other;
  ASSERT_EQ(stat((tree + "docs/readme.txt").c_str(), &other), 0);
  ASSERT_EQ(stat((tree + "docs/hard").c_str(), &st), 0);
  EXPECT_EQ(st.st_ino == other.st_ino, row.hardLinks);

  if (row.symlinks) {
    for (const auto& [link, target] : {std::pair<std::string, std::string>{"link", "docs/readme.txt"},
                                       {"abs", "/etc/passwd"}}) {
      char text[64] = {};
      EXPECT_EQ(readlink((tree + link).c_str(), text, sizeof text - 1), static_cast<ssize_t>(target.size())) << link;
      EXPECT_EQ(text, target);
      ASSERT_EQ(lstat((tree + link).c_str(), &st), 0);
      EXPECT_EQ(st.st_mtime, 1000000000) << link;
    }
  }
  if (row.fifo) {
    ASSERT_EQ(lstat((tree + "pipe").c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
    EXPECT_EQ(st.st_mode & 07777, 0644 & ~mask);
  }
  if (row.folders) {
    struct Folder {
      const char* path;
      mode_t mode;
    };
    for (const Folder& f : {Folder{"bin", 0755}, Folder{"priv", 0700}, Folder{"ro", 0555}, Folder{"docs", 0755}}) {
      ASSERT_EQ(lstat((tree + f.path).c_str(), &st), 0) << f.path;
      EXPECT_EQ(st.st_mode & 07777, f.mode & ~mask) << f.path;
      EXPECT_EQ(st.st_mtime, 1000000000) << f.path;
    }
  }

  // -l names each link with its target.
  const auto listed = Run({"-l", testutil::Fixture(std::string("unix/") + row.fixture)});
  EXPECT_EQ(listed.exitCode, 0);
  if (row.symlinks) {
    EXPECT_NE(listed.out.find("link -> docs/readme.txt"), std::string::npos) << listed.out;
  }
  if (row.hardLinks) {
    EXPECT_NE(listed.out.find(" => "), std::string::npos) << listed.out;
  }
}

INSTANTIATE_TEST_SUITE_P(Archivers, UnixTree,
                         ::testing::Values(Row{"gnu.tar.gz", "tree/", true, true, true, true, true},
                                           Row{"ustar.tar.gz", "tree/", true, true, true, false, true},
                                           Row{"pax.tar.gz", "tree/", true, true, true, true, true},
                                           Row{"pax-sparse0.0.tar.gz", "tree/", true, true, true, true, true},
                                           Row{"pax-sparse0.1.tar.gz", "tree/", true, true, true, true, true},
                                           Row{"bsdtar.tar.gz", "tree/", true, true, true, true, true},
                                           Row{"zip.zip", "tree/", true, false, false, false, true},
                                           Row{"7zz.zip", "tree/", true, false, false, false, true},
                                           Row{"arj.arj", "", false, true, false, false, false}),
                         [](const auto& info) {
                           std::string name = info.param.fixture;
                           for (char& c : name)
                             if (c == '.' || c == '-') c = '_';
                           return name;
                         });

// MS-DOS archivers mark a folder by its attribute alone, and read-only
// files by theirs.
TEST_F(UnixTree, MsDosFolderAndReadOnlyAttributes) {
  const auto r = Run({"-o", out(), testutil::Fixture("unix/dos.zip")});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_TRUE(testutil::IsDirectory(out() + "/docs"));
  EXPECT_EQ(ReadFile(out() + "/docs/a.txt"), "in docs\n");
  struct stat st;
  ASSERT_EQ(stat((out() + "/ro.txt").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0222, 0u);
}

// Links from a hostile archive: a link's target is stored as it stands and
// never followed, nothing is written through a link, and a hard link names
// only a member written whole in this run.
TEST_F(UnixTree, HostileLinksStayInside) {
  testutil::TempDir outside;
  testutil::WriteFile(outside / "victim", "untouched");
  const std::string archive = tmp_ / "hostile.tar";
  testutil::WriteFile(archive, testutil::Tar({
                                   {"up", "", '2', outside.path()},
                                   {"up/victim", "overwritten"},
                                   {"etc", "", '2', "/etc/passwd"},
                                   {"failed", "", '1', "up/victim"},
                                   {"absolute", "", '1', "/etc/passwd"},
                                   {"missing", "", '1', "nowhere"},
                                   {"ok.txt", "fine"},
                                   {"same", "", '1', "ok.txt"},
                                   {"same", "", '1', "ok.txt"},  // a second name for the same file again
                               }));
  const auto r = Run({"-o", out(), archive});
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_EQ(ReadFile(outside / "victim"), "untouched");
  EXPECT_NE(r.err.find("up/victim: a folder on its path is a symbolic link"), std::string::npos) << r.err;
  for (const char* name : {"failed", "absolute", "missing"}) {
    EXPECT_NE(r.err.find(std::string(name) + ": a hard link to "), std::string::npos) << name << r.err;
    struct stat st;
    EXPECT_NE(lstat((out() + "/" + name).c_str(), &st), 0) << name;
  }
  char text[64] = {};
  EXPECT_GT(readlink((out() + "/etc").c_str(), text, sizeof text - 1), 0);
  EXPECT_STREQ(text, "/etc/passwd");
  struct stat a, b;
  ASSERT_EQ(stat((out() + "/ok.txt").c_str(), &a), 0);
  ASSERT_EQ(stat((out() + "/same").c_str(), &b), 0);
  EXPECT_EQ(a.st_ino, b.st_ino);
  for (const std::string& name : testutil::ListFiles(out()))
    EXPECT_EQ(name.find(".dorvane-part-"), std::string::npos) << name;

  // Testing finds the same hard links wanting, and writes nothing.
  const auto t = Run({"-t", archive});
  EXPECT_EQ(t.exitCode, 2);
  EXPECT_NE(t.err.find("missing: a hard link to a member that was not tested whole"), std::string::npos) << t.err;
  EXPECT_EQ(t.err.find("same:"), std::string::npos) << t.err;
}

// Devices are named, never made, and fail nothing.
TEST_F(UnixTree, DevicesAreNamedOnly) {
  const std::string archive = tmp_ / "dev.tar";
  testutil::WriteFile(archive, testutil::Tar({{"null", "", '3'}, {"disk", "", '4'}, {"ok.txt", "fine"}}));
  const auto r = Run({"-o", out(), archive});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.err.find("null: a device; not created"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("disk: a device; not created"), std::string::npos) << r.err;
  EXPECT_EQ(testutil::ListFiles(out()), std::vector<std::string>{"ok.txt"});
}

// A sparse map may claim any size: testing does not walk the holes, and
// a size the file system cannot hold is named.
TEST_F(UnixTree, AHugeSparseClaimIsNamed) {
  auto record = [](const std::string& key, const std::string& value) {
    const std::string body = " " + key + "=" + value + "\n";
    std::string length = std::to_string(body.size() + 2);
    if (length.size() + body.size() != std::stoul(length)) length = std::to_string(body.size() + length.size());
    return length + body;
  };
  const std::string archive = tmp_ / "huge.tar";
  testutil::WriteFile(archive, testutil::Tar({{"pax", record("GNU.sparse.map", "0,5") +
                                                           record("GNU.sparse.size", std::to_string(1ull << 61)),
                                               'x'},
                                              {"huge", "hello"}}));
  const auto t = Run({"-t", archive});
  EXPECT_EQ(t.exitCode, 0) << t.err;
  const auto r = Run({"-o", out(), archive});
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_NE(r.err.find("huge: cannot be written"), std::string::npos) << r.err;
  EXPECT_TRUE(testutil::ListFiles(out()).empty());
}

}  // namespace
