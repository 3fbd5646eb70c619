#include "util/output_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>

namespace {

std::string Reason(const std::string &what, const std::string &path) {
  return "cannot " + what + " " + path + " (" + std::strerror(errno) + ")";
}

// The folder part of path with its final slash ("" for a bare name).
std::string Folder(const std::string &path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

mode_t NewFileMode() {
  const mode_t mask = umask(0);
  umask(mask);
  return 0666 & ~mask;
}

// The standard stream (0, 1 or 2) whose file is the one file described, or -1.
int StandardStreamOf(const struct stat &file) {
  for (int fd = 0; fd <= 2; fd++) {
    struct stat stream;
    if (fstat(fd, &stream) == 0 && stream.st_dev == file.st_dev && stream.st_ino == file.st_ino)
      return fd;
  }
  return -1;
}

// The names of the temporaries not yet committed nor removed, read by the
// exit and signal handlers. A slot holds the name of a live OutputFile's
// temporary; with every slot taken a temporary is still removed by its
// object, only not at exit or on a signal.
constexpr int kSlots = 64;
std::atomic<const char *> pending[kSlots];

void RemovePending() {
  for (std::atomic<const char *> &slot : pending)
    if (const char *name = slot.exchange(nullptr)) unlink(name);
}

void Track(const char *name) {
  static const bool at_exit = std::atexit(RemovePending) == 0;
  (void)at_exit;
  for (std::atomic<const char *> &slot : pending) {
    const char *empty = nullptr;
    if (slot.compare_exchange_strong(empty, name)) return;
  }
}

void Untrack(const char *name) {
  for (std::atomic<const char *> &slot : pending) {
    const char *held = name;
    if (slot.compare_exchange_strong(held, nullptr)) return;
  }
}

extern "C" void RemoveAndRaise(int signal) {
  RemovePending();
  std::signal(signal, SIG_DFL);
  std::raise(signal);
}

}  // namespace

bool OutputFile::Open(const std::string &path, std::string *error) {
  Discard();
  path_ = target_ = path;
  struct stat old;
  const bool exists = stat(path.c_str(), &old) == 0;
  if (!exists && errno != ENOENT) {
    *error = Reason("write", path);
    return false;
  }
  const int stream = exists ? StandardStreamOf(old) : -1;
  if (stream >= 0) {
    // Written where the stream is, after what it already holds.
    const int fd = dup(stream);
    if (fd < 0 || (stream_ = fdopen(fd, "w")) == nullptr) {
      *error = Reason("write", path);
      if (fd >= 0) close(fd);
      return false;
    }
    return true;
  }
  if (exists && !S_ISREG(old.st_mode)) {
    stream_ = std::fopen(path.c_str(), "w");
    if (stream_ == nullptr) *error = Reason("open", path);
    return stream_ != nullptr;
  }
  struct stat link;
  if (exists && lstat(path.c_str(), &link) == 0 && S_ISLNK(link.st_mode)) {
    char resolved[PATH_MAX];
    if (realpath(path.c_str(), resolved) == nullptr) {
      *error = Reason("follow the link", path);
      return false;
    }
    target_ = resolved;
  }
  std::string name = target_ + ".XXXXXX";
  // A name too long for the folder gets a short one in the same folder.
  if (name.size() - Folder(name).size() > NAME_MAX) name = Folder(target_) + ".tovran.XXXXXX";
  const int fd = mkstemp(name.data());
  if (fd < 0) {
    *error = Reason("create a temporary file for", path);
    return false;
  }
  temporary_ = name;
  Track(temporary_.c_str());
  if (fchmod(fd, exists ? old.st_mode & 07777 : NewFileMode()) != 0 ||
      (stream_ = fdopen(fd, "w")) == nullptr) {
    *error = Reason("write", temporary_);
    close(fd);
    Discard();
    return false;
  }
  return true;
}

bool OutputFile::Close(std::string *error) {
  if (stream_ == nullptr) return true;
  errno = 0;
  const bool failed = std::fflush(stream_) != 0 || std::ferror(stream_) != 0;
  const int reason = errno != 0 ? errno : EIO;
  const bool closed = std::fclose(stream_) == 0;
  stream_ = nullptr;
  if (failed || !closed) {
    if (failed) errno = reason;
    *error = Reason("write", path_);
    return false;
  }
  return true;
}

bool OutputFile::Commit(std::string *error) {
  if (!Close(error)) return false;
  if (temporary_.empty()) return true;
  if (std::rename(temporary_.c_str(), target_.c_str()) != 0) {
    *error = Reason("rename " + temporary_ + " to", path_);
    return false;
  }
  Untrack(temporary_.c_str());
  temporary_.clear();
  return true;
}

void OutputFile::Discard() {
  const int reason = errno;  // the failure being reported, if any
  if (stream_ != nullptr) std::fclose(stream_);
  stream_ = nullptr;
  if (!temporary_.empty()) {
    unlink(temporary_.c_str());
    Untrack(temporary_.c_str());
  }
  temporary_.clear();
  errno = reason;
}

bool SameFile(const std::string &a, const std::string &b) {
  struct stat sa, sb;
  return a != "-" && b != "-" && stat(a.c_str(), &sa) == 0 && stat(b.c_str(), &sb) == 0 &&
         sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

std::string OutputRefusal(const std::string &output, const std::string &input,
                          const std::string &input_role) {
  struct stat file;
  if (SameFile(output, input == "-" ? "/dev/stdin" : input)) return "it is " + input_role;
  if (stat(output.c_str(), &file) == 0 && S_ISDIR(file.st_mode)) return "it is a folder";
  return "";
}

void RemoveTemporariesOnSignals() {
  for (const int signal : {SIGHUP, SIGINT, SIGPIPE, SIGTERM}) {
    struct sigaction now;
    if (sigaction(signal, nullptr, &now) != 0 || now.sa_handler == SIG_IGN) continue;
    struct sigaction handler = {};
    handler.sa_handler = RemoveAndRaise;
    sigemptyset(&handler.sa_mask);
    sigaction(signal, &handler, nullptr);
  }
}
