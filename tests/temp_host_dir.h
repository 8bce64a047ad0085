#pragma once
// A fresh, empty directory that serves as the host's directory for one test:
// QUORVANE_HOST_DIR points at it while the object lives.
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace qv::test {

class TempHostDir {
public:
    TempHostDir() {
        std::string templ = (std::filesystem::temp_directory_path() / "qv-host-XXXXXX").string();
        if (!mkdtemp(templ.data())) std::abort();
        dir_ = templ;
        setenv("QUORVANE_HOST_DIR", dir_.c_str(), 1);
    }
    ~TempHostDir() {
        unsetenv("QUORVANE_HOST_DIR");
        std::error_code ec;
        std::filesystem::permissions(dir_, std::filesystem::perms::owner_all, ec);
        std::filesystem::remove_all(dir_, ec);
    }
    TempHostDir(const TempHostDir&) = delete;
    TempHostDir& operator=(const TempHostDir&) = delete;

    std::string path(const std::string& name) const { return (dir_ / name).string(); }
    const std::filesystem::path& dir() const { return dir_; }

    // Names of the directory's entries, sorted.
    std::vector<std::string> entries() const {
        std::vector<std::string> v;
        for (const auto& e : std::filesystem::directory_iterator(dir_)) v.push_back(e.path().filename().string());
        std::sort(v.begin(), v.end());
        return v;
    }

private:
    std::filesystem::path dir_;
};

// While it lives, no file of this process may grow beyond max_bytes: a write
// past that fails with EFBIG, even for root (SIGXFSZ is ignored meanwhile).
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t max_bytes) {
        getrlimit(RLIMIT_FSIZE, &old_);
        old_handler_ = signal(SIGXFSZ, SIG_IGN);
        rlimit r = old_;
        r.rlim_cur = max_bytes;
        setrlimit(RLIMIT_FSIZE, &r);
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &old_);
        signal(SIGXFSZ, old_handler_);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    rlimit old_{};
    void (*old_handler_)(int) = nullptr;
};

inline std::vector<unsigned char> read_bytes(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return std::vector<unsigned char>(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

inline std::string read_text(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

inline void write_bytes(const std::string& path, const void* data, std::size_t len) {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(static_cast<const char*>(data), static_cast<std::streamsize>(len));
}

inline void write_text(const std::string& path, const std::string& text) {
    write_bytes(path, text.data(), text.size());
}

}  // namespace qv::test
