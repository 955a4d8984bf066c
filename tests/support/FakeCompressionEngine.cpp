#include "support/FakeCompressionEngine.h"

#include <fstream>
#include <sstream>

#include "core/common/Cancellation.h"
#include "core/tools/TemporaryFiles.h"
#include "support/TestSupport.h"

namespace quorlin::test {

namespace fs = std::filesystem;

namespace {

struct FakeImage {
  int width = 0, height = 0;
  bool hasAlpha = false;
};

std::optional<FakeImage> readFakeImage(const fs::path& file) {
  std::ifstream stream(file);
  std::string fake, image, extra;
  FakeImage picture;
  if (!(stream >> fake >> image >> picture.width >> picture.height) || fake != "fake" || image != "image" ||
      picture.width <= 0 || picture.height <= 0) {
    return std::nullopt;
  }
  picture.hasAlpha = (stream >> extra) && extra == "alpha";
  return picture;
}

DisplayImage makeDisplayImage(const FakeImage& picture) {
  const int channels = picture.hasAlpha ? 4 : 3;
  std::vector<std::byte> samples(static_cast<std::size_t>(picture.width * picture.height * channels), std::byte{128});
  auto image = std::make_shared<const DecodedImage>(picture.width, picture.height, channels, SampleFormat::uint8,
                                                    std::move(samples), nullptr);
  return DisplayImage{image, PixelSize{double(picture.width), double(picture.height)}, std::nullopt};
}

}  // namespace

FakeCompressionEngine::FakeCompressionEngine(fs::path temporaryRoot, std::shared_ptr<MainThreadDispatcher> dispatcher)
    : root_(std::move(temporaryRoot)), dispatcher_(std::move(dispatcher)) {}

void FakeCompressionEngine::writeFakeImage(const fs::path& file, int width, int height, bool hasAlpha) {
  std::ostringstream text;
  text << "fake image " << width << ' ' << height << (hasAlpha ? " alpha" : "") << '\n';
  writeTextFile(file, text.str());
}

void FakeCompressionEngine::wake() const { dispatcher_->post([] {}); }

std::optional<DisplayImage> FakeCompressionEngine::readDisplayImage(const fs::path& file, const ColorSpaceRef&,
                                                                    std::optional<double>) {
  auto picture = readFakeImage(file);
  return picture ? std::optional(makeDisplayImage(*picture)) : std::nullopt;
}

SourceImageMetadata FakeCompressionEngine::readSourceImageMetadata(const fs::path& file, PixelSize fallbackSize) {
  SourceImageMetadata metadata;
  auto picture = readFakeImage(file);
  metadata.pixelWidth = picture ? picture->width : static_cast<int>(fallbackSize.width);
  metadata.pixelHeight = picture ? picture->height : static_cast<int>(fallbackSize.height);
  metadata.hasAlpha = picture && picture->hasAlpha;
  const auto extension = file.extension().string();
  metadata.isJPEG = extension == ".jpg" || extension == ".jpeg";
  return metadata;
}

PreparedCompressionSource FakeCompressionEngine::prepareSource(const fs::path& source,
                                                               std::shared_ptr<const DecodedImage> decodedSource) {
  if (auto error = locked([&] { return ++preparationCount_, lastDecodedSource_ = decodedSource, preparationError_; })) {
    wake();
    throw *error;
  }
  if (!decodedSource && !readFakeImage(source)) throw CompressionError::unreadableImage(source);
  PreparedCompressionSource prepared;
  prepared.sourceURL = source;
  prepared.temporaryDirectory = createWorkDirectory(root_);
  prepared.preparedURL = prepared.temporaryDirectory / "source.png";
  writeTextFile(prepared.preparedURL, "prepared");
  locked([&] { preparedDirectories_.push_back(prepared.temporaryDirectory); });
  wake();
  return prepared;
}

CompressionResult FakeCompressionEngine::runPanel(const CodecPanel& panel, const PreparedCompressionSource& source,
                                                  std::stop_token stopToken) {
  std::unique_lock lock(mutex_);
  const int number = nextRun_++;
  State& state = runs_[number];
  state.run = Run{number, panel, source.temporaryDirectory};
  state.stopToken = stopToken;
  if (isShutDown_ || (honoursCancellation_ && stopToken.stop_requested())) state.ending = Ending::cancelled;
  lock.unlock();
  // A stop marks the run cancelled at once (under the lock), so a test never
  // sees as waiting a run that is about to end.
  std::stop_callback onStop(stopToken, [this, &state] {
    {
      std::lock_guard touch(mutex_);
      if (honoursCancellation_ && state.ending == Ending::none) state.ending = Ending::cancelled;
    }
    changed_.notify_all();
  });
  wake();
  lock.lock();
  changed_.wait(lock, [&] { return state.ending != Ending::none; });
  const State ended = state;
  lock.unlock();
  wake();
  if (ended.ending == Ending::cancelled) throw CancellationError();
  if (ended.ending == Ending::failed) throw *ended.error;
  CompressionResult result;
  result.id = Uuid::random();
  result.codec = panel.codec;
  result.workDirectory = createWorkDirectory(root_);
  result.encodedURL = result.workDirectory / ("encoded." + std::string(encodedFileExtension(panel.codec)));
  writeTextFile(result.encodedURL, std::string(static_cast<std::size_t>(ended.encodedSize), 'x'));
  result.decodedURL = result.workDirectory / "encoded-decoded.png";
  writeFakeImage(result.decodedURL, 2, 2);
  result.encodedSize = ended.encodedSize;
  result.decodedImage = makeDisplayImage(FakeImage{2, 2, false});
  result.ssimulacra2Score = ended.score;
  result.settingsSignature = panel.settingsSignature();
  return result;
}

std::string FakeCompressionEngine::readExifToolMetadata(const fs::path&, std::stop_token) {
  std::lock_guard lock(mutex_);
  if (exifToolError_) throw *exifToolError_;
  return exifToolOutput_;
}

std::vector<FakeCompressionEngine::Run> FakeCompressionEngine::waitingRuns() const {
  std::lock_guard lock(mutex_);
  std::vector<Run> waiting;
  for (const auto& [number, state] : runs_) {
    if (state.ending == Ending::none) waiting.push_back(state.run);
  }
  return waiting;
}

void FakeCompressionEngine::resolve(int number, Ending ending, double score, std::int64_t size,
                                    std::optional<CompressionError> error) {
  {
    std::lock_guard lock(mutex_);
    auto found = runs_.find(number);
    if (found == runs_.end() || found->second.ending != Ending::none) {
      throw std::logic_error("run " + std::to_string(number) + " is not waiting");
    }
    found->second.ending = ending;
    found->second.score = score;
    found->second.encodedSize = size;
    found->second.error = std::move(error);
  }
  changed_.notify_all();
}

void FakeCompressionEngine::finishRun(int number, double score, std::int64_t encodedSize) {
  resolve(number, Ending::finished, score, encodedSize, std::nullopt);
}
void FakeCompressionEngine::failRun(int number, const CompressionError& error) {
  resolve(number, Ending::failed, 0, 0, error);
}

void FakeCompressionEngine::shutDown() {
  locked([&] {
    isShutDown_ = true;
    for (auto& [number, state] : runs_) state.ending = state.ending == Ending::none ? Ending::cancelled : state.ending;
  });
  changed_.notify_all();
}

void FakeCompressionEngine::setHonoursCancellation(bool honours) {
  locked([&] {
    honoursCancellation_ = honours;
    for (auto& [number, state] : runs_) {
      if (honours && state.ending == Ending::none && state.stopToken.stop_requested()) state.ending = Ending::cancelled;
    }
  });
  changed_.notify_all();
}

int FakeCompressionEngine::startedRunCount() const { return locked([&] { return nextRun_ - 1; }); }
void FakeCompressionEngine::setPreparationError(std::optional<CompressionError> error) {
  locked([&] { preparationError_ = std::move(error); });
}
int FakeCompressionEngine::preparationCount() const { return locked([&] { return preparationCount_; }); }
std::vector<fs::path> FakeCompressionEngine::preparedDirectories() const {
  return locked([&] { return preparedDirectories_; });
}
std::shared_ptr<const DecodedImage> FakeCompressionEngine::lastDecodedSource() const {
  return locked([&] { return lastDecodedSource_; });
}
void FakeCompressionEngine::setExifToolOutput(std::string output) {
  locked([&] { exifToolOutput_ = std::move(output); });
}
void FakeCompressionEngine::setExifToolError(std::optional<CompressionError> error) {
  locked([&] { exifToolError_ = std::move(error); });
}

}  // namespace quorlin::test
