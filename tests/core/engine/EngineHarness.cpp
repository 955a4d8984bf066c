#include "EngineHarness.h"

#include <algorithm>
#include <regex>
#include <sstream>

#include "core/engine/VipsRuntime.h"
#include "support/TestImages.h"

namespace quorlin::test {

namespace fs = std::filesystem;
using vips::VImage;

namespace {

// Single-quoted for a shell script (the fakes are scripts; product code never runs a shell).
std::string shellQuoted(std::string_view text) {
  std::string quoted(1, '\'');
  quoted += std::regex_replace(std::string(text), std::regex("'"), "'\\''");
  return quoted += '\'';
}

// A fake without a version still answers the version probe (with nothing),
// rather than treating the flag as a file name.
std::string versionClause(std::string_view versionLine) {
  if (versionLine.empty()) return "case \"$1\" in --version|-version|-ver) exit 0;; esac\n";
  return "case \"$1\" in --version|-version) printf '%s\\n' " + shellQuoted(versionLine) + "; exit 0;; esac\n";
}

}  // namespace

EngineHarness::EngineHarness(ToolSet tools)
    : toolDirectory(scratch / "tools"),
      temporaryRoot(scratch / "root"),
      samples(scratch / "samples"),
      logs(scratch / "logs"),
      searchPath(executables, tools == ToolSet::installed ? builtInToolSearchDirectories() : std::vector<std::string>{}),
      runner(executables, searchPath, dispatcher, console, ChildStandardInput::nullDevice) {
  fs::create_directories(toolDirectory);
  fs::create_directories(samples);
  fs::create_directories(logs);
  std::vector<std::string> custom;
  if (tools == ToolSet::installed) custom.push_back((buildDirectory() / "src" / "metric").string());
  custom.push_back(toolDirectory.string());
  searchPath.setCustomToolDirectories(custom);
  writeSamples();
}

void EngineHarness::writeSamples() {
  ensureVipsInitialized();
  VImage picture = makeTestPicture(16, 16);
  picture.pngsave((samples / "decoded.png").c_str());
  picture.jpegsave((samples / "sample.jpg").c_str());
  picture.webpsave((samples / "sample.webp").c_str());
  picture.jxlsave((samples / "sample.jxl").c_str());
  picture.heifsave((samples / "sample.heic").c_str(),
                   VImage::option()->set("compression", VIPS_FOREIGN_HEIF_COMPRESSION_HEVC));
  picture.heifsave((samples / "sample.avif").c_str(),
                   VImage::option()->set("compression", VIPS_FOREIGN_HEIF_COMPRESSION_AV1));
  // libheif here writes no JPEG 2000; the guard reads only the brands.
  using namespace std::string_literals;
  writeTextFile(samples / "sample.hej2", "\x00\x00\x00\x14" "ftypj2ki\x00\x00\x00\x00" "j2ki"s);
}

fs::path EngineHarness::makeSource(std::string_view name, bool sixteenBit, int width, int height) {
  fs::path file = scratch / name;
  VImage picture = makeTestPicture(width, height, sixteenBit ? TestDepth::sixteen : TestDepth::eight);
  std::string extension = file.extension().string();
  if (extension == ".jpg" || extension == ".jpeg") {
    picture.jpegsave(file.c_str());
  } else if (extension == ".tif" || extension == ".tiff") {
    picture.tiffsave(file.c_str());
  } else {
    picture.pngsave(file.c_str(), VImage::option()->set("bitdepth", sixteenBit ? 16 : 8));
  }
  return file;
}

PreparedCompressionSource EngineHarness::prepare(const fs::path& source) {
  return prepareSource(source, temporaryRoot);
}

fs::path EngineHarness::tool(std::string_view name, std::string_view body) {
  return writeFakeTool(toolDirectory, name, "PATH=/usr/bin:/bin\n" + std::string(body));
}

void EngineHarness::recordingEncoder(std::string_view name, std::string_view versionLine,
                                     std::string_view sampleName) {
  std::string sampleFile = sampleName.empty() ? shellQuoted(samples.string()) + "/sample.\"${out##*.}\""
                                              : shellQuoted((samples / sampleName).string());
  tool(name, versionClause(versionLine) + recordingPrologue(name, {}) +
                 "out=; prev=\n"
                 "for a in \"$@\"; do\n"
                 "  if [ \"$prev\" = -o ] || [ \"$prev\" = -outfile ]; then out=$a; fi\n"
                 "  prev=$a\n"
                 "done\n"
                 "[ -n \"$out\" ] || out=$a\n"
                 "cp " + sampleFile + " \"$out\"\n");
}

std::string EngineHarness::recordingPrologue(std::string_view name, std::string_view output) const {
  std::string body = "printf '%s\\n' \"$@\" > " + shellQuoted((logs / (std::string(name) + ".args")).string()) + "\n";
  if (!output.empty()) body += "printf '%s\\n' " + shellQuoted(output) + "\n";
  return body;
}

void EngineHarness::recordingDecoder(std::string_view name, std::string_view output, const fs::path& png) {
  tool(name, recordingPrologue(name, output) + "for a in \"$@\"; do last=$a; done\n" + "cp " +
                 shellQuoted((png.empty() ? samples / "decoded.png" : png).string()) + " \"$last\"\n");
}

void EngineHarness::recordingToolPrinting(std::string_view name, std::string_view output) {
  tool(name, recordingPrologue(name, output));
}

void EngineHarness::fakeScorer(std::string_view output) { recordingToolPrinting("ssimulacra2", output); }

std::vector<std::string> EngineHarness::recordedArguments(std::string_view name) const {
  fs::path file = logs / (std::string(name) + ".args");
  if (!fs::exists(file)) return {};
  std::vector<std::string> arguments;
  std::istringstream lines(readTextFile(file));
  for (std::string line; std::getline(lines, line);) arguments.push_back(line);
  return arguments;
}

bool EngineHarness::hasRun(std::string_view name) const {
  return fs::exists(logs / (std::string(name) + ".args"));
}

std::vector<fs::path> EngineHarness::workDirectories(const PreparedCompressionSource& source) const {
  std::vector<fs::path> found;
  if (!fs::exists(temporaryRoot)) return found;
  for (const auto& entry : fs::directory_iterator(temporaryRoot)) {
    if (entry.path() != source.temporaryDirectory) found.push_back(entry.path());
  }
  std::sort(found.begin(), found.end());
  return found;
}

std::vector<CommandConsoleEntry> EngineHarness::consoleEntries() {
  dispatcher.runPending();
  std::vector<CommandConsoleEntry> entries = console.entries();
  std::reverse(entries.begin(), entries.end());
  return entries;
}

}  // namespace quorlin::test
