#include "core/codecs/ContentTypes.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <fstream>

#include "core/common/TextEncoding.h"

namespace quorlin {

namespace {

namespace id = ContentTypeIdentifier;

// Storage for the spans of the table below.
constexpr std::string_view noNames[] = {""};
constexpr std::string_view dataParent[] = {id::data};
constexpr std::string_view imageParents[] = {id::image, id::data};
constexpr std::string_view heicParents[] = {id::heif, id::image, id::data};
constexpr std::string_view pnmParents[] = {id::pnm, id::image, id::data};

constexpr std::string_view pngExtensions[] = {"png"};
constexpr std::string_view jpegExtensions[] = {"jpg", "jpeg", "jpe", "jfif"};
constexpr std::string_view tiffExtensions[] = {"tif", "tiff"};
constexpr std::string_view gifExtensions[] = {"gif"};
constexpr std::string_view bmpExtensions[] = {"bmp", "dib"};
constexpr std::string_view webPExtensions[] = {"webp"};
constexpr std::string_view heicExtensions[] = {"heic"};
constexpr std::string_view heifExtensions[] = {"heif", "hif"};
constexpr std::string_view avifExtensions[] = {"avif"};
constexpr std::string_view jpegXLExtensions[] = {"jxl"};
constexpr std::string_view jpeg2000Extensions[] = {"jp2", "j2k", "jpf", "jpx", "j2c"};
constexpr std::string_view pnmExtensions[] = {"pnm"};
constexpr std::string_view pbmExtensions[] = {"pbm"};
constexpr std::string_view pgmExtensions[] = {"pgm"};
constexpr std::string_view ppmExtensions[] = {"ppm"};
constexpr std::string_view pamExtensions[] = {"pam"};
constexpr std::string_view pfmExtensions[] = {"pfm"};
constexpr std::string_view targaExtensions[] = {"tga", "targa"};
constexpr std::string_view openEXRExtensions[] = {"exr"};
constexpr std::string_view radianceExtensions[] = {"hdr"};
constexpr std::string_view svgExtensions[] = {"svg"};
constexpr std::string_view pdfExtensions[] = {"pdf"};

constexpr std::span<const std::string_view> none(noNames, 0);

const ContentTypeInfo table[] = {
    {id::png, "PNG image", pngExtensions, imageParents},
    {id::jpeg, "JPEG image", jpegExtensions, imageParents},
    {id::tiff, "TIFF image", tiffExtensions, imageParents},
    {id::gif, "GIF image", gifExtensions, imageParents},
    {id::bmp, "Windows bitmap image", bmpExtensions, imageParents},
    {id::webP, "WebP image", webPExtensions, imageParents},
    {id::heic, "HEIC image", heicExtensions, heicParents},
    {id::heif, "HEIF image", heifExtensions, imageParents},
    {id::avif, "AVIF image", avifExtensions, imageParents},
    {id::jpegXL, "JPEG XL image", jpegXLExtensions, imageParents},
    {id::jpeg2000, "JPEG 2000 image", jpeg2000Extensions, imageParents},
    {id::pbm, "PBM image", pbmExtensions, pnmParents},
    {id::pgm, "PGM image", pgmExtensions, pnmParents},
    {id::ppm, "PPM image", ppmExtensions, pnmParents},
    {id::pam, "PAM image", pamExtensions, pnmParents},
    {id::pnm, "PNM image", pnmExtensions, imageParents},
    {id::pfm, "PFM image", pfmExtensions, imageParents},
    {id::targa, "Targa image", targaExtensions, imageParents},
    {id::openEXR, "OpenEXR image", openEXRExtensions, imageParents},
    {id::radiance, "Radiance HDR image", radianceExtensions, imageParents},
    {id::svg, "SVG image", svgExtensions, imageParents},
    {id::pdf, "PDF document", pdfExtensions, dataParent},
    {id::image, "image", none, dataParent},
    {id::data, "data", none, none},
};

bool startsWith(std::span<const std::uint8_t> bytes, std::string_view prefix, std::size_t offset = 0) {
  if (bytes.size() < offset + prefix.size()) return false;
  return std::memcmp(bytes.data() + offset, prefix.data(), prefix.size()) == 0;
}

// ISO base media files (HEIF, HEIC, AVIF, JPEG 2000 in HEIF) name their kind
// in the leading "ftyp" box: a major brand and a list of compatible brands.
std::optional<std::string_view> isoMediaType(std::span<const std::uint8_t> bytes) {
  if (!startsWith(bytes, "ftyp", 4) || bytes.size() < 12) return std::nullopt;
  std::uint32_t boxSize = (std::uint32_t{bytes[0]} << 24) | (std::uint32_t{bytes[1]} << 16) |
                          (std::uint32_t{bytes[2]} << 8) | std::uint32_t{bytes[3]};
  std::size_t end = std::min<std::size_t>(bytes.size(), boxSize < 16 ? 12 : boxSize);
  auto brandAt = [&](std::size_t offset) {
    return std::string_view(reinterpret_cast<const char*>(bytes.data() + offset), 4);
  };
  bool hasAVIF = false, hasHEIC = false, hasHEIF = false;
  auto classify = [&](std::string_view brand) {
    if (brand == "avif" || brand == "avis") hasAVIF = true;
    if (brand == "heic" || brand == "heix" || brand == "heim" || brand == "heis" || brand == "hevc" ||
        brand == "hevx")
      hasHEIC = true;
    if (brand == "mif1" || brand == "msf1" || brand == "j2ki" || brand == "miaf") hasHEIF = true;
  };
  std::string_view major = brandAt(8);
  classify(major);
  // The major brand decides when it is specific; compatible brands otherwise.
  if (hasAVIF) return id::avif;
  if (hasHEIC) return id::heic;
  for (std::size_t offset = 16; offset + 4 <= end; offset += 4) classify(brandAt(offset));
  if (hasAVIF) return id::avif;
  if (hasHEIC) return id::heic;
  if (hasHEIF) return id::heif;
  return std::nullopt;
}

}  // namespace

std::span<const ContentTypeInfo> allContentTypes() { return table; }

const ContentTypeInfo* contentTypeInfo(std::string_view identifier) {
  for (const auto& info : table) {
    if (info.identifier == identifier) return &info;
  }
  return nullptr;
}

bool contentTypeConforms(std::string_view type, std::string_view parent) {
  if (type == parent) return true;
  const ContentTypeInfo* info = contentTypeInfo(type);
  if (!info) return false;
  return std::any_of(info->parents.begin(), info->parents.end(),
                     [&](std::string_view direct) { return contentTypeConforms(direct, parent); });
}

std::optional<std::string_view> contentTypeForExtension(std::string_view extension) {
  if (!extension.empty() && extension.front() == '.') extension.remove_prefix(1);
  if (extension.empty()) return std::nullopt;
  for (const auto& info : table) {
    for (std::string_view candidate : info.extensions) {
      if (equalsIgnoringASCIICase(candidate, extension) && contentTypeConforms(info.identifier, id::data)) {
        return info.identifier;
      }
    }
  }
  return std::nullopt;
}

std::optional<std::string_view> contentTypeForFile(const std::filesystem::path& file) {
  return contentTypeForExtension(file.extension().string());
}

std::optional<std::string_view> localizedDescription(std::string_view identifier) {
  const ContentTypeInfo* info = contentTypeInfo(identifier);
  if (!info || info->description.empty()) return std::nullopt;
  return info->description;
}

std::optional<std::string_view> detectContentType(std::span<const std::uint8_t> bytes) {
  static constexpr std::uint8_t pngSignature[] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
  static constexpr std::uint8_t jxlContainer[] = {0, 0, 0, 0x0C, 'J', 'X', 'L', ' ', 0x0D, 0x0A, 0x87, 0x0A};
  static constexpr std::uint8_t jp2Container[] = {0, 0, 0, 0x0C, 'j', 'P', ' ', ' ', 0x0D, 0x0A, 0x87, 0x0A};
  auto hasPrefix = [&](std::span<const std::uint8_t> signature) {
    return bytes.size() >= signature.size() && std::equal(signature.begin(), signature.end(), bytes.begin());
  };
  auto hasBytes = [&](std::initializer_list<std::uint8_t> signature) {
    return hasPrefix(std::span<const std::uint8_t>(signature.begin(), signature.size()));
  };
  if (hasPrefix(pngSignature)) return id::png;
  if (hasBytes({0xFF, 0xD8, 0xFF})) return id::jpeg;
  // Classic and big TIFF, either byte order.
  for (std::string_view signature : {std::string_view("II*\0", 4), std::string_view("MM\0*", 4),
                                     std::string_view("II+\0", 4), std::string_view("MM\0+", 4)}) {
    if (startsWith(bytes, signature)) return id::tiff;
  }
  if (startsWith(bytes, "GIF87a") || startsWith(bytes, "GIF89a")) return id::gif;
  if (startsWith(bytes, "RIFF") && startsWith(bytes, "WEBP", 8)) return id::webP;
  if (hasBytes({0xFF, 0x0A}) || hasPrefix(jxlContainer)) return id::jpegXL;
  if (hasPrefix(jp2Container) || hasBytes({0xFF, 0x4F, 0xFF, 0x51})) return id::jpeg2000;
  if (auto iso = isoMediaType(bytes)) return iso;
  if (hasBytes({0x76, 0x2F, 0x31, 0x01})) return id::openEXR;
  if (startsWith(bytes, "#?RADIANCE") || startsWith(bytes, "#?RGBE")) return id::radiance;
  if (startsWith(bytes, "%PDF-")) return id::pdf;
  if (bytes.size() >= 3 && bytes[0] == 'P' &&
      (bytes[2] == '\n' || bytes[2] == '\r' || bytes[2] == ' ' || bytes[2] == '\t')) {
    switch (bytes[1]) {
      case '1':
      case '4':
        return id::pbm;
      case '2':
      case '5':
        return id::pgm;
      case '3':
      case '6':
        return id::ppm;
      case '7':
        return id::pam;
      case 'f':
      case 'F':
        return id::pfm;
      default:
        break;
    }
  }
  // BMP last: "BM" alone is a weak signature, so also require the reserved zeros.
  if (startsWith(bytes, "BM") && bytes.size() >= 10 && bytes[6] == 0 && bytes[7] == 0 && bytes[8] == 0 &&
      bytes[9] == 0)
    return id::bmp;
  return std::nullopt;
}

std::optional<std::string_view> detectContentType(const std::filesystem::path& file) {
  std::ifstream stream(file, std::ios::binary);
  if (!stream) return std::nullopt;
  std::array<std::uint8_t, 64> buffer{};
  stream.read(reinterpret_cast<char*>(buffer.data()), buffer.size());
  auto count = static_cast<std::size_t>(std::max<std::streamsize>(stream.gcount(), 0));
  return detectContentType(std::span<const std::uint8_t>(buffer.data(), count));
}

std::optional<std::string_view> contentTypeForLoader(std::string_view loader, std::string_view heifCompression) {
  // "pngload_source", "pngload_buffer" and "pngload" name the same format.
  for (std::string_view suffix : {std::string_view("_source"), std::string_view("_buffer")}) {
    if (loader.ends_with(suffix)) loader.remove_suffix(suffix.size());
  }
  struct LoaderType {
    std::string_view loader;
    std::string_view type;
  };
  static constexpr LoaderType loaders[] = {
      {"pngload", id::png},       {"jpegload", id::jpeg},        {"tiffload", id::tiff},
      {"gifload", id::gif},       {"webpload", id::webP},        {"jxlload", id::jpegXL},
      {"jp2kload", id::jpeg2000}, {"openexrload", id::openEXR}, {"radload", id::radiance},
      {"svgload", id::svg},       {"pdfload", id::pdf},          {"ppmload", id::pnm},
  };
  if (loader == "heifload") {
    if (heifCompression == "hevc") return id::heic;
    if (heifCompression == "av1") return id::avif;
    return id::heif;
  }
  for (const auto& entry : loaders) {
    if (entry.loader == loader) return entry.type;
  }
  return std::nullopt;
}

}  // namespace quorlin
