// Scratch folders: mkdtemp, then chmod 0755 so that unprivileged server processes can read in.
#include "tempdir.hpp"

#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <iterator>
#include <stdexcept>
#include <system_error>
#include <vector>

namespace testsupport {

namespace fs = std::filesystem;

TempDir::TempDir(std::string_view prefix) {
    const char *tmp = std::getenv("TMPDIR");
    fs::path base = (tmp != nullptr && *tmp != '\0') ? fs::path(tmp) : fs::path("/tmp");
    std::string pattern = (base / (std::string(prefix) + "-XXXXXX")).string();
    std::vector<char> buf(pattern.begin(), pattern.end());
    buf.push_back('\0');
    if (mkdtemp(buf.data()) == nullptr) {
        throw std::system_error(errno, std::generic_category(), "mkdtemp " + pattern);
    }
    path_ = buf.data();
    if (chmod(buf.data(), 0755) != 0) {
        int err = errno;
        remove();
        throw std::system_error(err, std::generic_category(), "chmod " + path_.string());
    }
}

TempDir::~TempDir() { remove(); }

TempDir::TempDir(TempDir &&other) noexcept : path_(std::move(other.path_)) { other.path_.clear(); }

TempDir &TempDir::operator=(TempDir &&other) noexcept {
    if (this != &other) {
        remove();
        path_ = std::move(other.path_);
        other.path_.clear();
    }
    return *this;
}

void TempDir::remove() noexcept {
    if (path_.empty()) {
        return;
    }
    const char *keep = std::getenv("DIALCRED_KEEP_TMP");
    if (keep != nullptr) {
        std::cerr << "DIALCRED_KEEP_TMP: keeping " << path_.string() << '\n';
    } else {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    path_.clear();
}

fs::path TempDir::write_file(std::string_view name, std::string_view content,
                             fs::perms mode) const {
    fs::path file = path_ / name;
    {
        std::ofstream out(file, std::ios::binary | std::ios::trunc);
        out.write(content.data(), static_cast<std::streamsize>(content.size()));
        if (!out) {
            throw std::runtime_error("cannot write " + file.string());
        }
    }
    fs::permissions(file, mode, fs::perm_options::replace);
    return file;
}

std::string read_file(const fs::path &file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        throw std::runtime_error("cannot read " + file.string());
    }
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string file_tail(const fs::path &file, std::size_t max_bytes) {
    std::ifstream in(file, std::ios::binary | std::ios::ate);
    if (!in) {
        return "";
    }
    std::streamoff size = in.tellg();
    std::streamoff start = size > static_cast<std::streamoff>(max_bytes)
                               ? size - static_cast<std::streamoff>(max_bytes)
                               : 0;
    in.seekg(start);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace testsupport
