#include "core/common/CompressionError.h"

#include <gtest/gtest.h>

#include "core/common/Cancellation.h"

namespace quorlin {
namespace {

TEST(CompressionErrorTest, MessagesAreTheUserFacingTexts) {
  EXPECT_EQ(CompressionError::missingTool("djxl").message(),
            "Missing command-line tool: djxl. Install it with your package manager (see Required Tools) or add it to PATH.");
  EXPECT_EQ(CompressionError::missingOutput("/tmp/x/photo-decoded.png").message(),
            "Expected output was not created: photo-decoded.png.");
  EXPECT_EQ(CompressionError::unreadableImage("/tmp/x/photo.jxl").message(),
            "Could not read decoded image: photo.jxl.");
}

TEST(CompressionErrorTest, ProcessFailedTrimsOutputButKeepsTheSpace) {
  EXPECT_EQ(CompressionError::processFailed("cjxl", "\n  bad input \r\n\n").message(), "cjxl failed. bad input");
  EXPECT_EQ(CompressionError::processFailed("cjxl", "").message(), "cjxl failed. ");
  EXPECT_EQ(CompressionError::processFailed("cjxl", " \n\t").message(), "cjxl failed. ");
  // Inner newlines stay.
  EXPECT_EQ(CompressionError::processFailed("avifenc", "a\nb\n").message(), "avifenc failed. a\nb");
}

TEST(CompressionErrorTest, KeepsPayloadsAndKind) {
  auto error = CompressionError::processFailed("target search", "No successful probes for WebP.");
  EXPECT_EQ(error.kind(), CompressionError::Kind::processFailed);
  EXPECT_EQ(error.tool(), "target search");
  EXPECT_EQ(error.output(), "No successful probes for WebP.");
  EXPECT_STREQ(error.what(), "target search failed. No successful probes for WebP.");
}

TEST(CompressionErrorTest, UnsupportedByToolShowsItsMessageUnchanged) {
  auto error = CompressionError::unsupportedByTool("heif-enc", "heif-enc wrote no JPEG 2000 (libheif) data.");
  EXPECT_EQ(error.kind(), CompressionError::Kind::unsupportedByTool);
  EXPECT_EQ(error.tool(), "heif-enc");
  EXPECT_EQ(error.message(), "heif-enc wrote no JPEG 2000 (libheif) data.");
  EXPECT_EQ(describeError(std::make_exception_ptr(error)), "heif-enc wrote no JPEG 2000 (libheif) data.");
}

TEST(DescribeErrorTest, UsesMessageForCompressionErrorsAndReasonForFileErrors) {
  EXPECT_EQ(describeError(std::make_exception_ptr(CompressionError::missingTool("cwebp"))),
            "Missing command-line tool: cwebp. Install it with your package manager (see Required Tools) or add it to PATH.");
  auto fileError = std::filesystem::filesystem_error(
      "copy", "/ro/out.jxl", std::make_error_code(std::errc::permission_denied));
  EXPECT_EQ(describeError(fileError), "Permission denied: /ro/out.jxl.");
  EXPECT_EQ(describeError(std::make_exception_ptr(CancellationError())), "Cancelled.");
  EXPECT_EQ(describeError(std::exception_ptr()), "Unknown error");
}

}  // namespace
}  // namespace quorlin
