// Loading shared libraries by the names the program uses ("SSL.DLL", "LANGEN.DLL", plug-in names).
#pragma once
#include <memory>
#include <string>
#include <string_view>

namespace vanta::platform {

// An open shared library; closed when the last reference goes.
class Library {
 public:
  explicit Library(void* handle, std::string path) : handle_(handle), path_(std::move(path)) {}
  ~Library();
  Library(const Library&) = delete;
  Library& operator=(const Library&) = delete;

  // Looks an entry up by name; nullptr when the library does not export it.
  void* Symbol(const char* name) const;
  template <class Fn>
  Fn Entry(const char* name) const { return reinterpret_cast<Fn>(Symbol(name)); }
  const std::string& path() const { return path_; }

 private:
  void* handle_;
  std::string path_;
};

// "SSL.DLL" -> "ssl.so", "Plug.Dll" -> "plug.so", "libfoo.so" -> "libfoo.so" (a trailing ".dll" in any case
// is dropped, the rest lower-cased, ".so" added unless already there).
std::string LibraryFileName(std::string_view name);

// The directory of the running executable (where the libraries built with it live).
const std::string& ExecutableDir();
// Overrides the library directory (tests that load libraries from the build tree).
void SetLibraryDir(std::string dir);

// Loads a library by the program's name for it: searched in the library directory (the executable's
// directory), then in the program directory, first under the name itself (matched case-insensitively),
// then under LibraryFileName(name). Names with a path separator are refused (they never come from the
// program's own tables). Returns nullptr when the library cannot be loaded.
std::shared_ptr<Library> LoadLibraryByName(std::string_view name);

}  // namespace vanta::platform
