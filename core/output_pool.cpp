#include "core/output_pool.h"

#include <signal.h>
#include <sys/resource.h>

#include <cerrno>

#include "platform/signal_mask.h"

namespace {

constexpr unsigned kMaxWorkers = 4;
constexpr size_t kSpareJobs = 8;

}  // namespace

size_t OutputPool::FolderBudget() {
  struct rlimit limit{};
  if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return 64;
  const rlim_t spare = limit.rlim_cur > 64 ? (limit.rlim_cur - 64) / 4 : 0;
  return spare < 4 ? 4 : spare > 64 ? 64 : static_cast<size_t>(spare);
}

OutputPool::OutputPool() : folderBudget_(FolderBudget()) {
  unsigned count = std::thread::hardware_concurrency();
  if (count == 0) count = 1;
  if (count > kMaxWorkers) count = kMaxWorkers;
  // The workers leave the interrupting signals to the main thread, whose
  // handler removes what is being written (see core/interrupt.h).
  InterruptsBlocked blocked;
  for (unsigned i = 0; i < count; ++i) {
    workers_.push_back(std::make_unique<Worker>());
    Worker* worker = workers_.back().get();
    worker->thread = std::thread([this, worker] { Run(worker); });
  }
}

OutputPool::~OutputPool() {
  {
    std::unique_lock<std::mutex> lock(mutex_);
    finished_.wait(lock, [this] { return AllDone(); });
    stopping_ = true;
  }
  wake_.notify_all();
  for (auto& worker : workers_) worker->thread.join();
  for (auto& job : order_) job->file.folder.reset();
}

bool OutputPool::AllDone() const {
  for (const auto& job : order_) {
    if (!job->done) return false;
  }
  return true;
}

std::unique_ptr<OutputJob> OutputPool::NewJob() {
  std::unique_ptr<OutputJob> job;
  if (!spare_.empty()) {
    job = std::move(spare_.back());
    spare_.pop_back();
    std::vector<uint8_t> data = std::move(job->data);
    data.clear();
    *job = OutputJob{};
    job->data = std::move(data);
  } else {
    job = std::make_unique<OutputJob>();
  }
  job->name[0] = '\0';
  return job;
}

void OutputPool::Recycle(std::unique_ptr<OutputJob> job) {
  // A job never run still holds its folder; nothing was created.
  RemoveOutputFile(&job->file);
  if (spare_.size() < kSpareJobs && job->data.capacity() <= kJobBytes) spare_.push_back(std::move(job));
}

bool OutputPool::HasRoom(const OutputJob& job) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (order_.empty()) return true;
  return inFlightBytes_ + job.data.size() <= kInFlightBytes && order_.size() < kInFlightJobs &&
         (folders_.size() < folderBudget_ || folders_.count(job.file.folder.get()) != 0);
}

void OutputPool::Submit(std::unique_ptr<OutputJob> job) {
  OutputJob* raw = job.get();
  raw->folderKey = raw->file.folder.get();
  const uint64_t folderId = raw->file.folder->inode;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    inFlightBytes_ += raw->data.size();
    ++folders_[raw->folderKey];
    order_.push_back(std::move(job));
    workers_[folderId % workers_.size()]->queue.push_back(raw);
  }
  wake_.notify_all();
}

std::unique_ptr<OutputJob> OutputPool::Reap(bool wait) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (order_.empty()) return nullptr;
  if (wait) {
    finished_.wait(lock, [this] { return order_.front()->done; });
  } else if (!order_.front()->done) {
    return nullptr;
  }
  std::unique_ptr<OutputJob> job = std::move(order_.front());
  order_.pop_front();
  inFlightBytes_ -= job->data.size();
  auto folder = folders_.find(job->folderKey);
  if (folder != folders_.end() && --folder->second == 0) folders_.erase(folder);
  return job;
}

void OutputPool::SkipRemaining() {
  std::lock_guard<std::mutex> lock(mutex_);
  skipping_ = true;
}

void OutputPool::Run(Worker* worker) {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    wake_.wait(lock, [this, worker] { return stopping_ || !worker->queue.empty(); });
    if (worker->queue.empty()) return;  // stopping, and nothing left
    OutputJob* job = worker->queue.front();
    worker->queue.pop_front();
    const bool skip = skipping_;
    lock.unlock();
    if (skip) {
      job->result = OutputJob::Result::kSkipped;
      RemoveOutputFile(&job->file);
    } else {
      Execute(job);
    }
    lock.lock();
    if (job->result != OutputJob::Result::kWritten && job->result != OutputJob::Result::kExists &&
        (job->error == ENOSPC || job->error == EDQUOT)) {
      skipping_ = true;
    }
    job->done = true;
    finished_.notify_all();
  }
}

// Creates, writes and stamps one file and puts it under its name; a file
// that could not be written completely never gets the name. The job's
// folder is let go of either way.
void OutputPool::Execute(OutputJob* job) {
  OutputFileHandle& file = job->file;
  const OutputOpenResult opened = CreateOutputLeaf(&file, job->keepExisting, &job->error);
  if (opened != OutputOpenResult::kOpened) {
    job->result = opened == OutputOpenResult::kExists ? OutputJob::Result::kExists
                                                      : OutputJob::Result::kCreateFailed;
    RemoveOutputFile(&file);
    return;
  }
  if (!job->data.empty() && !WriteOutputFile(&file, job->data.data(), job->data.size(), &job->error)) {
    job->result = OutputJob::Result::kWriteFailed;
    RemoveOutputFile(&file);
    return;
  }
  StampOutputFile(&file, job->stamp);
  switch (CommitOutputFile(&file, job->keepExisting, &job->error)) {
    case OutputCommitResult::kPlaced: break;
    case OutputCommitResult::kExists: job->result = OutputJob::Result::kExists; break;
    case OutputCommitResult::kFailed: job->result = OutputJob::Result::kCreateFailed; break;
  }
}
