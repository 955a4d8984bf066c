#include "core/common/CompressionError.h"

#include <gtest/gtest.h>

#include "core/common/Cancellation.h"

namespace quorlin {
namespace {

TEST(CompressionErrorTest, MessagesKindsAndPayloads) {
  EXPECT_EQ(CompressionError::missingOutput("/tmp/x/photo-decoded.png").message(),
            "Expected output was not created: photo-decoded.png.");
  // Output is trimmed at both ends, inner newlines stay, the space after the tool always.
  EXPECT_EQ(CompressionError::processFailed("cjxl", "\n  bad input \r\n\n").message(), "cjxl failed. bad input");
  EXPECT_EQ(CompressionError::processFailed("cjxl", " \n\t").message(), "cjxl failed. ");
  EXPECT_EQ(CompressionError::processFailed("avifenc", "a\nb\n").message(), "avifenc failed. a\nb");
  auto failed = CompressionError::processFailed("target search", "No successful probes for WebP.");
  EXPECT_EQ(failed.kind(), CompressionError::Kind::processFailed);
  EXPECT_EQ(failed.tool(), "target search");
  EXPECT_EQ(failed.output(), "No successful probes for WebP.");
  EXPECT_STREQ(failed.what(), "target search failed. No successful probes for WebP.");
  auto unsupported = CompressionError::unsupportedByTool("heif-enc", "heif-enc wrote no JPEG 2000 (libheif) data.");
  EXPECT_EQ(unsupported.kind(), CompressionError::Kind::unsupportedByTool);
  EXPECT_EQ(unsupported.tool(), "heif-enc");
  EXPECT_EQ(describeError(std::make_exception_ptr(unsupported)), "heif-enc wrote no JPEG 2000 (libheif) data.");
}

TEST(DescribeErrorTest, FileErrorsGiveTheirReasonAndUnknownsSaySo) {
  auto fileError = std::filesystem::filesystem_error("copy", "/ro/out.jxl",
                                                     std::make_error_code(std::errc::permission_denied));
  EXPECT_EQ(describeError(fileError), "Permission denied: /ro/out.jxl.");
  EXPECT_EQ(describeError(std::make_exception_ptr(CancellationError())), "Cancelled.");
  EXPECT_EQ(describeError(std::exception_ptr()), "Unknown error");
}

}  // namespace
}  // namespace quorlin
