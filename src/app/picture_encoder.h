// The catalogue's pictures turned into PNG files on a second thread while the scan goes on.
// Encoding a picture costs several times what drawing it does, and the scan's own thread
// spends much of its time waiting on the file system: on two processors the two overlap.
//
// Pictures are taken back in the order they were given, each whole. The thread taking one
// that is not encoded yet encodes the first not yet begun meanwhile, so that neither thread
// waits while a picture is still to be begun. Nothing here touches a file: the caller writes what
// it takes, on its own thread, at points of its own choosing, so that what the run asks of the
// system, and in which order, never depends on how the threads happened to run.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <string>
#include <thread>

#include "formats/layout_picture.h"

namespace mapsweep {

class PictureEncoder {
 public:
  PictureEncoder() = default;
  ~PictureEncoder();
  PictureEncoder(const PictureEncoder&) = delete;
  PictureEncoder& operator=(const PictureEncoder&) = delete;

  // Queues the picture. The second thread is started on the first; where none can be had,
  // take_oldest encodes every picture itself.
  void give(formats::LayoutPicture picture);
  // Pictures given and not yet taken.
  std::size_t waiting() const { return waiting_; }
  // The PNG file of the oldest picture not yet taken ("" when it could not be encoded, for
  // want of memory), which it then forgets. Only with waiting() > 0.
  std::string take_oldest();
  // Forgets every picture not yet taken.
  void forget_all();

 private:
  enum class State { kQueued, kEncoding, kEncoded };
  struct Job {
    formats::LayoutPicture picture;
    State state = State::kQueued;
    std::string png;
  };

  void start_worker();
  void work();
  Job* first_queued();
  void encode_here(Job& job, std::unique_lock<std::mutex>& lock);
  static void encode(Job& job);

  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<Job> jobs_;     // oldest first; an element keeps its place until it is taken
  std::size_t waiting_ = 0;  // jobs_.size(), read without the lock by the giving thread
  bool stopping_ = false;
  bool worker_tried_ = false;
  std::thread worker_;
};

}  // namespace mapsweep
