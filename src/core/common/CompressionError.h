// CompressionError: the one error type of the compression pipeline.
//
// Every failure of encoding, decoding, scoring or running a tool is thrown as a
// CompressionError whose message() is the exact text shown to the user, in the
// panel and on the status line. File-system errors are not wrapped: they pass
// through as std::filesystem::filesystem_error. Cancellation has its own type,
// CancellationError (Cancellation.h).
#pragma once

#include <exception>
#include <filesystem>
#include <string>

namespace quorlin {

class CompressionError : public std::exception {
 public:
  // Cases in their fixed order. unsupportedByTool comes last: it is this
  // system's own addition for older tools (see below).
  // timedOut and impossibleOutput are later additions for misbehaving tools.
  enum class Kind { missingTool, processFailed, missingOutput, unreadableImage, unsupportedByTool, timedOut,
                    impossibleOutput };

  // "Missing command-line tool: NAME. Install it with Homebrew or add it to PATH."
  static CompressionError missingTool(std::string toolName);
  // TOOL + " failed. " + output trimmed of surrounding whitespace. The space after
  // "failed." stays even when the output is empty.
  static CompressionError processFailed(std::string tool, std::string output);
  // A non-zero exit with what the child printed. With output this is
  // processFailed; without, the message says how it ended: "cwebp was killed
  // by signal 11 (Segmentation fault)." or "cwebp exited with status 3."
  // (`signalNumber` 0 means it exited with `exitStatus`).
  static CompressionError processEnded(std::string tool, std::string output, int exitStatus, int signalNumber);
  // "TOOL did not finish within N s." (the time limit ended it).
  static CompressionError timedOut(std::string tool, double seconds);
  // "TOOL printed an impossible WHAT: TEXT." (`text` as printed, trimmed).
  static CompressionError impossibleOutput(std::string tool, std::string_view what, std::string text);
  // "Expected output was not created: " + file name + "."
  static CompressionError missingOutput(std::filesystem::path file);
  // "Could not read decoded image: " + file name + ". Also used for unreadable
  // sources and encoded files, with the same wording.
  static CompressionError unreadableImage(std::filesystem::path file);
  // The same with the reason the image was refused (the decoder's text, the
  // size limit, ...): shown where there is room for more than one line.
  static CompressionError unreadableImage(std::filesystem::path file, std::string detail);
  // The installed `tool` cannot do what the panel asks, found out before it
  // ran (an older release refusing an option) or after it claimed success
  // (its output is not the codec's container). The message is `message`
  // exactly, e.g. "heif-enc 1.15.1 cannot encode JPEG 2000. Install a newer
  // libheif with its OpenJPEG encoder plugin." or "heif-enc wrote no JPEG 2000 data."
  static CompressionError unsupportedByTool(std::string tool, std::string message);

  Kind kind() const noexcept { return kind_; }
  // The tool name (missingTool, processFailed, unsupportedByTool); empty otherwise.
  const std::string& tool() const noexcept { return tool_; }
  // The raw output (processFailed), the message (unsupportedByTool); empty otherwise.
  const std::string& output() const noexcept { return output_; }
  // The file (missingOutput, unreadableImage); empty otherwise.
  const std::filesystem::path& file() const noexcept { return file_; }

  // Why, in more words than the message has room for; often empty.
  const std::string& detail() const noexcept { return detail_; }

  const std::string& message() const noexcept { return message_; }
  const char* what() const noexcept override { return message_.c_str(); }

  friend bool operator==(const CompressionError& a, const CompressionError& b) {
    return a.kind_ == b.kind_ && a.tool_ == b.tool_ && a.output_ == b.output_ && a.file_ == b.file_;
  }

 private:
  CompressionError(Kind kind, std::string tool, std::string output, std::filesystem::path file);

  Kind kind_;
  std::string tool_;
  std::string output_;
  std::filesystem::path file_;
  std::string message_;
  std::string detail_;
};

// Trims spaces, tabs, carriage returns and newlines (and other ASCII whitespace)
// from both ends.
std::string trimWhitespace(std::string_view text);

// The text a user sees for any error that reaches a panel or the status line:
// a CompressionError's message, a file-system error's reason and path, a
// cancellation's "Cancelled.", otherwise what().
std::string describeError(const std::exception& error);
std::string describeError(std::exception_ptr error);
// The detail of a CompressionError (see detail()); empty for anything else.
std::string describeErrorDetail(std::exception_ptr error);

}  // namespace quorlin
