// A private scratch folder for one server or one test, removed with everything in it when the
// owner goes away. Set DIALCRED_KEEP_TMP to keep it for a post-mortem (its path goes to stderr).
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace testsupport {

class TempDir {
  public:
    // Creates <$TMPDIR or /tmp>/<prefix>-XXXXXX with mode 0755: server processes running under
    // their own user (dovecot's auth) must be able to read files inside it.
    explicit TempDir(std::string_view prefix = "dialcred");
    ~TempDir();

    TempDir(TempDir &&other) noexcept;
    TempDir &operator=(TempDir &&other) noexcept;
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;

    const std::filesystem::path &path() const { return path_; }
    std::filesystem::path operator/(std::string_view name) const { return path_ / name; }

    // Writes `content` byte for byte to path()/name (replacing it) and sets `mode`.
    std::filesystem::path write_file(
        std::string_view name, std::string_view content,
        std::filesystem::perms mode = std::filesystem::perms(0644)) const;

  private:
    void remove() noexcept;

    std::filesystem::path path_;
};

// Whole file as bytes; throws if it cannot be read.
std::string read_file(const std::filesystem::path &file);

// The last `max_bytes` of a file, or "" when it does not exist: for error messages.
std::string file_tail(const std::filesystem::path &file, std::size_t max_bytes = 4000);

}  // namespace testsupport
