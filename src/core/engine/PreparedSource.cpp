#include "core/engine/PreparedSource.h"

#include <algorithm>
#include <system_error>

#include "core/common/CompressionError.h"
#include "core/common/TextEncoding.h"
#include "core/codecs/ContentTypes.h"
#include "core/engine/ImageDecoding.h"
#include "core/engine/PreparedPNGWriter.h"
#include "core/tools/TemporaryFiles.h"
#include "core/tools/ToolContract.h"

namespace quorlin {

namespace fs = std::filesystem;

namespace {

bool holdsPreparedPixels(const ImageFileHeader& header) {
  const vips::VImage& image = header.image;
  const int orientation = image.get_typeof(VIPS_META_ORIENTATION) ? image.get_int(VIPS_META_ORIENTATION) : 1;
  return orientation == 1 && decodesToOwnSamples(header);
}

PreparedCompressionSource prepareInto(const fs::path& sourceURL, const fs::path& directory,
                                      std::shared_ptr<const DecodedImage> decoded) {
  PreparedCompressionSource prepared;
  prepared.sourceURL = sourceURL;
  prepared.preparedURL = directory / ToolContract::preparedSourceFileName;
  prepared.temporaryDirectory = directory;
  std::optional<std::string> readerType;
  if (decoded) {
    if (auto header = readImageHeader(sourceURL)) {
      readerType = header->typeIdentifier;
      prepared.sourceHoldsPreparedPixels = holdsPreparedPixels(*header);
    }
    prepared.displayMetadata = writePreparedPNG(*decoded, prepared.preparedURL, sourceURL);
  } else if (ImageFileHeader header; auto streaming = planStreamingDecode(sourceURL, &header)) {
    // Most photographs: decoded while the PNG is written, never held whole.
    readerType = header.typeIdentifier;
    prepared.sourceHoldsPreparedPixels = holdsPreparedPixels(header);
    prepared.displayMetadata = writePreparedPNG(*streaming, prepared.preparedURL, sourceURL);
  } else {
    decoded = decodeImageFile(sourceURL, nullptr, &header);
    if (!decoded) throw CompressionError::unreadableImage(sourceURL, imageRejectionReason());
    readerType = header.typeIdentifier;
    prepared.sourceHoldsPreparedPixels = holdsPreparedPixels(header);
    prepared.displayMetadata = writePreparedPNG(*decoded, prepared.preparedURL, sourceURL);
  }
  if (readerType) {
    prepared.sourceContentType = readerType;
  } else if (auto byExtension = contentTypeForFile(sourceURL)) {
    prepared.sourceContentType = std::string(*byExtension);
  }
  return prepared;
}

}  // namespace

PreparedCompressionSource prepareSource(const fs::path& sourceURL, const fs::path& temporaryRoot) {
  return prepareSource(sourceURL, temporaryRoot, nullptr);
}

PreparedCompressionSource prepareSource(const fs::path& sourceURL, const fs::path& temporaryRoot,
                                        std::shared_ptr<const DecodedImage> decodedSource) {
  fs::path directory = createWorkDirectory(temporaryRoot);
  try {
    return prepareInto(sourceURL, directory, std::move(decodedSource));
  } catch (...) {
    std::error_code ignored;
    fs::remove_all(directory, ignored);
    throw;
  }
}

namespace {

// heif-enc takes a JPEG's YCbCr planes as they are instead of the RGB pixels
// every other reader decodes (measured: its lossless encode of a JPEG scores
// 86.9 against the JPEG's pixels, of the same pixels as PNG 93.8).
bool readsJPEGAsOtherPixels(CompressionCodec codec) {
  return codec == CompressionCodec::heifLibheif || codec == CompressionCodec::avifLibheif ||
         codec == CompressionCodec::jpeg2000Libheif;
}

bool isJPEG(const PreparedCompressionSource& source) {
  if (source.sourceContentType) return contentTypeConforms(*source.sourceContentType, ContentTypeIdentifier::jpeg);
  std::string extension = asciiLowercased(source.sourceURL.extension().string());
  return extension == ".jpg" || extension == ".jpeg";
}

}  // namespace

fs::path PreparedCompressionSource::encoderInputURL(CompressionCodec codec) const {
  if (usesPlatformEncoder(codec) || !sourceHoldsPreparedPixels) return preparedURL;
  if (readsJPEGAsOtherPixels(codec) && isJPEG(*this)) return preparedURL;
  std::string extension = sourceURL.extension().string();
  if (!extension.empty()) extension.erase(0, 1);
  extension = asciiLowercased(extension);
  auto extensions = directInputExtensions(codec);
  if (std::find(extensions.begin(), extensions.end(), extension) != extensions.end()) return sourceURL;
  if (sourceContentType) {
    for (std::string_view type : directInputContentTypes(codec)) {
      if (contentTypeConforms(*sourceContentType, type)) return sourceURL;
    }
  }
  return preparedURL;
}

ColorSpaceRef PreparedCompressionSource::preparedProfile() const {
  const ColorSpaceRef& space = displayMetadata.colorSpace;
  if (!space || isPlainSRGB(space) || space->iccProfile().empty()) return nullptr;
  return space;
}

void PreparedCompressionSource::removeTemporaryDirectory() const {
  if (temporaryDirectory.empty()) return;
  std::error_code ignored;
  fs::remove_all(temporaryDirectory, ignored);
}

}  // namespace quorlin
