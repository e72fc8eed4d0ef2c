// Member files written on worker threads. Creating a file costs the kernel
// far more than decoding a small member's bytes (ext4 searches its inode
// bitmap for every new file), so while the handler decodes the next members,
// small members already decoded are created, written, stamped, put under
// their names and closed on other cores. The caller has made and opened the
// member's folder; a job carries that folder, the file's name, its bytes and
// its stamp.
//
// Jobs of one folder run in order on one worker, so a name that appears
// twice ends as the later member. Results are handed back in the order the
// jobs were submitted. What the jobs not yet handed back hold is bounded:
// their bytes (kInFlightBytes), their number (kInFlightJobs) and the folders
// they keep open (FolderBudget, from the descriptor limit). The caller
// makes room before each Submit by taking results back (HasRoom, Reap).
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <vector>

#include "core/output.h"
#include "platform/output_file.h"
#include "platform/windows.h"

struct OutputJob {
  // Set by the caller.
  OutputFileHandle file;            // folder and leaf set; the worker creates the file
  std::vector<uint8_t> data;
  bool keepExisting = false;
  OutputStamp stamp;
  bool whole = true;                // decoded whole (a hard link may name it)
  char name[kOutputPathSize];       // the member's name, for the notice
  uint64_t pathKey = 0;             // the caller's own (see MemberOutput)

  // Set by the worker.
  enum class Result { kWritten, kExists, kCreateFailed, kWriteFailed, kSkipped };
  Result result = Result::kWritten;
  int error = 0;

  // The pool's own.
  const OutputFolder* folderKey = nullptr;  // the folder it counts against
  bool done = false;
};

class OutputPool {
 public:
  // Members larger than this are written by the caller itself.
  static constexpr size_t kJobBytes = 1 << 20;
  static constexpr size_t kInFlightBytes = 16 << 20;
  static constexpr size_t kInFlightJobs = 512;

  // At least one worker; the number of cores up to four.
  OutputPool();
  ~OutputPool();  // waits for every job; results not reaped are dropped
  OutputPool(const OutputPool&) = delete;
  OutputPool& operator=(const OutputPool&) = delete;

  // Folders the jobs in flight may hold open: a quarter of what the
  // descriptor limit leaves after 64, at least 4 and at most 64.
  static size_t FolderBudget();

  // An empty job, its buffer reused from a finished one.
  std::unique_ptr<OutputJob> NewJob();
  // True when the job fits within the bounds now (always when nothing is in
  // flight); otherwise reap the oldest job (waiting) and ask again.
  bool HasRoom(const OutputJob& job);
  // Hands a job over; its folder picks the worker.
  void Submit(std::unique_ptr<OutputJob> job);
  // The oldest job not yet reaped, once finished, or null: it is not
  // finished yet (wait = false) or none is left (wait = true). Give it back
  // through Recycle.
  std::unique_ptr<OutputJob> Reap(bool wait);
  void Recycle(std::unique_ptr<OutputJob> job);
  // After the output failed for good (no space left): jobs not yet started
  // end as kSkipped, writing nothing.
  void SkipRemaining();

 private:
  struct Worker {
    std::thread thread;
    std::deque<OutputJob*> queue;
  };
  void Run(Worker* worker);
  bool AllDone() const;  // with mutex_ held
  static void Execute(OutputJob* job);

  std::mutex mutex_;
  std::condition_variable wake_;      // a worker has a job, or the pool ends
  std::condition_variable finished_;  // a job is done
  std::vector<std::unique_ptr<Worker>> workers_;
  std::deque<std::unique_ptr<OutputJob>> order_;  // submitted, not yet reaped
  std::vector<std::unique_ptr<OutputJob>> spare_;
  size_t inFlightBytes_ = 0;  // of the jobs in order_
  std::unordered_map<const OutputFolder*, size_t> folders_;  // jobs in order_ per folder
  size_t folderBudget_;
  bool stopping_ = false;
  bool skipping_ = false;
};
