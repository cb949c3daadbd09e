#include "midi/rtmidi/port_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <system_error>
#include <utility>

#include "midi/backend_notice.h"

namespace korvane::rtmidi_backend {
namespace {

// Longer names are cut and told apart by a hash of the whole key.
constexpr std::size_t kMaxFileName = 160;

bool SafeChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
         c == '_' || c == '-';
}

std::uint64_t Fnv1a(std::string_view text) {
  std::uint64_t hash = 14695981039346656037ull;
  for (unsigned char c : text) {
    hash ^= c;
    hash *= 1099511628211ull;
  }
  return hash;
}

constexpr mode_t kFolderMode = 01777;
// Each retry follows another process's create or remove of the file between
// our open and our flock; this many in a row do not happen by chance.
constexpr int kAttempts = 8;

std::string Reason(int error) {
  return std::generic_category().message(error);
}

// The folder is shared by every user, as /tmp is: writable by all, with the
// sticky bit, so a lock file can be removed only by its owner or the folder's.
// A folder we own is put in that shape (mkdir obeys the umask, and a run cut
// short may have left it half made). One another user made first is used if
// it has the sticky bit: its files are opened O_NOFOLLOW, never truncated or
// written, and only files we create are made lockable by all, so its owner can
// at worst spoil the locks of that folder, never reach our files. A symbolic
// link, or a folder others can write to without the sticky bit (anyone could
// remove a held lock's file), is refused. Empty when usable, else why not.
std::string PrepareFolder(const std::string& folder) {
  if (mkdir(folder.c_str(), kFolderMode) != 0 && errno != EEXIST)
    return Reason(errno);
  const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0)
    return Reason(errno);
  std::string reason;
  struct stat info {};
  if (fstat(fd, &info) != 0) {
    reason = Reason(errno);
  } else if (info.st_uid == geteuid()) {
    if ((info.st_mode & 07777) != kFolderMode && fchmod(fd, kFolderMode) != 0)
      reason = Reason(errno);
  } else if ((info.st_mode & S_ISVTX) == 0 && (info.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
    reason = "writable by others without the sticky bit";
  }
  close(fd);
  return reason;
}

}  // namespace

std::string PortLockFolder() {
  // Some systems keep /run/lock to root (0755): users could not make the
  // folder there. Its mode is the same for every process, so all choose alike.
  struct stat info {};
  const bool runLock = stat("/run/lock", &info) == 0 && S_ISDIR(info.st_mode) &&
                       (info.st_mode & (S_ISVTX | S_IWOTH)) == (S_ISVTX | S_IWOTH);
  return runLock ? "/run/lock/korvane-update" : "/tmp/korvane-update";
}

PortLock::~PortLock() {
  Release();
}

PortLock::PortLock(PortLock&& other) noexcept
    : folder_(std::move(other.folder_)),
      path_(std::move(other.path_)),
      failure_(std::move(other.failure_)),
      fd_(std::exchange(other.fd_, -1)) {}

PortLock& PortLock::operator=(PortLock&& other) noexcept {
  if (this != &other) {
    Release();
    folder_ = std::move(other.folder_);
    path_ = std::move(other.path_);
    failure_ = std::move(other.failure_);
    fd_ = std::exchange(other.fd_, -1);
  }
  return *this;
}

PortLock::Outcome PortLock::Take(std::string_view key) {
  Release();
  failure_.clear();
  if (const std::string reason = PrepareFolder(folder_); !reason.empty()) {
    failure_ = folder_ + ": " + reason;
    return Outcome::kFailed;
  }
  const std::string path = folder_ + "/" + PortLockFileName(key);
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    switch (TakeOnce(path)) {
      case Attempt::kHeld:
        path_ = path;
        return Outcome::kHeld;
      case Attempt::kBusy:
        return Outcome::kBusy;
      case Attempt::kFailed:
        return Outcome::kFailed;
      case Attempt::kReplaced:
        break;
    }
  }
  failure_ = path + ": replaced by other processes at every attempt";
  return Outcome::kFailed;
}

