#pragma once
// A private file in /tmp holding the given bytes, removed when it goes.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

namespace veltrona::test {

class TempFile {
public:
    explicit TempFile(const std::string &content) {
        char name[] = "/tmp/veltrona-test-XXXXXX";
        const int fd = mkstemp(name);
        path_ = name;
        EXPECT_EQ(write(fd, content.data(), content.size()), static_cast<ssize_t>(content.size()));
        close(fd);
    }
    ~TempFile() { std::remove(path_.c_str()); }
    TempFile(const TempFile &) = delete;
    TempFile &operator=(const TempFile &) = delete;
    const std::string &path() const { return path_; }

private:
    std::string path_;
};

} // namespace veltrona::test
