#pragma once
// An input (engines/SqlInput.h) that reads one object of an off-site store, so a copy
// restores without a local file. A store hands its bytes over as they arrive; a thread of
// the input's own takes them into a bounded queue the reader drains, so memory stays flat
// whatever the file's size. The bytes are checked against the copy's manifest as they pass
// (engines see them once): a size or SHA-256 that differs is the Error of the last Read,
// naming the file and both values, instead of the input's end.

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "engines/SqlInput.h"
#include "remote/RemoteStore.h"
#include "tasks/CopyManifest.h"

namespace brevanto {

class CRemoteSqlInput final : public CSqlInput {
 public:
  // At most this many bytes wait for the reader.
  static constexpr std::size_t kQueueBytes = std::size_t{4} << 20;

  // Starts reading `objectName` from `store`, expecting the bytes `expected` records.
  CRemoteSqlInput(std::unique_ptr<RemoteStore> store, std::string objectName,
                  ManifestFile expected);
  // Ends an unfinished read (the store's Get returns at its next piece) and waits for it.
  ~CRemoteSqlInput() override;
  CRemoteSqlInput(const CRemoteSqlInput&) = delete;
  CRemoteSqlInput& operator=(const CRemoteSqlInput&) = delete;

  Status Read(char* buffer, std::size_t capacity, std::size_t& got) override;

 private:
  void Fetch();
  Status Take(std::string_view bytes);

  std::unique_ptr<RemoteStore> m_store;
  const std::string m_name;
  const ManifestFile m_expected;
  std::mutex m_lock;  // guards the members below it
  std::condition_variable m_changed;
  std::deque<std::string> m_pieces;
  std::size_t m_queued = 0;  // bytes in m_pieces not yet read
  std::size_t m_offset = 0;  // read of m_pieces.front()
  bool m_done = false;
  bool m_abandoned = false;
  Status m_end;
  std::thread m_thread;  // last: started once the members above exist
};

}  // namespace brevanto
