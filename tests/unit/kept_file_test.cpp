// Reading kernel files whole: until a read returns 0 (seq_file files give about a page a read),
// regular files only and within a bound.
#include "platform/posix/kept_file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <string>

#include "platform/posix/proc_text.h"

namespace tarvelon {
namespace {

// As seq_file answers: at most a page a read, whatever was asked.
ssize_t pageRead(int fd, void* buffer, size_t bytes, off_t offset) {
    return pread(fd, buffer, bytes < 4096 ? bytes : 4096, offset);
}

class KeptFileTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/tarvelon-kept-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        directory = pattern;
    }
    void TearDown() override { std::system(("rm -rf '" + directory + "'").c_str()); }
    std::string write(const std::string& name, const std::string& text) const {
        std::ofstream(directory + "/" + name) << text;
        return directory + "/" + name;
    }
    std::string directory;
};

TEST_F(KeptFileTest, AFileLongerThanAPageIsReadWholeThroughShortReads) {
    std::string netDev;
    for (int i = 0; netDev.size() < 10000; ++i)
        netDev += "  eth" + std::to_string(i) + ": 1 2 3 4 5 6 7 8 9\n";
    const int fd = open(write("dev", netDev).c_str(), O_RDONLY);
    std::string text;
    size_t room = 8192;  // more than a page: one short read must not end it
    ASSERT_TRUE(readFromStart(fd, &text, kKernelFileBytes, &room, pageRead));
    EXPECT_EQ(text, netDev);
    ASSERT_TRUE(readFromStart(fd, &text, kKernelFileBytes, &room, pageRead));  // again from the start
    EXPECT_EQ(text, netDev);
    close(fd);
}

TEST_F(KeptFileTest, OnlyRegularFilesWithinTheirBoundAreRead) {
    const std::string fifo = directory + "/fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const std::string atBound = write("at-bound", std::string(kKernelFileBytes, 'x'));
    const std::string pastBound = write("past-bound", std::string(kKernelFileBytes + 1, 'x'));
    const struct {
        std::string path;
        bool read;
    } cases[] = {{fifo, false},      {"/dev/zero", false}, {"/dev/null", false},
                 {directory, false}, {atBound, true},      {pastBound, false}};
    for (const auto& c : cases) {
        std::string text;
        EXPECT_EQ(readTextFile(c.path, &text), c.read) << c.path;
        KeptFile kept(c.path);
        EXPECT_EQ(kept.read(&text), c.read) << c.path;
        if (c.read) {
            EXPECT_EQ(text.size(), kKernelFileBytes);
        }
    }
    std::string text;
    EXPECT_TRUE(readTextFile(pastBound, &text, kKernelListBytes));
}

}  // namespace
}  // namespace tarvelon