PortLock::Attempt PortLock::TakeOnce(const std::string& path) {
  // O_NONBLOCK: a FIFO put in the lock file's place cannot hang the open.
  constexpr int kFlags = O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK;
  // Opened without O_CREAT first: the kernel may refuse O_CREAT on another
  // user's file in a sticky folder (fs.protected_regular) even where the file
  // itself could be opened.
  int fd = open(path.c_str(), O_RDWR | kFlags);
  if (fd < 0 && errno == EACCES)
    fd = open(path.c_str(), O_RDONLY | kFlags);  // flock needs no write access
  if (fd < 0 && errno == ENOENT) {
    fd = open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | kFlags, 0666);
    if (fd < 0 && errno == EEXIST)
      return Attempt::kReplaced;
    // Every user must be able to lock it; the umask would keep others out.
    if (fd >= 0 && fchmod(fd, 0666) != 0) {
      const int error = errno;
      close(fd);
      return Fail(path, Reason(error));
    }
  }
  if (fd < 0)
    return Fail(path, Reason(errno));
  // The lock belongs to this open file: a second open of the same port, in
  // this process or another, finds it taken.
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int error = errno;
    close(fd);
    return error == EWOULDBLOCK ? Attempt::kBusy : Fail(path, Reason(error));
  }
  // The holder before us removes the file before it lets go: a lock taken on
  // a file that is no longer at the path guards nothing, and the next taker
  // would make a new file and lock that too.
  struct stat held {};
  struct stat named {};
  if (fstat(fd, &held) != 0 || !S_ISREG(held.st_mode)) {
    close(fd);
    return Fail(path, "not a regular file");
  }
  if (held.st_nlink == 0 || lstat(path.c_str(), &named) != 0 || named.st_dev != held.st_dev ||
      named.st_ino != held.st_ino) {
    close(fd);
    return Attempt::kReplaced;
  }
  fd_ = fd;
  return Attempt::kHeld;
}

PortLock::Attempt PortLock::Fail(const std::string& path, const std::string& reason) {
  failure_ = path + ": " + reason;
  return Attempt::kFailed;
}

void PortLock::Release() {
  if (fd_ < 0)
    return;
  // Removed while still held, so whoever opened it meanwhile finds at its
  // re-check that the path names another file or none. Another user's file
  // cannot be removed from the sticky folder: it stays for the next holder.
  unlink(path_.c_str());
  close(fd_);  // closing the only descriptor releases the lock
  fd_ = -1;
}

MMRESULT LockForOpen(PortLock& lock, std::string_view key, std::string_view portName) {
  switch (lock.Take(key)) {
    case PortLock::Outcome::kHeld:
      return MMSYSERR_NOERROR;
    case PortLock::Outcome::kBusy:
      return MMSYSERR_ALLOCATED;
    case PortLock::Outcome::kFailed:
      break;
  }
  BackendNotice("korvane-update: cannot lock the MIDI port \"" + std::string(portName) + "\" (" +
                lock.Failure() + "); it is not used");
  return MMSYSERR_ALLOCATED;
}

std::string PortLockKey(std::string_view api, bool input, std::string_view portName) {
  std::string key(api);
  key += input ? "-in-" : "-out-";
  if (api == "jack") {
    const char* server = std::getenv("JACK_DEFAULT_SERVER");
    key += server != nullptr && server[0] != '\0' ? server : "default";
    key += '-';
  }
  key += portName;
  return key;
}

std::string PortLockFileName(std::string_view key) {
  std::string name;
  for (char c : key) {
    if (SafeChar(c)) {
      name += c;
    } else {
      char escaped[4];
      std::snprintf(escaped, sizeof escaped, "%%%02X", static_cast<unsigned char>(c));
      name += escaped;
    }
  }
  if (name.size() > kMaxFileName) {
    char hash[17];
    std::snprintf(hash, sizeof hash, "%016llx", static_cast<unsigned long long>(Fnv1a(key)));
    name = name.substr(0, kMaxFileName - 17) + "~" + hash;
  }
  return name + ".lock";
}

}  // namespace korvane::rtmidi_backend
