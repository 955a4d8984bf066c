#include <gtest/gtest.h>


#include "core/codecs/CodecCatalog.h"
#include "core/codecs/ContentTypes.h"
#include "core/engine/SourceMetadata.h"
#include "support/TestImages.h"
#include "support/TestSupport.h"

namespace quorlin {
namespace {

namespace id = ContentTypeIdentifier;

using C = CompressionCodec;
using V = std::vector<std::string>;

// The catalog as the product defines it, written out independently of the code.
struct ExpectedRow {
  C codec;
  const char *rawValue, *displayName, *encoder, *decoder, *modeFlag, *extension, *exportType;
  V extensions, contentTypes;
};
const V jxlInputs{"jxl", "ppm", "pnm", "pfm", "pam", "pgx", "png", "apng", "gif", "jpg", "jpeg", "exr"};
const V heifInputs{"jpg", "jpeg", "png", "tif", "tiff", "y4m"};
const V heifTypes{"public.jpeg", "public.png", "public.tiff"};
const V jxlTypes{"public.png", "com.compuserve.gif", "public.jpeg"};
const ExpectedRow expectedRows[] = {
    {C::jpegXL, "JPEG XL", "JPEG XL", "cjxl", "djxl", "", "jxl", "public.jpeg-xl", jxlInputs, jxlTypes},
    {C::avif, "AVIF", "AVIF", "avifenc", "avifdec", "", "avif", "public.avif", {"jpg", "jpeg", "png", "y4m"},
     {"public.jpeg", "public.png"}},
    {C::webP, "WebP", "WebP", "cwebp", "dwebp", "", "webp", "org.webmproject.webp",
     {"webp", "jpg", "jpeg", "png", "pnm", "pgm", "ppm", "pam", "tif", "tiff"},
     {"org.webmproject.webp", "public.jpeg", "public.png", "public.tiff"}},
    {C::jpegli, "JPEGli", "JPEGli", "cjpegli", "djpegli", "", "jpg", "public.jpeg", jxlInputs, jxlTypes},
    {C::heifLibheif, "HEIF (libheif)", "HEIF (libheif)", "heif-enc", "heif-dec", "--hevc", "heic", "public.heic",
     heifInputs, heifTypes},
    {C::avifLibheif, "AVIF (libheif)", "AVIF (libheif)", "heif-enc", "heif-dec", "--avif", "avif", "public.avif",
     heifInputs, heifTypes},
    {C::jpeg2000Libheif, "JPEG 2000 (libheif)", "JPEG 2000 (libheif)", "heif-enc", "heif-dec", "--jpeg2000", "hej2",
     "public.data", heifInputs, heifTypes},
    {C::heif, "HEIF", "HEIF (System)", "", "", "", "heic", "public.heic", {}, {}},
    {C::jpegTurbo, "JPEG (libjpeg-turbo)", "JPEG (libjpeg-turbo)", "cjpeg", "", "", "jpg", "public.jpeg",
     {"png", "ppm", "pgm", "bmp", "gif", "tga", "targa"}, {"public.png", "com.compuserve.gif", "com.microsoft.bmp"}},
    {C::jpeg, "JPEG", "JPEG (System)", "", "", "", "jpg", "public.jpeg", {}, {}},
};

V texts(std::span<const std::string_view> values) { return V(values.begin(), values.end()); }

TEST(CodecCatalogTest, ListsTheTenCodecsInCaseOrderWithTheirTableFacts) {
  auto codecs = allCompressionCodecs();
  ASSERT_EQ(codecs.size(), std::size(expectedRows));
  for (std::size_t i = 0; i < codecs.size(); ++i) {
    const ExpectedRow& row = expectedRows[i];
    SCOPED_TRACE(row.rawValue);
    const CodecInfo& info = codecInfo(row.codec);
    EXPECT_TRUE(codecs[i] == row.codec && info.codec == row.codec);
    using S = std::vector<std::string_view>;
    EXPECT_EQ((S{rawValue(row.codec), displayName(row.codec), info.encoderTool, info.decoderTool, info.encoderModeFlag,
                 encodedFileExtension(row.codec), exportContentType(row.codec)}),
              (S{row.rawValue, row.displayName, row.encoder, row.decoder, row.modeFlag, row.extension, row.exportType}));
    EXPECT_EQ(texts(directInputExtensions(row.codec)), row.extensions);
    EXPECT_EQ(texts(directInputContentTypes(row.codec)), row.contentTypes);
    EXPECT_EQ(usesPlatformEncoder(row.codec), row.codec == C::heif || row.codec == C::jpeg);
    EXPECT_EQ(info.rateParameter, row.codec == C::jpegXL || row.codec == C::jpegli ? RateParameterKind::distance
                                                                                   : RateParameterKind::quality);
    // Raw values round-trip; display names are not raw values.
    EXPECT_EQ(compressionCodecFromRawValue(row.rawValue), row.codec);
  }
  for (const char* other : {"HEIF (System)", "JPEG (System)", "jpeg xl", "JPEG XL ", ""}) {
    EXPECT_EQ(compressionCodecFromRawValue(other), std::nullopt) << other;
  }
}

template <typename Enum>
V rawValuesOf(std::span<const Enum> cases) {
  V values;
  for (Enum value : cases) {
    values.emplace_back(rawValue(value));
    EXPECT_EQ(fromRawValue<Enum>(rawValue(value)), value);
  }
  return values;
}

TEST(CodecCatalogTest, OptionEnumerationsListTheirCasesInOrderAndRoundTripExactly) {
  EXPECT_EQ(rawValuesOf(allChromaSubsamplings()), (V{"Auto", "444", "440", "422", "420"}));
  EXPECT_EQ(rawValuesOf(explicitChromaSubsamplings()), (V{"444", "440", "422", "420"}));
  EXPECT_EQ(rawValuesOf(allAVIFChromaSubsamplings()), (V{"Auto", "444", "422", "420"}));
  EXPECT_EQ(rawValuesOf(allAVIFDepths()), (V{"-", "8", "10", "12"}));
  EXPECT_EQ(rawValuesOf(allHEIFDepths()), (V{"-", "8", "10", "12"}));
  EXPECT_EQ(rawValuesOf(allJPEGXLGroupOrders()), (V{"Scanline", "Center"}));
  EXPECT_EQ(rawValue(RateControlMode::manual), "manual");
  EXPECT_EQ(fromRawValue<RateControlMode>("targetScore"), RateControlMode::targetScore);
  // AVIF has no 4:4:0, and raw values are matched exactly.
  EXPECT_FALSE(fromRawValue<AVIFChromaSubsampling>("440") || fromRawValue<ChromaSubsampling>("auto") ||
               fromRawValue<JPEGXLGroupOrder>("centerFirst") || fromRawValue<RateControlMode>("target"));
}

TEST(ContentTypesTest, ConformanceFollowsTheHierarchyAndDescriptionsComeFromTheTable) {
  for (const auto& info : allContentTypes()) {
    SCOPED_TRACE(std::string(info.identifier));
    EXPECT_TRUE(contentTypeConforms(info.identifier, info.identifier));
    EXPECT_TRUE(contentTypeConforms(info.identifier, id::data));
    EXPECT_EQ(contentTypeConforms(info.identifier, id::image), info.identifier != id::data && info.identifier != id::pdf);
    EXPECT_EQ(localizedDescription(info.identifier), info.description);
    EXPECT_FALSE(info.description.empty());
  }
  // Unknown identifiers conform only to themselves and have no description.
  EXPECT_TRUE(contentTypeConforms(id::heic, id::heif) && contentTypeConforms(id::ppm, id::pnm) &&
              contentTypeConforms("com.example.raw", "com.example.raw"));
  EXPECT_FALSE(contentTypeConforms(id::heif, id::heic) || contentTypeConforms(id::avif, id::heif) ||
               contentTypeConforms(id::png, id::jpeg) || contentTypeConforms("com.example.raw", id::data));
  EXPECT_EQ(std::pair(localizedDescription("com.example.raw"), localizedDescription(id::jpegXL)),
            std::pair(std::optional<std::string_view>(), std::optional<std::string_view>("JPEG XL image")));
}

TEST(ContentTypesTest, ExtensionsIgnoringCaseAndLoaderNamesMapToTypes) {
  using T = std::optional<std::string_view>;
  const std::pair<const char*, T> extensions[] = {
      {"png", id::png},   {"JPG", id::jpeg},  {"Jpeg", id::jpeg},     {".tif", id::tiff}, {"TIFF", id::tiff},
      {"heic", id::heic}, {"hif", id::heif},  {"jxl", id::jpegXL},    {"tga", id::targa}, {"exr", id::openEXR},
      {"hej2", {}},       {"", {}},           {"txt", {}}};
  for (const auto& [extension, type] : extensions) EXPECT_EQ(contentTypeForExtension(extension), type) << extension;
  EXPECT_EQ(std::pair(contentTypeForFile("/photos/Holiday.Final.PNG"), contentTypeForFile("/photos/noextension")), std::pair(T(id::png), T()));
  const std::tuple<const char*, const char*, T> loaders[] = {
      {"pngload", "", id::png},           {"pngload_source", "", id::png},     {"jpegload_buffer", "", id::jpeg},
      {"tiffload", "", id::tiff},         {"webpload_source", "", id::webP},   {"jxlload", "", id::jpegXL},
      {"jp2kload", "", id::jpeg2000},     {"openexrload", "", id::openEXR},    {"gifload", "", id::gif},
      {"ppmload", "", id::pnm},           {"heifload", "hevc", id::heic},      {"heifload_source", "av1", id::avif},
      {"heifload", "jpeg", id::heif},     {"magickload", "", {}},              {"", "", {}}};
  for (const auto& [loader, compression, type] : loaders) EXPECT_EQ(contentTypeForLoader(loader, compression), type) << loader;
}

std::vector<std::uint8_t> bytes(std::string_view text) { return std::vector<std::uint8_t>(text.begin(), text.end()); }

TEST(ContentTypesTest, FirstBytesNameTheFormat) {
  using namespace std::string_view_literals;
  struct Case {
    std::string_view head;
    std::optional<std::string_view> type;
  };
  const Case cases[] = {
      {"\x89PNG\r\n\x1a\n\0\0\0\x0dIHDR"sv, id::png}, {"\xff\xd8\xff\xe0\0\x10JFIF"sv, id::jpeg},
      {"II*\0\x08\0\0\0"sv, id::tiff}, {"MM\0*\0\0\0\x08"sv, id::tiff},
      {"GIF89a\x01\0"sv, id::gif}, {"RIFF\x24\0\0\0WEBPVP8 "sv, id::webP},
      {"\xff\x0a\xfa"sv, id::jpegXL}, {"\0\0\0\x0cJXL \r\n\x87\n"sv, id::jpegXL},
      {"\0\0\0\x0cjP  \r\n\x87\n"sv, id::jpeg2000}, {"\0\0\0\x18" "ftypheic\0\0\0\0mif1heic"sv, id::heic},
      {"\0\0\0\x1c" "ftypavif\0\0\0\0avifmif1miaf"sv, id::avif},
      // A generic major brand: the compatible brands decide.
      {"\0\0\0\x18" "ftypmif1\0\0\0\0mif1avif"sv, id::avif}, {"\0\0\0\x14" "ftypmif1\0\0\0\0mif1"sv, id::heif},
      {"\0\0\0\x14" "ftypisom\0\0\0\0mp41"sv, std::nullopt}, {"P6\n3 2\n255\n"sv, id::ppm},
      {"P5 3 2 255\n"sv, id::pgm}, {"P4\n"sv, id::pbm},
      {"P7\nWIDTH"sv, id::pam}, {"PF\n3 2\n-1.0\n"sv, id::pfm},
      {"v/1\x01\x02\0\0\0"sv, id::openEXR}, {"#?RADIANCE\n"sv, id::radiance},
      {"%PDF-1.7\n"sv, id::pdf}, {"BM\x46\0\0\0\0\0\0\0"sv, id::bmp},
      {"BMW is not a bitmap"sv, std::nullopt}, {"Pq not a portable map"sv, std::nullopt},
      {"plain text"sv, std::nullopt}, {""sv, std::nullopt},
  };
  for (const Case& c : cases) {
    auto head = bytes(c.head);
    EXPECT_EQ(detectContentType(std::span<const std::uint8_t>(head)), c.type) << c.head;
  }
}

// The reader's type comes from the loader and the content, never the name.
TEST(ContentTypesTest, ReaderTypeOfGeneratedFilesFollowsTheirContent) {
  test::ScratchDirectory scratch;
  auto picture = test::makeTestPicture(16, 8);
  picture.pngsave((scratch / "really-a-png.jpg").c_str());
  picture.jpegsave((scratch / "photo.png").c_str());
  picture.tiffsave((scratch / "scan.tif").c_str());
  picture.write_to_file((scratch / "frame.ppm").c_str());
  std::vector<std::optional<std::string>> types;
  for (const char* name : {"really-a-png.jpg", "photo.png", "scan.tif", "frame.ppm", "missing.png"})
    types.push_back(imageReaderTypeIdentifier(scratch / name));
  EXPECT_EQ(types, (std::vector<std::optional<std::string>>{"public.png", "public.jpeg", "public.tiff", "public.ppm", std::nullopt}));
  EXPECT_EQ(detectContentType(scratch / "really-a-png.jpg"), id::png);

  try {
    picture.heifsave((scratch / "a.heic").c_str(), vips::VImage::option()->set("compression", VIPS_FOREIGN_HEIF_COMPRESSION_HEVC));
    picture.heifsave((scratch / "b.heic").c_str(), vips::VImage::option()->set("compression", VIPS_FOREIGN_HEIF_COMPRESSION_AV1));
  } catch (const vips::VError& error) {
    GTEST_SKIP() << "libvips cannot write HEIF here: " << error.what();
  }
  EXPECT_EQ(imageReaderTypeIdentifier(scratch / "a.heic"), "public.heic");
  // AV1 inside a file named .heic is still AVIF.
  EXPECT_EQ(imageReaderTypeIdentifier(scratch / "b.heic"), "public.avif");
}

}  // namespace
}  // namespace quorlin
