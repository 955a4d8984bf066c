// quorlin-cli info SOURCE [--json] [--prepare DIR] [--pixel-limit PIXELS]
//
// Prints the source's summary line and description lines as the desktop app shows
// them (or, with --json, one object with every metadata field, the summary
// line and the specLines list), and with --prepare writes the prepared
// "source.png" that encoders and the scorer would be given into DIR. The
// specs come from the header and metadata alone; pixels are decoded (within
// the pixel limit) only for --prepare.
//
// Exit status: 0 done; 1 the prepared file could not be written; 2 usage
// error or unreadable source ("Could not read decoded image: NAME." on stderr,
// and on the next line why).
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "cli/CliArguments.h"
#include "cli/CliCommand.h"
#include "cli/CompareOptions.h"
#include "core/common/JsonWriter.h"
#include "core/common/CompressionError.h"
#include "core/engine/DisplayImageReader.h"
#include "core/engine/PreparedSource.h"
#include "core/engine/SourceMetadata.h"
#include "core/tools/ToolContract.h"

namespace quorlin::cli {

namespace {

namespace fs = std::filesystem;

const CliOption infoOptions[] = {
    {"--json", "", "print the specs as one JSON object"},
    {"--prepare", "DIR", "also write the prepared source.png into DIR", "a directory"},
    {"--pixel-limit", "PIXELS", "with --prepare, refuse images declaring more pixels than this (default: 268435456)"},
};
const CliSyntax infoSyntax{"info", "SOURCE", infoOptions, ""};

struct InfoOptions {
  fs::path source;
  bool json = false;
  std::optional<fs::path> prepareDirectory;
  std::optional<std::uint64_t> pixelLimit;
};

// Nothing after printing the reason when the arguments are not usable.
std::optional<InfoOptions> parseArguments(const CliArguments& parsed) {
  std::string error = parsed.error;
  if (error.empty() && parsed.operands.size() > 1) error = "only one source can be given";
  if (error.empty() && !parsed.operands.empty() && parsed.operands.front().empty()) {
    error = "the source path is empty";
  }
  if (!error.empty() || parsed.operands.empty()) {
    if (!error.empty()) std::cerr << "quorlin-cli info: " << error << "\n";
    std::cerr << usageText(infoSyntax);
    return std::nullopt;
  }
  InfoOptions options;
  options.source = parsed.operands.front();
  for (const auto& [option, value] : parsed.options) {
    if (option == "--json") {
      options.json = true;
    } else if (option == "--pixel-limit") {
      options.pixelLimit = parsePixelLimit(value);
      if (!options.pixelLimit) {
        std::cerr << "quorlin-cli info: --pixel-limit must be a whole number of pixels above 0\n"
                  << usageText(infoSyntax);
        return std::nullopt;
      }
    } else {
      options.prepareDirectory = fs::path(value);
    }
  }
  return options;
}

std::string jsonReport(const SourceImageMetadata& metadata, std::int64_t fileSize) {
  JsonWriter json;
  json.beginObject();
  json.key("pixelWidth").value(metadata.pixelWidth);
  json.key("pixelHeight").value(metadata.pixelHeight);
  json.key("formatDescription").value(metadata.formatDescription);
  json.key("bitDepth").value(metadata.bitDepth);
  json.key("colorModel").value(metadata.colorModel);
  json.key("colorProfileName").value(metadata.colorProfileName);
  json.key("contentHeadroom").value(metadata.contentHeadroom);
  json.key("hasAlpha").value(metadata.hasAlpha);
  json.key("orientation").value(metadata.orientation);
  json.key("dpiWidth").value(metadata.dpiWidth);
  json.key("dpiHeight").value(metadata.dpiHeight);
  json.key("isJPEG").value(metadata.isJPEG);
  json.key("summaryLine").value(summaryLine(metadata, fileSize));
  json.key("specLines").beginArray();
  for (const auto& line : specLines(metadata, fileSize)) json.value(line);
  json.endArray();
  json.endObject();
  return json.text();
}

// Prepares the source under DIR (the temporary directory is made there, so
// the final rename stays on one file system), then keeps only source.png.
void writePreparedSource(const fs::path& source, const fs::path& directory, const DisplayImage& display) {
  fs::create_directories(directory);
  PreparedCompressionSource prepared = prepareSource(source, directory, display.image);
  fs::path target = directory / ToolContract::preparedSourceFileName;
  std::error_code error;
  fs::rename(prepared.preparedURL, target, error);
  prepared.removeTemporaryDirectory();
  if (error) throw fs::filesystem_error("cannot move the prepared source", target, error);
}

int runInfo(const std::vector<std::string>& arguments) {
  const CliArguments parsed = parseCliArguments(infoSyntax, arguments);
  if (parsed.isHelp) {
    std::cout << usageText(infoSyntax);
    return exitSuccess;
  }
  auto options = parseArguments(parsed);
  if (!options) return exitUsage;

  if (options->pixelLimit) setMaximumDecodedPixelCount(*options->pixelLimit);
  auto refuse = [&](const std::string& reason) {
    std::cerr << CompressionError::unreadableImage(options->source).message() << "\n";
    if (!reason.empty()) std::cerr << reason << "\n";
    return exitUsage;
  };
  if (auto refusal = imageHeaderRefusal(options->source)) return refuse(*refusal);
  // Decoded before anything is printed, so a refused source prints only the refusal.
  std::optional<DisplayImage> display;
  if (options->prepareDirectory) {
    display = readDisplayImage(options->source, nullptr, std::nullopt);
    if (!display) return refuse(imageRejectionReason());
  }
  SourceImageMetadata metadata = readSourceImageMetadata(options->source, PixelSize{});
  std::error_code sizeError;
  auto fileSize = static_cast<std::int64_t>(fs::file_size(options->source, sizeError));
  if (sizeError) fileSize = 0;

  if (options->json) {
    std::cout << jsonReport(metadata, fileSize);
  } else {
    std::cout << summaryLine(metadata, fileSize) << "\n";
    for (const auto& line : specLines(metadata, fileSize)) std::cout << line << "\n";
  }
  std::cout.flush();

  if (options->prepareDirectory) {
    try {
      writePreparedSource(options->source, *options->prepareDirectory, *display);
    } catch (const CompressionError& error) {
      std::cerr << error.message() << "\n";
      return exitUsage;
    } catch (const std::exception& error) {
      std::cerr << describeError(error) << "\n";
      return exitSomeFailed;
    }
  }
  return exitSuccess;
}

const RegisterCommand registration({"info", "show a source's specs; --prepare writes its prepared source.png", runInfo});

}  // namespace
}  // namespace quorlin::cli
