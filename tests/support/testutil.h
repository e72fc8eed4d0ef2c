// Helpers shared by the tests: temporary folders, files, running the program
// as a process, and SHA-256 of file contents.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace testutil {

// A fresh folder under $TMPDIR (or /tmp), removed with everything in it when
// the object goes away.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

std::string ReadFile(const std::string& path);          // "" when missing
bool FileExists(const std::string& path);
bool IsDirectory(const std::string& path);
void WriteFile(const std::string& path, const std::string& data);
void WriteFile(const std::string& path, const std::vector<uint8_t>& data);
// Every regular file below `root`, as "/"-separated paths relative to it.
std::vector<std::string> ListFiles(const std::string& root);

// The numbers 1 to n, one per line, as `seq n` writes them (the content of
// many fixtures made by the scripts).
std::string NumberLines(int n);

std::string Sha256Hex(const std::string& data);
std::string Sha256Hex(const uint8_t* data, size_t size);

struct RunResult {
  int exitCode = -1;  // -1 when the process did not exit normally
  std::string out;    // standard output
  std::string err;    // standard error
};
// The result report at the end of standard error (from its " NOT_A_FILE"
// line on), without the notices before it.
std::string ReportOf(const std::string& err);
// Runs build/dorvane with the arguments and extra environment (standard
// input from `input`, not a terminal). DORVANE_REGISTRY must be given by the
// caller through `env` so that no test touches the user's store. A
// non-empty `cwd` is the program's current folder.
RunResult RunDorvane(const std::vector<std::string>& args,
                     const std::map<std::string, std::string>& env, const std::string& input = "",
                     const std::string& cwd = "");
// As RunDorvane, with every file the program writes limited to
// `maxFileBytes` (RLIMIT_FSIZE, SIGXFSZ ignored): a write past the limit
// fails with EFBIG, as a full disk would fail it, without root or a tmpfs.
RunResult RunDorvaneWithFileLimit(const std::vector<std::string>& args,
                                  const std::map<std::string, std::string>& env, uint64_t maxFileBytes);

// Runs a shell command, returning its exit status (for making inputs with
// real tools when they are installed).
int System(const std::string& command);
bool HaveTool(const std::string& name);

// A temporary folder with work/ in it, where the program runs with a
// settings store of its own; fixtures are copied in under names of their
// own. For the command-line tests' fixtures.
struct WorkFolder {
  WorkFolder();
  std::string work() const { return tmp_ / "work"; }
  RunResult Run(const std::vector<std::string>& args, const std::string& input = "");
  // A fixture copied into work/ as `name`; returns the name.
  std::string Put(const std::string& fixture, const std::string& name);
  TempDir tmp_;
};

// One ustar header block: type '0' a file, '5' a folder (mode 0755, else
// 0644), '1'/'2' a hard/symbolic link to `link`.
std::string TarHeader(const std::string& name, size_t size, char type = '0', const std::string& link = "");
struct TarMember {
  std::string name;
  std::string data;
  char type = '0';
  std::string link = std::string();
};
// The members, each padded to whole blocks, and the end marker.
std::string Tar(const std::vector<TarMember>& members);

// tests/fixtures/<name> and ../shared/fixtures/<name>.
std::string Fixture(const std::string& name);
std::string SharedFixture(const std::string& name);
bool HaveSharedFixtures(const std::string& folder);

// The rows of a fixture manifest, each its fields in order: split at tabs,
// or, in the form sha256sum writes ("sum  name"), at the two blanks. With
// `header` the first line (the column names) is left out; blank lines are.
using ManifestRow = std::vector<std::string>;
std::vector<ManifestRow> ReadManifest(const std::string& path, bool header = false);

}  // namespace testutil
