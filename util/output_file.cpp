#include "util/output_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
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

}  // namespace

bool OutputFile::Open(const std::string &path, bool in_place, std::string *error) {
  Discard();
  path_ = target_ = path;
  struct stat old;
  const bool exists = stat(path.c_str(), &old) == 0;
  if (!exists && errno != ENOENT) {
    *error = Reason("write", path);
    return false;
  }
  if (exists && !S_ISREG(old.st_mode)) {
    if (!in_place) {
      errno = EEXIST;
      *error = "cannot write " + path + " (it exists and is not a regular file)";
      return false;
    }
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
  temporary_.clear();
  return true;
}

void OutputFile::Discard() {
  const int reason = errno;  // the failure being reported, if any
  if (stream_ != nullptr) std::fclose(stream_);
  stream_ = nullptr;
  if (!temporary_.empty()) unlink(temporary_.c_str());
  temporary_.clear();
  errno = reason;
}

bool SameFile(const std::string &a, const std::string &b) {
  struct stat sa, sb;
  return stat(a.c_str(), &sa) == 0 && stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
         sa.st_ino == sb.st_ino;
}
