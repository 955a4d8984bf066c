#include "core/engine/PanelRunner.h"

#include <chrono>
#include <optional>
#include <system_error>

#include "core/common/CompressionError.h"
#include "core/engine/DecodedImageReader.h"
#include "core/engine/ImageDecoding.h"
#include "core/engine/EncodedDescription.h"
#include "core/engine/Encoding.h"
#include "core/engine/PNGColour.h"
#include "core/engine/PlatformImageCodec.h"
#include "core/engine/Ssimulacra2Score.h"
#include "core/tools/ToolContract.h"

namespace quorlin {

namespace fs = std::filesystem;

namespace {

using SteadyClock = std::chrono::steady_clock;

// Decoders whose output file follows a flag rather than the encoded file.
struct DecoderOutputFlag {
  std::string_view tool;
  std::string_view flag;
};
constexpr DecoderOutputFlag decoderOutputFlags[] = {{ToolContract::dwebp, ToolContract::dwebpOutputFlag}};

// A describer's output, or nothing when it is missing or fails: a description
// is a nicety that never fails a run. Cancellation still ends the run.
std::optional<std::string> describe(const EngineContext& context, std::string_view tool,
                                    const std::vector<std::string>& arguments, std::stop_token stopToken) {
  try {
    return context.runner.runTool(tool, arguments, stopToken);
  } catch (const CompressionError&) {
    return std::nullopt;
  }
}

struct ScoreRun {
  double score = 0;
  std::optional<fs::path> errorMap;
};

// Scores with the error map; an ssimulacra2 that does not know --map (the
// ssimulacra2WithoutMap tool rule) answers with its usage text and is asked
// again for the score alone.
ScoreRun score(const EngineContext& context, const fs::path& reference, const fs::path& decoded,
               const fs::path& errorMap, std::stop_token stopToken) {
  auto runScorer = [&](std::vector<std::string> arguments) {
    arguments.push_back(reference.string());
    arguments.push_back(decoded.string());
    return context.runner.runTool(ToolContract::ssimulacra2,
                                  context.withThreadFlag(ToolContract::ssimulacra2, std::move(arguments)), stopToken);
  };
  ScoreRun run;
  std::string output;
  if (!context.keepsErrorMaps) {
    output = runScorer({});
  } else {
    try {
      output = runScorer({std::string(ToolContract::ssimulacra2MapFlag), errorMap.string()});
      std::error_code error;
      if (fs::is_regular_file(errorMap, error)) run.errorMap = errorMap;
    } catch (const CompressionError& failure) {
      if (failure.kind() != CompressionError::Kind::processFailed ||
          failure.output().find(ToolContract::ssimulacra2UsageMarker) == std::string::npos) {
        throw;
      }
      output = runScorer({});
    }
  }
  run.score = parseSsimulacra2Score(output);
  return run;
}

std::int64_t encodedSizeOf(const fs::path& encoded) {
  std::error_code error;
  auto size = fs::file_size(encoded, error);
  return error ? 0 : static_cast<std::int64_t>(size);
}

void requireFile(const fs::path& file) {
  std::error_code error;
  if (!fs::exists(file, error)) throw CompressionError::missingOutput(file);
}

// One colour rule for display and score: a decoded PNG that says nothing
// about its colours holds values in the source's space (dwebp, cjpeg and
// most decoders drop the profile), so it gets the profile of "source.png";
// a PNG with its own description is left as it is. True when tagged.
// HDR sources: the scorer reads a PQ or HLG cICP chunk in absolute luminance
// and an ICC profile of the same space relative to its white, so a decoded PNG
// that names the source's HDR space by profile only (djxl, avifdec) also gets
// the source's cICP chunk, or a lossless round trip would not score 100.
bool tagWithSourceProfile(const PreparedCompressionSource& source, const EngineContext& context,
                          const fs::path& decoded) {
  ColorSpaceRef profile = source.preparedProfile();
  if (!profile) return false;
  auto colour = readPNGColourDescription(decoded);
  if (!colour) return false;
  const std::vector<std::uint8_t> cicp = cicpChunkData(*profile);
  if (colour->hasColourChunks) {
    if (!cicp.empty() && !colour->isCICP && colour->colorSpace && colour->colorSpace->kind() == profile->kind()) {
      insertPNGChunk(decoded, "cICP", cicp);
      context.runner.logStep("Mark " + decoded.filename().string() + " as " + profile->name(),
                             "The decoded PNG's profile describes the source's HDR space; it now also carries the "
                             "cICP chunk of source.png, pixels unchanged, so it is scored in the same luminance.");
    }
    return false;
  }
  insertPNGICCProfile(decoded, profile->iccProfile());
  if (!cicp.empty()) insertPNGChunk(decoded, "cICP", cicp);
  context.runner.logStep("Tag " + decoded.filename().string() + " with the source's profile",
                         "The decoded PNG has no colour information; it now carries the profile of source.png (\"" +
                             profile->name() + "\"), pixels unchanged, so it is shown and scored in the source's "
                             "colours.");
  return true;
}

CompressionResult finishRun(const CodecPanel& panel, const PreparedCompressionSource& source,
                            const EngineContext& context, std::stop_token stopToken, const EncodeStageResult& stage) {
  const fs::path& encoded = stage.encodedURL;
  const fs::path& decoded = stage.decodedURL;

  DecoderCommand decoder = decoderCommand(panel.codec, encoded, decoded);
  std::string decoderOutput;
  const auto decodeStart = SteadyClock::now();
  if (decoder.tool.empty()) {
    decodeWithPlatform(encoded, decoded);
  } else {
    decoderOutput = context.runner.runTool(decoder.tool, context.withThreadFlag(decoder.tool, decoder.arguments),
                                           stopToken);
  }
  const double decodeDuration = std::chrono::duration<double>(SteadyClock::now() - decodeStart).count();

  requireFile(encoded);
  requireFile(decoded);
  const bool scoredWithSourceProfile = tagWithSourceProfile(source, context, decoded);

  std::optional<std::string> jxlinfoText;
  if (panel.codec == CompressionCodec::jpegXL) {
    jxlinfoText = describe(context, ToolContract::jxlinfo, {encoded.string()}, stopToken);
  }

  DisplayMetadata display = source.displayMetadata;
  std::vector<std::string> metadataLines;
  if (jxlinfoText) {
    DescribedDisplay described = jpegXLDescribedDisplay(*jxlinfoText);
    if (described.colorSpace) display.colorSpace = described.colorSpace;
    if (described.contentHeadroom) display.contentHeadroom = described.contentHeadroom;
    metadataLines = jpegXLDescriptionLines(*jxlinfoText);
  } else if (panel.codec == CompressionCodec::avif) {
    metadataLines = avifDescriptionLines(decoderOutput);
    if (metadataLines.empty()) {
      auto info = describe(context, ToolContract::avifdec,
                           {std::string(ToolContract::avifdecInfoFlag), encoded.string()}, stopToken);
      if (info) metadataLines = avifDescriptionLines(*info);
    }
  }

  std::optional<DisplayImage> image = readDecodedImage(decoded, display);
  if (!image) throw CompressionError::unreadableImage(decoded, imageRejectionReason());

  const std::int64_t encodedSize = encodedSizeOf(encoded);

  std::error_code error;
  fs::path reference = fs::absolute(source.preparedURL, error);
  if (error) reference = source.preparedURL;
  const ScoreRun scored = score(context, reference, decoded, stage.workDirectory / (encoded.stem().string() + "-error-map.pfm"),
                                stopToken);

  CompressionResult result;
  result.id = Uuid::random();
  result.codec = panel.codec;
  result.workDirectory = stage.workDirectory;
  result.encodedURL = encoded;
  result.decodedURL = decoded;
  result.encodedSize = encodedSize;
  result.decodedImage = std::move(*image);
  result.ssimulacra2Score = scored.score;
  result.errorMapURL = scored.errorMap;
  result.scoredWithSourceProfile = scoredWithSourceProfile;
  result.encodeDuration = stage.encodeDuration;
  result.decodeDuration = decodeDuration;
  result.commandLine = stage.commandLine;
  result.encodedMetadataLines = std::move(metadataLines);
  result.settingsSignature = panel.settingsSignature();
  return result;
}

}  // namespace

DecoderCommand decoderCommand(CompressionCodec codec, const fs::path& encoded, const fs::path& decoded) {
  DecoderCommand command{std::string(codecInfo(codec).decoderTool), {}};
  if (command.tool.empty()) return command;
  command.arguments.push_back(encoded.string());
  for (const auto& row : decoderOutputFlags) {
    if (row.tool == command.tool) command.arguments.emplace_back(row.flag);
  }
  command.arguments.push_back(decoded.string());
  return command;
}

CompressionResult runPanel(const CodecPanel& panel, const PreparedCompressionSource& source,
                           const EngineContext& context, std::stop_token stopToken) {
  try {
    EncodeStageResult stage = encodePanel(panel, source, context, stopToken);
    try {
      return finishRun(panel, source, context, stopToken, stage);
    } catch (...) {
      std::error_code ignored;
      fs::remove_all(stage.workDirectory, ignored);
      throw;
    }
  } catch (const CompressionError& error) {
    logErrorDetail(context, error);
    throw;
  }
}

void logErrorDetail(const EngineContext& context, const CompressionError& error) {
  // A tool's failure is in its own entry already; libvips' reason is in none.
  if (!error.detail().empty()) context.runner.logStep(error.message(), error.detail(), 1);
}

}  // namespace quorlin
