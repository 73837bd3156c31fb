// An operating system that writes nothing: reads, searches and locks reach the real one;
// files created or written are kept in memory, a file replaced is replaced in memory, and
// a file deleted is only hidden. A whole run over it does everything a real run does but
// leaves every file as it was; what it would have written can be asked afterwards. It is
// refused wherever a real run would be, with the same code: each write and deletion is
// first put to the real system as questions that change nothing (what the entry is, and
// whether a read with the same share mode is let in).
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "runtime/platform/os.h"

namespace mapsweep {

class DryRunOs final : public os::Os {
 public:
  explicit DryRunOs(os::Os& real) : real_(real) {}

  struct WrittenFile {
    std::string path;  // full path, as the program named it
    std::string bytes;
  };
  // The files a real run would have put in place (by replacing or creating them), in the
  // order they were first put there, with their final bytes.
  std::vector<WrittenFile> written_files() const;
  // The full paths of the real files a real run would have deleted.
  std::vector<std::string> deleted_files() const;

  os::Result create_file(const std::string& name, std::uint32_t access, std::uint32_t share_mode,
                         std::uint32_t disposition) override;
  os::Result read_file(os::Handle file, void* into, std::uint32_t count) override;
  os::Result read_file_at(os::Handle file, std::int64_t offset, void* into,
                          std::uint32_t count) override;
  os::Result write_file(os::Handle file, const void* from, std::uint32_t count) override;
  os::Result set_file_pointer(os::Handle file, std::int64_t offset) override;
  os::Result set_end_of_file(os::Handle file) override;
  os::Result file_size(os::Handle file) override;
  os::Result file_type(os::Handle file) override;
  os::Result close_handle(os::Handle file) override;
  // Real files are viewed as they are; a file kept in memory offers no view.
  os::Result map_view(os::Handle file, std::int64_t offset, std::uint32_t length,
                      const char** view) override;
  os::Result unmap_view(const char* view, std::uint32_t length) override {
    return real_.unmap_view(view, length);
  }
  std::uint64_t view_faults() override { return real_.view_faults(); }
  os::Result find_first(const std::string& pattern, os::FindData& first) override;
  os::Result find_next(os::Handle search, os::FindData& next) override;
  os::Result find_close(os::Handle search) override;
  os::Result set_current_directory(const std::string& path) override;
  os::Result delete_file(const std::string& name) override;
  os::Result full_path(const std::string& name, std::string& full) override;
  os::Result file_attributes(const std::string& name) override;
  os::Result replace_file(const std::string& from, const std::string& to) override;
  // A file kept in memory has no owner to give.
  os::Result settle_ownership(os::Handle, os::Handle) override { return {1, os::kErrorSuccess}; }
  os::Result lock_folder(const std::string& path) override;
  os::Result unlock_folder(os::Handle lock) override;
  os::Result encloses_current_directory(const std::string& path) override;
  void release_free_memory() override { real_.release_free_memory(); }

 private:
  struct MemoryFile {
    std::string path;
    std::string bytes;
    bool put_in_place = false;  // replaced or created as a real run would leave it
    std::uint64_t order = 0;    // when it was first put in place
  };
  struct OpenFile {
    std::string key;
    std::uint64_t position = 0;
    bool writable = false;
    std::uint32_t share_mode = 0;
  };

  // The key of a name: its full path with ASCII letters in one case, as both systems'
  // names compare; empty when the name cannot be made one.
  std::string key_of(const std::string& name, std::string* full = nullptr);
  os::Handle open_memory(const std::string& key, bool writable, std::uint32_t share_mode);
  OpenFile* memory_handle(os::Handle file);
  // Whether the handles open on a file kept in memory refuse another open with this share
  // mode, as both systems' exclusive opens refuse one another.
  bool memory_held(const std::string& key, std::uint32_t share_mode) const;
  // create_file of a file kept in memory.
  os::Result reopen_memory(const std::string& key, std::uint32_t access, std::uint32_t share_mode,
                           std::uint32_t disposition);
  // create_file of a name the real system has no file of (`entry` says why: 2, 3 or else),
  // or only one a real run would have deleted by now.
  os::Result create_memory(const std::string& key, const std::string& full, std::uint32_t access,
                           std::uint32_t share_mode, std::uint32_t disposition,
                           const os::Result& entry);
  // create_file of a real entry with these attributes: opened for reading only, if at all.
  os::Result open_real(const std::string& name, std::uint32_t access, std::uint32_t share_mode,
                       std::uint32_t disposition, std::uint32_t attributes);
  // Whether an open, this process's or another program's, keeps the real file from going.
  bool real_file_held(const std::string& full);
  os::Result delete_memory(const std::string& key, const std::string& full);
  bool hidden(const std::string& key) const { return deleted_.count(key) != 0; }
  // A real entry the search reported that a real run would have deleted by now.
  bool hides_entry(os::Handle search, const os::FindData& entry);

  os::Os& real_;
  std::map<std::string, MemoryFile> files_;
  std::map<std::string, std::string> deleted_;  // key -> full path
  std::map<os::Handle, OpenFile> open_;
  std::map<os::Handle, std::string> search_folders_;  // the folder each search lists
  std::int64_t next_handle_ = -1000;
  std::uint64_t next_order_ = 0;
};

}  // namespace mapsweep
