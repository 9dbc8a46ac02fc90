#include "engines/RemoteSink.h"

#include <cerrno>
#include <cstring>

#include "engines/LocalFileSink.h"
#include "remote/RemoteCatalogue.h"

namespace brevanto {

namespace {

// Beyond this many files of one name something else is wrong; the file fails.
constexpr int kMaxNameSuffix = 10000;

// The store's cause, made safe for WithFileError, which cuts at the first " - ".
std::string Cause(const Status& status) {
  std::string text = status.message();
  for (std::size_t at = text.find(" - "); at != std::string::npos; at = text.find(" - ", at)) {
    text.replace(at, 3, "; ");
  }
  return text;
}

}  // namespace

Status DirectTarget::Open(const std::string& finalPath, bool replace,
                          std::unique_ptr<OutputSink>& sink) {
  sink.reset();
  std::lock_guard lock(m_lock);
  if (!m_listed && !replace) {
    // A name an earlier copy's file has in the store is never written over.
    std::vector<RemoteObject> objects;
    if (Status listed = m_store.List("", objects); !listed.ok()) {
      return Status::Error(Cause(listed) + " - " + finalPath);
    }
    for (const RemoteObject& object : objects) m_taken.insert(object.Name);
    m_listed = true;
  }
  std::string path = finalPath;
  std::string name = RemoteNameOf(m_baseFolder, path);
  if (name.empty()) {
    return Status::Error("The file lies outside the backup folder " + m_baseFolder + " - " +
                         finalPath);
  }
  for (int n = 2; !replace && m_taken.contains(name); ++n) {
    if (n > kMaxNameSuffix)
      return Status::Error(std::string(std::strerror(EEXIST)) + " - " + finalPath);
    path = NumberedName(finalPath, n);
    name = RemoteNameOf(m_baseFolder, path);
  }
  std::unique_ptr<ObjectWriter> writer;
  if (Status opened = m_store.OpenWriter(name, writer); !opened.ok()) {
    return Status::Error(Cause(opened) + " - " + finalPath);
  }
  m_taken.insert(name);
  sink = std::make_unique<RemoteSink>(*this, std::move(path), std::move(name), std::move(writer));
  return Status::Ok();
}

void DirectTarget::Completed(const std::string& name) {
  std::lock_guard lock(m_lock);
  m_completed.push_back(name);
}

std::vector<std::string> DirectTarget::RemoveCompleted() {
  std::lock_guard lock(m_lock);
  std::vector<std::string> stayed;
  for (const std::string& name : m_completed) {
    if (Status deleted = m_store.Delete(name); !deleted.ok()) {
      stayed.push_back(name + " (" + deleted.message() + ")");
    }
  }
  m_completed.clear();
  return stayed;
}

RemoteSink::~RemoteSink() {
  if (m_writer) m_writer->Abort();
}

Status RemoteSink::Failed(const Status& status) const {
  return Status::Error(Cause(status) + " - " + m_path);
}

Status RemoteSink::Write(std::string_view bytes) {
  if (!m_writer) return Status::Error(std::string(std::strerror(EBADF)) + " - " + m_path);
  if (Status written = m_writer->Write(bytes); !written.ok()) return Failed(written);
  return Status::Ok();
}

Status RemoteSink::Commit(Existing) {
  if (!m_writer) return Status::Error(std::string(std::strerror(EBADF)) + " - " + m_path);
  if (Status completed = m_writer->Complete(); !completed.ok()) return Failed(completed);
  m_writer.reset();
  m_target.Completed(m_name);
  return Status::Ok();
}

Status RemoteSink::KeepIncomplete() {
  if (m_writer) m_writer->Abort();
  m_writer.reset();
  return Status::Ok();
}

}  // namespace brevanto
