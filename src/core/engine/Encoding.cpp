#include "core/engine/Encoding.h"

#include <algorithm>
#include <optional>
#include <system_error>

#include "core/common/Cancellation.h"
#include "core/common/CompressionError.h"
#include "core/common/TextEncoding.h"
#include "core/codecs/ContentTypes.h"
#include "core/engine/ImageDecoding.h"
#include "core/engine/PPMWriter.h"
#include "core/engine/PlatformImageCodec.h"
#include "core/engine/SourceMetadata.h"
#include "core/tools/CommandLineQuoting.h"
#include "core/tools/EncodedContainer.h"
#include "core/tools/TemporaryFiles.h"
#include "core/tools/ToolContract.h"
#include "core/tools/ToolVersionRules.h"

namespace quorlin {

namespace fs = std::filesystem;

namespace {

using SteadyClock = std::chrono::steady_clock;

// One encode as it will run: the tool and its whole argument list.
struct EncoderRun {
  std::string tool;
  std::vector<std::string> arguments;
};

// What an argument builder may use besides the panel.
struct EncodeFiles {
  const PreparedCompressionSource& source;
  fs::path sourcePath;     // the user's file, absolute
  fs::path input;          // encoderInputURL of the codec, absolute
  fs::path output;         // the encoded file
  fs::path workDirectory;  // for "source.ppm"
};

std::string decimal(int value) { return std::to_string(value); }

// Tools always get absolute paths, whatever the caller handed in.
fs::path absolutePath(const fs::path& file) {
  std::error_code error;
  fs::path absolute = fs::absolute(file, error);
  return error ? file : absolute;
}

[[noreturn]] void refuse(std::string_view tool, ToolRuleId rule, const std::optional<ToolVersion>& version) {
  std::string message = refusalMessage(rule, version).value_or(fillVersion(toolVersionRule(rule).message, "?"));
  throw CompressionError::unsupportedByTool(std::string(tool), std::move(message));
}

// "PQ" or "HLG" for an HDR source, empty otherwise.
std::string_view hdrTransferOf(const PreparedCompressionSource& source) {
  const ColorSpaceRef& space = source.displayMetadata.colorSpace;
  return space ? space->transferName() : std::string_view{};
}


std::string lowerCasedExtension(const fs::path& file) {
  std::string extension = file.extension().string();
  if (!extension.empty()) extension.erase(0, 1);
  return asciiLowercased(extension);
}

bool isSourceOfType(const PreparedCompressionSource& source, std::string_view type,
                    std::initializer_list<std::string_view> extensions) {
  if (source.sourceContentType && contentTypeConforms(*source.sourceContentType, type)) return true;
  const std::string extension = lowerCasedExtension(source.sourceURL);
  return std::find(extensions.begin(), extensions.end(), extension) != extensions.end();
}

bool isPNGSource(const PreparedCompressionSource& source) {
  return isSourceOfType(source, ContentTypeIdentifier::png, {"png"});
}

// Deeper than 8 bits per sample, as heif-enc would read it.
bool isDeeperThanEightBits(const fs::path& input) {
  auto header = readImageHeader(input);
  return header && header->image.format() != VIPS_FORMAT_UCHAR && header->image.format() != VIPS_FORMAT_CHAR;
}

// ---- Argument lists, one builder per encoder --------------------------------

EncoderRun jpegXLArguments(const CodecPanel& panel, const EncodeFiles& files, const EngineContext&) {
  EncoderRun run{std::string(ToolContract::cjxl), {}};
  const fs::path& sourceURL = files.sourcePath;
  const bool isTranscode =
      panel.isJPEGLosslessTranscode && isJPEGSource(imageReaderTypeIdentifier(sourceURL), sourceURL);
  auto& a = run.arguments;
  a = {isTranscode ? "--lossless_jpeg=1" : "--lossless_jpeg=0", "--effort", decimal(panel.effort)};
  if (isTranscode) {
    a.insert(a.end(), {sourceURL.string(), files.output.string()});
    return run;
  }
  fs::path input = files.input;
  if (input == sourceURL && !cjxlReadsInputExtension(lowerCasedExtension(sourceURL))) {
    input = absolutePath(files.source.preparedURL);
  }
  if (panel.isJPEGXLProgressive) a.push_back("--progressive");
  if (panel.jpegXLGroupOrder == JPEGXLGroupOrder::centerFirst) a.push_back("--group_order=1");
  a.insert(a.end(), {"--distance", formatDistance(panel.distance), input.string(), files.output.string()});
  return run;
}

EncoderRun avifArguments(const CodecPanel& panel, const EncodeFiles& files, const EngineContext& context) {
  const std::string tool(ToolContract::avifenc);
  const std::optional<ToolVersion> version = context.installedVersion(tool);
  if (panel.isAVIFProgressive && !avifencSupportsProgressive(version)) {
    refuse(tool, ToolRuleId::avifEncoderProgressive, version);
  }
  EncoderRun run{tool, {"--speed", decimal(10 - panel.effort)}};
  auto& a = run.arguments;
  if (panel.isAVIFLossless) {
    a.push_back("-l");
  } else if (avifencHasQualityOption(version)) {
    a.insert(a.end(), {"--qcolor", decimal(panel.quality)});
  } else {
    std::string quantizer = decimal(avifencQuantizerForQuality(panel.quality));
    a.insert(a.end(), {"--min", quantizer, "--max", quantizer});
  }
  if (panel.avifDepth != AVIFDepth::automatic) a.insert(a.end(), {"-d", std::string(rawValue(panel.avifDepth))});
  if (panel.avifChromaSubsampling != AVIFChromaSubsampling::automatic) {
    a.insert(a.end(), {"-y", std::string(rawValue(panel.avifChromaSubsampling))});
  }
  if (panel.isAVIFProgressive) a.push_back("--progressive");
  if (std::string_view transfer = hdrTransferOf(files.source); !transfer.empty()) {
    a.insert(a.end(), {"--cicp", avifencHDRCICP(transfer, panel.isAVIFLossless), "--ignore-icc"});
  }
  a.insert(a.end(), {files.input.string(), files.output.string()});
  return run;
}

EncoderRun webPArguments(const CodecPanel& panel, const EncodeFiles& files, const EngineContext&) {
  EncoderRun run{std::string(ToolContract::cwebp), {}};
  if (panel.isWebPLossless) {
    run.arguments = {"-lossless", "-z", decimal(panel.webPLosslessLevel)};
  } else {
    run.arguments = {"-q", decimal(panel.quality), "-m", decimal(panel.effort)};
  }
  run.arguments.insert(run.arguments.end(),
                       {"-metadata", "all", files.input.string(), "-o", files.output.string()});
  return run;
}

EncoderRun jpegliArguments(const CodecPanel& panel, const EncodeFiles& files, const EngineContext&) {
  EncoderRun run{std::string(ToolContract::cjpegli), {"--distance=" + formatDistance(panel.distance)}};
  if (panel.chromaSubsampling != ChromaSubsampling::automatic) {
    run.arguments.push_back("--chroma_subsampling=" + std::string(rawValue(panel.chromaSubsampling)));
  }
  run.arguments.insert(run.arguments.end(), {"--progressive_level=" + decimal(panel.progressiveLevel),
                                             files.input.string(), files.output.string()});
  return run;
}

EncoderRun libheifArguments(const CodecPanel& panel, const EncodeFiles& files, const EngineContext& context) {
  const std::string tool(ToolContract::heifEnc);
  const std::optional<ToolVersion> version = context.installedVersion(tool);
  if (panel.codec == CompressionCodec::jpeg2000Libheif && !heifEncSupportsJPEG2000(version)) {
    refuse(tool, ToolRuleId::heifEncoderJPEG2000, version);
  }
  fs::path input = files.input;
  if (input == files.sourcePath && !heifEncReadsTIFF(version) &&
      isSourceOfType(files.source, ContentTypeIdentifier::tiff, {"tif", "tiff"})) {
    input = absolutePath(files.source.preparedURL);
  }
  if (panel.codec == CompressionCodec::avifLibheif && !heifEncCanEncode16BitAVIF(version, panel.heifBitDepth) &&
      isDeeperThanEightBits(input)) {
    refuse(tool, ToolRuleId::heifEncoderSixteenBitAVIF, version);
  }
  EncoderRun run{tool, {}};
  auto& a = run.arguments;
  std::string_view modeFlag = codecInfo(panel.codec).encoderModeFlag;
  bool isHevc = panel.codec == CompressionCodec::heifLibheif;
  if (!modeFlag.empty() && (!isHevc || heifEncKnowsHevcFlag(version))) a.emplace_back(modeFlag);
  if (panel.isHEIFLossless) {
    a.push_back("-L");
  } else {
    a.insert(a.end(), {"-q", decimal(panel.quality)});
  }
  if (panel.heifBitDepth != HEIFDepth::automatic) a.insert(a.end(), {"-b", std::string(rawValue(panel.heifBitDepth))});
  a.insert(a.end(), {input.string(), "-o", files.output.string()});
  return run;
}

std::string_view cjpegSampling(ChromaSubsampling subsampling) {
  switch (subsampling) {
    case ChromaSubsampling::fourFourFour: return "1x1";
    case ChromaSubsampling::fourFourZero: return "1x2";
    case ChromaSubsampling::fourTwoTwo: return "2x1";
    case ChromaSubsampling::fourTwoZero: return "2x2";
    case ChromaSubsampling::automatic: break;
  }
  return {};
}

EncoderRun jpegTurboArguments(const CodecPanel& panel, const EncodeFiles& files, const EngineContext& context) {
  const std::string tool(ToolContract::cjpeg);
  const PreparedCompressionSource& source = files.source;
  fs::path input = files.input;
  bool isDirect = input == files.sourcePath;
  if (isDirect && isPNGSource(source) && !cjpegReadsPNG(context.installedVersion(tool))) isDirect = false;
  if (!isDirect) {
    input = files.workDirectory / ToolContract::ppmInputFileName;
    writePPM(absolutePath(source.preparedURL), input);
  }
  EncoderRun run{tool, {"-quality", decimal(panel.quality)}};
  auto& a = run.arguments;
  if (panel.isJPEGTurboProgressive) a.push_back("-progressive");
  if (panel.isJPEGTurboOptimized) a.push_back("-optimize");
  if (panel.chromaSubsampling != ChromaSubsampling::automatic) {
    a.insert(a.end(), {"-sample", std::string(cjpegSampling(panel.chromaSubsampling))});
  }
  a.insert(a.end(), {"-outfile", files.output.string(), input.string()});
  return run;
}

using ArgumentBuilder = EncoderRun (*)(const CodecPanel&, const EncodeFiles&, const EngineContext&);

struct EncoderRow {
  CompressionCodec codec;
  ArgumentBuilder build;  // null: the in-process writer
};

constexpr EncoderRow encoders[] = {
    {CompressionCodec::jpegXL, jpegXLArguments},
    {CompressionCodec::avif, avifArguments},
    {CompressionCodec::webP, webPArguments},
    {CompressionCodec::jpegli, jpegliArguments},
    {CompressionCodec::heifLibheif, libheifArguments},
    {CompressionCodec::avifLibheif, libheifArguments},
    {CompressionCodec::jpeg2000Libheif, libheifArguments},
    {CompressionCodec::heif, nullptr},
    {CompressionCodec::jpegTurbo, jpegTurboArguments},
    {CompressionCodec::jpeg, nullptr},
};

ArgumentBuilder argumentBuilder(CompressionCodec codec) {
  for (const auto& row : encoders) {
    if (row.codec == codec) return row.build;
  }
  return nullptr;
}

double secondsSince(SteadyClock::time_point start) {
  return std::chrono::duration<double>(SteadyClock::now() - start).count();
}

// An encoder that exits 0 must have written its codec's container.
void checkEncodedOutput(const EncoderRun& run, CompressionCodec codec, const fs::path& output) {
  std::error_code error;
  if (!fs::exists(output, error)) throw CompressionError::missingOutput(output);
  if (!fileHasContainerSignature(output, expectedContainer(codec))) {
    throw CompressionError::unsupportedByTool(run.tool, noCodecDataMessage(run.tool, rawValue(codec)));
  }
}

EncodeStageResult encodeInto(const CodecPanel& panel, const PreparedCompressionSource& source,
                             const EngineContext& context, std::stop_token stopToken, EncodeStageResult stage) {
  const std::string baseName = encodedBaseName(source.sourceURL);
  stage.encodedURL = stage.workDirectory / (baseName + "." + std::string(encodedFileExtension(panel.codec)));
  stage.decodedURL = stage.workDirectory / (baseName + std::string(ToolContract::decodedFileSuffix));
  stage.encodeStartTime = std::chrono::system_clock::now();
  const auto start = SteadyClock::now();
  const EncodeFiles files{source, absolutePath(source.sourceURL), absolutePath(source.encoderInputURL(panel.codec)),
                          stage.encodedURL, stage.workDirectory};

  // A codec that cannot carry the source's HDR fails before anything runs, never as an SDR result.
  if (auto refusal = hdrRefusal(panel.codec, hdrTransferOf(source))) {
    const CodecInfo& info = codecInfo(panel.codec);
    throw CompressionError::unsupportedByTool(
        std::string(info.encoderTool.empty() ? info.displayName : info.encoderTool), std::move(*refusal));
  }
  ArgumentBuilder build = argumentBuilder(panel.codec);
  if (!build) {
    stage.commandLine = imageIOCommandLine(panel.codec, panel.quality);
    encodeWithImageIO(files.input, stage.encodedURL, panel.codec, panel.quality);
    stage.encodeDuration = secondsSince(start);
    std::error_code error;
    if (!fs::exists(stage.encodedURL, error)) throw CompressionError::missingOutput(stage.encodedURL);
    return stage;
  }
  EncoderRun run = build(panel, files, context);
  // The thread flag changes only the time, so the stored command leaves it out.
  stage.commandLine = settingsCommandLine(run.tool, run.arguments);
  context.runner.runTool(run.tool, context.withThreadFlag(run.tool, run.arguments, panel.codec), stopToken);
  stage.encodeDuration = secondsSince(start);
  checkEncodedOutput(run, panel.codec, stage.encodedURL);
  return stage;
}

}  // namespace

EncodeStageResult encodePanel(const CodecPanel& panel, const PreparedCompressionSource& source,
                              const EngineContext& context, std::stop_token stopToken) {
  throwIfCancelled(stopToken);
  EncodeStageResult stage;
  stage.workDirectory = createWorkDirectory(absolutePath(context.temporaryRoot));
  try {
    return encodeInto(panel, source, context, stopToken, stage);
  } catch (...) {
    std::error_code ignored;
    fs::remove_all(stage.workDirectory, ignored);
    throw;
  }
}

std::string settingsCommandLine(std::string_view tool, const std::vector<std::string>& arguments) {
  std::string text = quoteForDisplay(tool);
  for (const auto& argument : arguments) {
    if (argument.starts_with('/') || argument == "-o" || argument == "-outfile") continue;
    text += ' ';
    text += quoteForDisplay(argument);
  }
  return text;
}

std::string imageIOCommandLine(CompressionCodec codec, int quality) {
  return "ImageIO " + std::string(rawValue(codec)) + " quality=" + std::to_string(quality);
}

std::string encodedBaseName(const fs::path& sourceURL) {
  fs::path name = sourceURL.filename();
  return name.has_extension() ? name.stem().string() : name.string();
}

}  // namespace quorlin
