#include "core/common/CompressionError.h"

#include "core/common/Cancellation.h"
#include "core/common/PlatformTexts.h"

#include <cctype>

namespace quorlin {

namespace {

std::string lastPathComponent(const std::filesystem::path& file) {
  std::filesystem::path name = file.filename();
  if (name.empty()) name = file.parent_path().filename();
  return name.string();
}

}  // namespace

CompressionError::CompressionError(Kind kind, std::string tool, std::string output,
                                   std::filesystem::path file)
    : kind_(kind), tool_(std::move(tool)), output_(std::move(output)), file_(std::move(file)) {
  switch (kind_) {
    case Kind::missingTool:
      message_ = "Missing command-line tool: " + tool_ + ". " + std::string(platformTexts().installMissingTool);
      break;
    case Kind::processFailed:
      message_ = tool_ + " failed. " + trimWhitespace(output_);
      break;
    case Kind::missingOutput:
      message_ = "Expected output was not created: " + lastPathComponent(file_) + ".";
      break;
    case Kind::unreadableImage:
      message_ = "Could not read decoded image: " + lastPathComponent(file_) + ".";
      break;
    case Kind::unsupportedByTool:
      message_ = output_;
      break;
  }
}

CompressionError CompressionError::missingTool(std::string toolName) {
  return CompressionError(Kind::missingTool, std::move(toolName), {}, {});
}

CompressionError CompressionError::processFailed(std::string tool, std::string output) {
  return CompressionError(Kind::processFailed, std::move(tool), std::move(output), {});
}

CompressionError CompressionError::missingOutput(std::filesystem::path file) {
  return CompressionError(Kind::missingOutput, {}, {}, std::move(file));
}

CompressionError CompressionError::unreadableImage(std::filesystem::path file) {
  return CompressionError(Kind::unreadableImage, {}, {}, std::move(file));
}

CompressionError CompressionError::unsupportedByTool(std::string tool, std::string message) {
  return CompressionError(Kind::unsupportedByTool, std::move(tool), std::move(message), {});
}

std::string trimWhitespace(std::string_view text) {
  auto isSpace = [](char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
  };
  size_t begin = 0;
  size_t end = text.size();
  while (begin < end && isSpace(text[begin])) ++begin;
  while (end > begin && isSpace(text[end - 1])) --end;
  return std::string(text.substr(begin, end - begin));
}

std::string describeError(const std::exception& error) {
  if (auto* compression = dynamic_cast<const CompressionError*>(&error)) {
    return compression->message();
  }
  if (dynamic_cast<const CancellationError*>(&error)) {
    return "Cancelled.";
  }
  if (auto* fileSystem = dynamic_cast<const std::filesystem::filesystem_error*>(&error)) {
    std::string text = fileSystem->code().message();
    if (!text.empty()) text[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(text[0])));
    if (!fileSystem->path1().empty()) text += ": " + fileSystem->path1().string();
    return text + ".";
  }
  return error.what();
}

std::string describeError(std::exception_ptr error) {
  if (!error) return "Unknown error";
  try {
    std::rethrow_exception(error);
  } catch (const std::exception& e) {
    return describeError(e);
  } catch (...) {
    return "Unknown error";
  }
}

}  // namespace quorlin
