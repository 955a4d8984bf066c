#include "core/common/CompressionError.h"

#include "core/common/Cancellation.h"
#include "core/common/PlatformTexts.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>

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
    case Kind::timedOut:
    case Kind::impossibleOutput:
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

CompressionError CompressionError::processEnded(std::string tool, std::string output, int exitStatus,
                                                int signalNumber) {
  CompressionError error = processFailed(std::move(tool), std::move(output));
  if (trimWhitespace(error.output_).empty()) {
    if (signalNumber != 0) {
      const char* name = ::strsignal(signalNumber);
      error.message_ = error.tool_ + " was killed by signal " + std::to_string(signalNumber) +
                       (name ? std::string(" (") + name + ")" : std::string()) + ".";
    } else {
      error.message_ = error.tool_ + " exited with status " + std::to_string(exitStatus) + ".";
    }
  }
  return error;
}

CompressionError CompressionError::timedOut(std::string tool, double seconds) {
  char number[32];
  std::snprintf(number, sizeof number, "%g", std::round(seconds * 1000) / 1000);
  std::string message = tool + " did not finish within " + number + " s.";
  return CompressionError(Kind::timedOut, std::move(tool), std::move(message), {});
}

CompressionError CompressionError::impossibleOutput(std::string tool, std::string_view what, std::string text) {
  std::string message = tool + " printed an impossible " + std::string(what) + ": " + trimWhitespace(text) + ".";
  return CompressionError(Kind::impossibleOutput, std::move(tool), std::move(message), {});
}

CompressionError CompressionError::missingOutput(std::filesystem::path file) {
  return CompressionError(Kind::missingOutput, {}, {}, std::move(file));
}

CompressionError CompressionError::unreadableImage(std::filesystem::path file) {
  return CompressionError(Kind::unreadableImage, {}, {}, std::move(file));
}

CompressionError CompressionError::unreadableImage(std::filesystem::path file, std::string detail) {
  CompressionError error(Kind::unreadableImage, {}, {}, std::move(file));
  error.detail_ = trimWhitespace(detail);
  return error;
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

std::string describeErrorDetail(std::exception_ptr error) {
  if (!error) return {};
  try {
    std::rethrow_exception(error);
  } catch (const CompressionError& compression) {
    return compression.detail();
  } catch (...) {
    return {};
  }
}

}  // namespace quorlin
