#include "core/output_pool.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace {

constexpr unsigned kMaxWorkers = 4;
constexpr size_t kSpareJobs = 8;

}  // namespace

OutputPool::OutputPool() {
  unsigned count = std::thread::hardware_concurrency();
  if (count == 0) count = 1;
  if (count > kMaxWorkers) count = kMaxWorkers;
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
  if (job->file.fd >= 0) close(job->file.fd);
  if (job->file.folderFd >= 0) close(job->file.folderFd);
  job->file.fd = -1;
  job->file.folderFd = -1;
  if (spare_.size() < kSpareJobs && job->data.capacity() <= kJobBytes) spare_.push_back(std::move(job));
}

void OutputPool::Submit(std::unique_ptr<OutputJob> job, uint64_t folderId) {
  OutputJob* raw = job.get();
  {
    std::unique_lock<std::mutex> lock(mutex_);
    finished_.wait(lock, [this, raw] {
      return inFlightBytes_ == 0 ||
             (inFlightBytes_ + raw->data.size() <= kInFlightBytes && order_.size() < kInFlightJobs);
    });
    inFlightBytes_ += raw->data.size();
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
    } else {
      Execute(job);
    }
    lock.lock();
    if (job->result != OutputJob::Result::kWritten && job->result != OutputJob::Result::kExists &&
        (job->error == ENOSPC || job->error == EDQUOT)) {
      skipping_ = true;
    }
    job->done = true;
    inFlightBytes_ -= job->data.size();  // the worker only reads the bytes
    finished_.notify_all();
  }
}

// Creates, writes, stamps and closes one file; a file that could not be
// written completely is removed.
void OutputPool::Execute(OutputJob* job) {
  OutputFileHandle& file = job->file;
  const OutputOpenResult opened = CreateOutputLeaf(&file, job->keepExisting, &job->error);
  if (opened != OutputOpenResult::kOpened) {
    job->result = opened == OutputOpenResult::kExists ? OutputJob::Result::kExists
                                                      : OutputJob::Result::kCreateFailed;
    CloseOutputFile(&file, &job->error);
    return;
  }
  if (!job->data.empty() && !WriteOutputFile(&file, job->data.data(), job->data.size(), &job->error)) {
    job->result = OutputJob::Result::kWriteFailed;
    RemoveOutputFile(&file);
    return;
  }
  if (job->stampTime || job->readOnly) StampOutputFile(&file, job->stampTime ? &job->time : nullptr, job->readOnly);
  const int folderFd = file.folderFd;
  file.folderFd = -1;  // kept for a removal after a failed close
  if (!CloseOutputFile(&file, &job->error)) {
    job->result = OutputJob::Result::kWriteFailed;
    unlinkat(folderFd, file.leaf, 0);
  }
  close(folderFd);
}
