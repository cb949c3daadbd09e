#include "cli/log_file.h"

#include <cerrno>
#include <cstring>
#include <filesystem>

namespace korvane {

std::string LogFile::Open(const std::string& path) {
  path_ = path;
  errno = 0;
  file_.reset(std::fopen(path.c_str(), "wb"));
  if (!file_)
    return "cannot open the log file " + path + ": " + std::strerror(errno);
  return {};
}

std::string LogFile::Write(const std::string& text) {
  if (!file_)
    return "the log file " + path_ + " is not open";
  errno = 0;
  const bool written = std::fwrite(text.data(), 1, text.size(), file_.get()) == text.size();
  const bool closed = std::fclose(file_.release()) == 0;
  if (written && closed)
    return {};
  return "cannot write the log to " + path_ + ": " + std::strerror(errno != 0 ? errno : EIO);
}

bool SameFile(const std::string& a, const std::string& b) {
  std::error_code error;
  if (std::filesystem::equivalent(a, b, error))
    return true;
  const auto normal = [](const std::string& path) {
    std::error_code ignored;
    return std::filesystem::absolute(path, ignored).lexically_normal();
  };
  return normal(a) == normal(b);
}

std::string FullPath(const std::string& file) {
  std::error_code error;
  const std::filesystem::path absolute = std::filesystem::absolute(file, error);
  return error ? file : absolute.lexically_normal().string();
}

}  // namespace korvane
