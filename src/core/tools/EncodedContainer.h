// The guard against false success: after an encoder exits 0, its output must
// start like the codec's container, otherwise the run fails with
// "ENCODER wrote no CODEC data." An older heif-enc, for example, ignores
// --jpeg2000 and happily writes HEVC.
//
// Signatures, one row per container:
//   JPEG XL    codestream FF 0A, or the container's first box "JXL " (00 00 00 0C 'JXL ' 0D 0A 87 0A)
//   WebP       "RIFF", four size bytes, "WEBP"
//   JPEG       FF D8 FF
//   AVIF       ISO-BMFF "ftyp" whose major or compatible brands include avif or avis
//   HEIF       ISO-BMFF "ftyp" with brand heic, heix or mif1, and an HEVC configuration
//              ("hvcC") among the item properties (meta/iprp/ipco)
//   JPEG 2000  ISO-BMFF "ftyp" with brand j2ki
// Pure functions (the file variant reads the file), thread-safe.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

#include "core/codecs/CodecCatalog.h"

namespace quorlin {

enum class EncodedContainer { jpegXL, webP, jpeg, avif, heif, jpeg2000 };

// The container every encoded file of `codec` must have.
EncodedContainer expectedContainer(CompressionCodec codec);

// Whether `bytes` (the file's contents, or at least its beginning) start like
// `container`. For HEIF the item properties must lie within `bytes`.
bool hasContainerSignature(std::string_view bytes, EncodedContainer container);

// The same for a file on disk (it walks the top-level boxes with seeks, so a
// large media box before the metadata does not matter). False when the file
// cannot be read.
bool fileHasContainerSignature(const std::filesystem::path& file, EncodedContainer container);

// "ENCODER wrote no CODEC data.", e.g. "heif-enc wrote no JPEG 2000 data."
std::string noCodecDataMessage(std::string_view encoderTool, std::string_view codecRawValue);

}  // namespace quorlin
