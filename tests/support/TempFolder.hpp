// TempFolder: a uniquely named folder under the system's temporary directory, created with the
// object and removed with everything in it when the object goes. For tests that write files.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace zrtest {

class TempFolder {
 public:
  // `prefix` starts the folder's name; a random part makes it unique.
  explicit TempFolder(const std::string& prefix = "zrx_test");
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  const std::filesystem::path& folder() const { return mFolder; }
  // The path of `name` inside the folder.
  std::string path(const std::string& name) const { return (mFolder / name).string(); }
  // The names of everything in the folder, sorted.
  std::vector<std::string> entries() const;

  // Whole-file helpers; readBytes gives "" for a missing file.
  static void writeBytes(const std::string& path, const std::string& bytes);
  static std::string readBytes(const std::string& path);

 private:
  std::filesystem::path mFolder;
};

}  // namespace zrtest
