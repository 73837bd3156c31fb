#include "app/picture_encoder.h"

#include <new>
#include <system_error>
#include <utility>

#include "app/layout_png.h"

namespace mapsweep {

PictureEncoder::~PictureEncoder() {
  {
    const std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  if (worker_.joinable()) worker_.join();
}

void PictureEncoder::start_worker() {
  worker_tried_ = true;
  try {
    worker_ = std::thread(&PictureEncoder::work, this);
  } catch (const std::system_error&) {
    // No second thread to be had: the pictures are encoded as they are taken.
  }
}

void PictureEncoder::give(formats::LayoutPicture picture) {
  if (!worker_tried_) start_worker();
  {
    const std::lock_guard lock(mutex_);
    jobs_.push_back(Job{std::move(picture), State::kQueued, {}});
  }
  ++waiting_;
  changed_.notify_one();
}

// A picture that cannot be encoded for want of memory gives no file; the thread goes on.
void PictureEncoder::encode(Job& job) {
  try {
    job.png = layout_png(job.picture);
  } catch (const std::bad_alloc&) {
    job.png.clear();
  }
  // Its pixels are not needed again: they go now rather than when the file is taken.
  job.picture = {};
}

void PictureEncoder::work() {
  std::unique_lock lock(mutex_);
  for (;;) {
    Job* next = nullptr;
    changed_.wait(lock, [&] { return stopping_ || (next = first_queued()) != nullptr; });
    if (stopping_) return;
    encode_here(*next, lock);
  }
}

PictureEncoder::Job* PictureEncoder::first_queued() {
  for (Job& job : jobs_) {
    if (job.state == State::kQueued) return &job;
  }
  return nullptr;
}

// Encodes the job on this thread; the lock is let go meanwhile.
void PictureEncoder::encode_here(Job& job, std::unique_lock<std::mutex>& lock) {
  job.state = State::kEncoding;
  lock.unlock();
  encode(job);
  lock.lock();
  job.state = State::kEncoded;
  changed_.notify_all();
}

std::string PictureEncoder::take_oldest() {
  std::unique_lock lock(mutex_);
  Job& oldest = jobs_.front();
  // While the other thread encodes the oldest, this one encodes those after it rather than
  // wait: then neither waits while any picture is still to be begun.
  while (oldest.state != State::kEncoded) {
    if (Job* next = first_queued()) {
      encode_here(*next, lock);
    } else {
      changed_.wait(lock);
    }
  }
  std::string png = std::move(oldest.png);
  jobs_.pop_front();
  --waiting_;
  return png;
}

void PictureEncoder::forget_all() {
  std::unique_lock lock(mutex_);
  // A picture the other thread is encoding is its until it is done.
  changed_.wait(lock, [&] {
    for (const Job& job : jobs_) {
      if (job.state == State::kEncoding) return false;
    }
    return true;
  });
  jobs_.clear();
  waiting_ = 0;
}

}  // namespace mapsweep
