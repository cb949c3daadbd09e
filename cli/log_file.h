// The --log file: opened before anything else runs, so that a path that
// cannot be written is known before the MIDI ports are touched, and written
// with the final log at the end.
#pragma once

#include <cstdio>
#include <memory>
#include <string>

namespace korvane {

class LogFile {
 public:
  // Opens (and empties) the file; an error text with the system's reason, or
  // empty on success.
  std::string Open(const std::string& path);
  bool IsOpen() const { return file_ != nullptr; }
  const std::string& Path() const { return path_; }
  // Writes the whole log and closes the file; an error text, or empty.
  std::string Write(const std::string& text);

 private:
  struct Closer {
    void operator()(std::FILE* file) const { std::fclose(file); }
  };
  std::string path_;
  std::unique_ptr<std::FILE, Closer> file_;
};

// The file's absolute path, as the window's file dialog hands it back; the
// path as given when it cannot be made absolute.
std::string FullPath(const std::string& file);

// True when the two paths name the same file (the log must not overwrite
// the update file it describes).
bool SameFile(const std::string& a, const std::string& b);

}  // namespace korvane
