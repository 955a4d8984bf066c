// Children of the tests inherit our standard input, as the product's children
// do. Point it at /dev/null for the whole test program so that no child can
// ever wait for a terminal.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

namespace {

class NullStandardInput : public ::testing::Environment {
 public:
  void SetUp() override {
    int fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::dup2(fd, STDIN_FILENO), STDIN_FILENO);
    ::close(fd);
  }
};

[[maybe_unused]] ::testing::Environment* const registered =
    ::testing::AddGlobalTestEnvironment(new NullStandardInput);

}  // namespace
