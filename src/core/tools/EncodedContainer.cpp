#include "core/tools/EncodedContainer.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <fstream>
#include <functional>
#include <optional>
#include <vector>

namespace quorlin {

namespace {

struct CodecContainer {
  CompressionCodec codec;
  EncodedContainer container;
};

constexpr std::array<CodecContainer, 10> codecContainers = {{
    {CompressionCodec::jpegXL, EncodedContainer::jpegXL},
    {CompressionCodec::avif, EncodedContainer::avif},
    {CompressionCodec::webP, EncodedContainer::webP},
    {CompressionCodec::jpegli, EncodedContainer::jpeg},
    {CompressionCodec::heifLibheif, EncodedContainer::heif},
    {CompressionCodec::avifLibheif, EncodedContainer::avif},
    {CompressionCodec::jpeg2000Libheif, EncodedContainer::jpeg2000},
    {CompressionCodec::heif, EncodedContainer::heif},
    {CompressionCodec::jpegTurbo, EncodedContainer::jpeg},
    {CompressionCodec::jpeg, EncodedContainer::jpeg},
}};

// Reads `length` bytes at `offset`; fewer (or none) at the end of the data.
using ByteReader = std::function<std::string(std::uint64_t offset, std::size_t length)>;

std::uint64_t bigEndian(std::string_view bytes) {
  std::uint64_t value = 0;
  for (char c : bytes) value = (value << 8) | static_cast<unsigned char>(c);
  return value;
}

struct Box {
  std::string type;
  std::uint64_t payloadOffset;
  std::uint64_t payloadSize;  // up to the end of the data for a size-0 (to end) box
};

// The box header at `offset` within [offset, end).
std::optional<Box> readBox(const ByteReader& read, std::uint64_t offset, std::uint64_t end) {
  if (end < offset + 8) return std::nullopt;
  std::string header = read(offset, 16);
  if (header.size() < 8) return std::nullopt;
  std::uint64_t size = bigEndian(std::string_view(header).substr(0, 4));
  std::uint64_t headerSize = 8;
  if (size == 1) {
    if (header.size() < 16) return std::nullopt;
    size = bigEndian(std::string_view(header).substr(8, 8));
    headerSize = 16;
  } else if (size == 0) {
    size = end - offset;
  }
  if (size < headerSize || offset + size > end) return std::nullopt;
  return Box{header.substr(4, 4), offset + headerSize, size - headerSize};
}

// The major and compatible brands of a leading "ftyp" box.
std::vector<std::string> brands(const ByteReader& read, std::uint64_t end) {
  auto ftyp = readBox(read, 0, end);
  if (!ftyp || ftyp->type != "ftyp" || ftyp->payloadSize < 8) return {};
  std::string payload = read(ftyp->payloadOffset, static_cast<std::size_t>(std::min<std::uint64_t>(ftyp->payloadSize, 4096)));
  std::vector<std::string> found = {payload.substr(0, 4)};
  for (std::size_t at = 8; at + 4 <= payload.size(); at += 4) found.push_back(payload.substr(at, 4));
  return found;
}

// Whether a child box of `type` exists under the path meta / iprp / ipco.
bool hasItemProperty(const ByteReader& read, std::uint64_t end, std::string_view type) {
  auto findChild = [&](std::uint64_t from, std::uint64_t to, std::string_view wanted) -> std::optional<Box> {
    for (std::uint64_t at = from; at < to;) {
      auto box = readBox(read, at, to);
      if (!box) return std::nullopt;
      if (box->type == wanted) return box;
      at = box->payloadOffset + box->payloadSize;
    }
    return std::nullopt;
  };
  auto meta = findChild(0, end, "meta");
  if (!meta || meta->payloadSize < 4) return false;
  // "meta" is a full box: four bytes of version and flags precede its children.
  auto iprp = findChild(meta->payloadOffset + 4, meta->payloadOffset + meta->payloadSize, "iprp");
  if (!iprp) return false;
  auto ipco = findChild(iprp->payloadOffset, iprp->payloadOffset + iprp->payloadSize, "ipco");
  if (!ipco) return false;
  return findChild(ipco->payloadOffset, ipco->payloadOffset + ipco->payloadSize, type).has_value();
}

bool matches(const ByteReader& read, std::uint64_t end, EncodedContainer container) {
  std::string head = read(0, 12);
  auto hasBrand = [&](std::initializer_list<std::string_view> wanted) {
    auto found = brands(read, end);
    return std::any_of(found.begin(), found.end(), [&](const std::string& brand) {
      return std::find(wanted.begin(), wanted.end(), brand) != wanted.end();
    });
  };
  switch (container) {
    case EncodedContainer::jpegXL:
      return head.starts_with("\xFF\x0A") || head == std::string_view("\x00\x00\x00\x0CJXL \x0D\x0A\x87\x0A", 12);
    case EncodedContainer::webP:
      return head.size() == 12 && head.starts_with("RIFF") && head.substr(8, 4) == "WEBP";
    case EncodedContainer::jpeg:
      return head.starts_with("\xFF\xD8\xFF");
    case EncodedContainer::avif:
      return hasBrand({"avif", "avis"});
    case EncodedContainer::heif:
      return hasBrand({"heic", "heix", "mif1"}) && hasItemProperty(read, end, "hvcC");
    case EncodedContainer::jpeg2000:
      return hasBrand({"j2ki"});
  }
  return false;
}

}  // namespace

EncodedContainer expectedContainer(CompressionCodec codec) {
  for (const auto& row : codecContainers) {
    if (row.codec == codec) return row.container;
  }
  return EncodedContainer::jpeg;  // unreachable: every codec has a row
}

bool hasContainerSignature(std::string_view bytes, EncodedContainer container) {
  ByteReader read = [bytes](std::uint64_t offset, std::size_t length) {
    if (offset >= bytes.size()) return std::string();
    return std::string(bytes.substr(static_cast<std::size_t>(offset), length));
  };
  return matches(read, bytes.size(), container);
}

bool fileHasContainerSignature(const std::filesystem::path& file, EncodedContainer container) {
  std::error_code error;
  auto size = std::filesystem::file_size(file, error);
  if (error) return false;
  std::ifstream stream(file, std::ios::binary);
  if (!stream) return false;
  ByteReader read = [&stream, size](std::uint64_t offset, std::size_t length) {
    if (offset >= size) return std::string();
    std::string chunk(static_cast<std::size_t>(std::min<std::uint64_t>(length, size - offset)), '\0');
    stream.clear();
    stream.seekg(static_cast<std::streamoff>(offset));
    stream.read(chunk.data(), static_cast<std::streamsize>(chunk.size()));
    chunk.resize(static_cast<std::size_t>(std::max<std::streamsize>(stream.gcount(), 0)));
    return chunk;
  };
  return matches(read, size, container);
}

std::string noCodecDataMessage(std::string_view encoderTool, std::string_view codecRawValue) {
  return std::string(encoderTool) + " wrote no " + std::string(codecRawValue) + " data.";
}

}  // namespace quorlin
