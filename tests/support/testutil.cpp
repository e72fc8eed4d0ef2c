#include "support/testutil.h"

#include <dirent.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <sstream>
#include <thread>

#include "support/remove_tree.h"

extern char** environ;

namespace testutil {

TempDir::TempDir() {
  const char* base = getenv("TMPDIR");
  std::string pattern = std::string(base && *base ? base : "/tmp") + "/dorvane-test-XXXXXX";
  std::vector<char> buf(pattern.begin(), pattern.end());
  buf.push_back('\0');
  if (mkdtemp(buf.data()) == nullptr) abort();
  path_ = buf.data();
}

TempDir::~TempDir() { RemoveTree(path_); }

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

bool FileExists(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0;
}

bool IsDirectory(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

void WriteFile(const std::string& path, const std::string& data) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(data.data(), static_cast<std::streamsize>(data.size()));
}

void WriteFile(const std::string& path, const std::vector<uint8_t>& data) {
  WriteFile(path, std::string(data.begin(), data.end()));
}

std::string NumberLines(int n) {
  std::string s;
  for (int i = 1; i <= n; ++i) s += std::to_string(i) + "\n";
  return s;
}

std::vector<std::string> ListFiles(const std::string& root) {
  std::vector<std::string> result;
  std::function<void(const std::string&)> walk = [&](const std::string& rel) {
    std::string full = rel.empty() ? root : root + "/" + rel;
    DIR* d = opendir(full.c_str());
    if (!d) return;
    while (dirent* e = readdir(d)) {
      if (strcmp(e->d_name, ".") == 0 || strcmp(e->d_name, "..") == 0) continue;
      std::string child = rel.empty() ? e->d_name : rel + "/" + e->d_name;
      if (IsDirectory(root + "/" + child)) {
        walk(child);
      } else {
        result.push_back(child);
      }
    }
    closedir(d);
  };
  walk("");
  std::sort(result.begin(), result.end());
  return result;
}

// SHA-256 (FIPS 180-4), kept small: tests only hash member contents.
std::string Sha256Hex(const uint8_t* data, size_t size) {
  static const uint32_t k[64] = {
      0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4,
      0xab1c5ed5, 0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe,
      0x9bdc06a7, 0xc19bf174, 0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f,
      0x4a7484aa, 0x5cb0a9dc, 0x76f988da, 0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7,
      0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967, 0x27b70a85, 0x2e1b2138, 0x4d2c6dfc,
      0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85, 0xa2bfe8a1, 0xa81a664b,
      0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070, 0x19a4c116,
      0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
      0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7,
      0xc67178f2};
  uint32_t h[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                   0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
  auto rotr = [](uint32_t x, int n) { return (x >> n) | (x << (32 - n)); };
  std::vector<uint8_t> msg(data, data + size);
  uint64_t bits = static_cast<uint64_t>(size) * 8;
  msg.push_back(0x80);
  while (msg.size() % 64 != 56) msg.push_back(0);
  for (int i = 7; i >= 0; --i) msg.push_back(static_cast<uint8_t>(bits >> (i * 8)));
  for (size_t off = 0; off < msg.size(); off += 64) {
    uint32_t w[64];
    for (int i = 0; i < 16; ++i)
      w[i] = (uint32_t(msg[off + 4 * i]) << 24) | (uint32_t(msg[off + 4 * i + 1]) << 16) |
             (uint32_t(msg[off + 4 * i + 2]) << 8) | msg[off + 4 * i + 3];
    for (int i = 16; i < 64; ++i) {
      uint32_t s0 = rotr(w[i - 15], 7) ^ rotr(w[i - 15], 18) ^ (w[i - 15] >> 3);
      uint32_t s1 = rotr(w[i - 2], 17) ^ rotr(w[i - 2], 19) ^ (w[i - 2] >> 10);
      w[i] = w[i - 16] + s0 + w[i - 7] + s1;
    }
    uint32_t a = h[0], b = h[1], c = h[2], d = h[3], e = h[4], f = h[5], g = h[6], hh = h[7];
    for (int i = 0; i < 64; ++i) {
      uint32_t t1 = hh + (rotr(e, 6) ^ rotr(e, 11) ^ rotr(e, 25)) + ((e & f) ^ (~e & g)) + k[i] + w[i];
      uint32_t t2 = (rotr(a, 2) ^ rotr(a, 13) ^ rotr(a, 22)) + ((a & b) ^ (a & c) ^ (b & c));
      hh = g; g = f; f = e; e = d + t1; d = c; c = b; b = a; a = t1 + t2;
    }
    h[0] += a; h[1] += b; h[2] += c; h[3] += d; h[4] += e; h[5] += f; h[6] += g; h[7] += hh;
  }
  char hex[65];
  for (int i = 0; i < 8; ++i) snprintf(hex + i * 8, 9, "%08x", h[i]);
  return std::string(hex, 64);
}

std::string Sha256Hex(const std::string& data) {
  return Sha256Hex(reinterpret_cast<const uint8_t*>(data.data()), data.size());
}

static std::string Drain(int fd) {
  std::string s;
  char buf[4096];
  ssize_t n;
  while ((n = read(fd, buf, sizeof buf)) > 0) s.append(buf, static_cast<size_t>(n));
  close(fd);
  return s;
}

namespace {

// The limit a spawned program starts with; its signal dispositions follow
// ours, so an ignored SIGXFSZ stays ignored in it.
class FileLimitForSpawn {
 public:
  explicit FileLimitForSpawn(uint64_t maxFileBytes) : active_(maxFileBytes != 0) {
    if (!active_) return;
    getrlimit(RLIMIT_FSIZE, &saved_);
    struct rlimit limit = saved_;
    limit.rlim_cur = static_cast<rlim_t>(maxFileBytes);
    setrlimit(RLIMIT_FSIZE, &limit);
    savedSignal_ = signal(SIGXFSZ, SIG_IGN);
  }
  ~FileLimitForSpawn() {
    if (!active_) return;
    setrlimit(RLIMIT_FSIZE, &saved_);
    signal(SIGXFSZ, savedSignal_);
  }
  FileLimitForSpawn(const FileLimitForSpawn&) = delete;
  FileLimitForSpawn& operator=(const FileLimitForSpawn&) = delete;

 private:
  bool active_;
  struct rlimit saved_ {};
  void (*savedSignal_)(int) = SIG_DFL;
};

RunResult Run(const std::vector<std::string>& args, const std::map<std::string, std::string>& env,
              const std::string& input, const std::string& cwd, uint64_t maxFileBytes);

}  // namespace

RunResult RunDorvane(const std::vector<std::string>& args,
                     const std::map<std::string, std::string>& env, const std::string& input,
                     const std::string& cwd) {
  return Run(args, env, input, cwd, 0);
}

RunResult RunDorvaneWithFileLimit(const std::vector<std::string>& args,
                                  const std::map<std::string, std::string>& env, uint64_t maxFileBytes) {
  return Run(args, env, "", "", maxFileBytes);
}

namespace {

RunResult Run(const std::vector<std::string>& args, const std::map<std::string, std::string>& env,
              const std::string& input, const std::string& cwd, uint64_t maxFileBytes) {
  // A program that ends without reading all of its input must not take the
  // test with it: the write then fails with EPIPE instead.
  signal(SIGPIPE, SIG_IGN);
  int inPipe[2], outPipe[2], errPipe[2];
  if (pipe(inPipe) || pipe(outPipe) || pipe(errPipe)) abort();
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_adddup2(&fa, inPipe[0], 0);
  posix_spawn_file_actions_adddup2(&fa, outPipe[1], 1);
  posix_spawn_file_actions_adddup2(&fa, errPipe[1], 2);
  for (int fd : {inPipe[0], inPipe[1], outPipe[0], outPipe[1], errPipe[0], errPipe[1]})
    posix_spawn_file_actions_addclose(&fa, fd);
  if (!cwd.empty()) posix_spawn_file_actions_addchdir_np(&fa, cwd.c_str());
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  // A new session: the program has no controlling terminal, as in CI.
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSID);

  std::vector<std::string> envStrings;
  for (char** e = environ; *e; ++e) {
    std::string s = *e;
    std::string key = s.substr(0, s.find('='));
    if (env.count(key) || key == "DORVANE_REGISTRY") continue;
    envStrings.push_back(s);
  }
  for (auto& kv : env) envStrings.push_back(kv.first + "=" + kv.second);
  std::vector<char*> envp;
  for (auto& s : envStrings) envp.push_back(const_cast<char*>(s.c_str()));
  envp.push_back(nullptr);
  std::vector<std::string> argStrings{DORVANE_BINARY};
  argStrings.insert(argStrings.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& s : argStrings) argv.push_back(const_cast<char*>(s.c_str()));
  argv.push_back(nullptr);

  pid_t pid;
  int rc;
  {
    FileLimitForSpawn limit(maxFileBytes);
    rc = posix_spawn(&pid, DORVANE_BINARY, &fa, &attr, argv.data(), envp.data());
  }
  posix_spawn_file_actions_destroy(&fa);
  posix_spawnattr_destroy(&attr);
  close(inPipe[0]);
  close(outPipe[1]);
  close(errPipe[1]);
  RunResult result;
  if (rc != 0) {
    close(inPipe[1]);
    close(outPipe[0]);
    close(errPipe[0]);
    return result;
  }
  // A program that ends before reading all its input must not end this
  // process through SIGPIPE: the write fails instead.
  static const bool pipeSignalIgnored = (signal(SIGPIPE, SIG_IGN), true);
  (void)pipeSignalIgnored;
  std::thread writer([&] {
    size_t off = 0;
    while (off < input.size()) {
      ssize_t n = write(inPipe[1], input.data() + off, input.size() - off);
      if (n <= 0) break;
      off += static_cast<size_t>(n);
    }
    close(inPipe[1]);
  });
  std::thread errReader([&] { result.err = Drain(errPipe[0]); });
  result.out = Drain(outPipe[0]);
  errReader.join();
  writer.join();
  int status = 0;
  waitpid(pid, &status, 0);
  result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

}  // namespace

int System(const std::string& command) {
  int status = system(command.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool HaveTool(const std::string& name) {
  return System("command -v " + name + " >/dev/null 2>&1") == 0;
}

std::string Fixture(const std::string& name) { return std::string(DORVANE_FIXTURES) + "/" + name; }

std::string SharedFixture(const std::string& name) {
  return std::string(DORVANE_SHARED_FIXTURES) + "/" + name;
}

bool HaveSharedFixtures(const std::string& folder) {
  return FileExists(SharedFixture(folder + "/MANIFEST.tsv"));
}

std::vector<ManifestRow> ReadManifest(const std::string& path, bool header) {
  std::vector<ManifestRow> rows;
  std::istringstream lines(ReadFile(path));
  std::string line;
  if (header) std::getline(lines, line);
  while (std::getline(lines, line)) {
    if (line.empty()) continue;
    const bool tabs = line.find('\t') != std::string::npos;
    const std::string separator = tabs ? "\t" : "  ";
    ManifestRow row;
    for (size_t at = 0;;) {
      const size_t end = line.find(separator, at);
      row.push_back(line.substr(at, end - at));
      if (end == std::string::npos) break;
      at = end + separator.size();
    }
    rows.push_back(row);
  }
  return rows;
}

std::string ReportOf(const std::string& err) {
  const size_t at = err.rfind(" NOT_A_FILE: ");
  return at == std::string::npos ? err : err.substr(at);
}

std::string TarHeader(const std::string& name, size_t size, char type, const std::string& link) {
  std::string b(512, '\0');
  b.replace(0, name.size(), name);
  b.replace(157, link.size(), link);
  auto octal = [&b](size_t offset, size_t width, unsigned long long value) {
    char text[32];
    snprintf(text, sizeof text, "%0*llo", static_cast<int>(width - 1), value);
    b.replace(offset, width - 1, text);
  };
  octal(100, 8, type == '5' ? 0755 : 0644);
  octal(124, 12, size);
  octal(136, 12, 1000000000);
  b[156] = type;
  b.replace(257, 6, std::string("ustar\0", 6));
  b.replace(263, 2, "00");
  unsigned sum = 8 * ' ';
  for (size_t i = 0; i < 512; ++i) {
    if (i < 148 || i >= 156) sum += static_cast<uint8_t>(b[i]);
  }
  octal(148, 7, sum);
  return b;
}

std::string Tar(const std::vector<TarMember>& members) {
  std::string tar;
  for (const TarMember& m : members) {
    tar += TarHeader(m.name, m.data.size(), m.type, m.link) + m.data;
    tar.append((512 - m.data.size() % 512) % 512, '\0');
  }
  return tar + std::string(1024, '\0');
}

WorkFolder::WorkFolder() { System("mkdir -p '" + work() + "'"); }

RunResult WorkFolder::Run(const std::vector<std::string>& args, const std::string& input) {
  return RunDorvane(args, {{"DORVANE_REGISTRY", tmp_ / "registry.reg"}}, input, work());
}

std::string WorkFolder::Put(const std::string& fixture, const std::string& name) {
  WriteFile(work() + "/" + name, ReadFile(Fixture(fixture)));
  return name;
}

}  // namespace testutil
