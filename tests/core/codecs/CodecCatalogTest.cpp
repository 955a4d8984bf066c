#include "core/codecs/CodecCatalog.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace quorlin {
namespace {

using C = CompressionCodec;

struct ExpectedRow {
  C codec;
  const char* rawValue;
  const char* displayName;
  const char* encoder;
  const char* decoder;
  const char* extension;
  const char* exportType;
};

// The catalog as the product defines it, written out independently of the code.
const ExpectedRow expectedRows[] = {
    {C::jpegXL, "JPEG XL", "JPEG XL", "cjxl", "djxl", "jxl", "public.jpeg-xl"},
    {C::avif, "AVIF", "AVIF", "avifenc", "avifdec", "avif", "public.avif"},
    {C::webP, "WebP", "WebP", "cwebp", "dwebp", "webp", "org.webmproject.webp"},
    {C::jpegli, "JPEGli", "JPEGli", "cjpegli", "djpegli", "jpg", "public.jpeg"},
    {C::heifLibheif, "HEIF (libheif)", "HEIF (libheif)", "heif-enc", "heif-dec", "heic", "public.heic"},
    {C::avifLibheif, "AVIF (libheif)", "AVIF (libheif)", "heif-enc", "heif-dec", "avif", "public.avif"},
    {C::jpeg2000Libheif, "JPEG 2000 (libheif)", "JPEG 2000 (libheif)", "heif-enc", "heif-dec", "hej2",
     "public.data"},
    {C::heif, "HEIF", "HEIF (System)", "", "", "heic", "public.heic"},
    {C::jpegTurbo, "JPEG (libjpeg-turbo)", "JPEG (libjpeg-turbo)", "cjpeg", "", "jpg", "public.jpeg"},
    {C::jpeg, "JPEG", "JPEG (System)", "", "", "jpg", "public.jpeg"},
};

TEST(CodecCatalogTest, ListsTheTenCodecsInCaseOrderWithTheirTableFacts) {
  auto codecs = allCompressionCodecs();
  ASSERT_EQ(codecs.size(), std::size(expectedRows));
  for (std::size_t i = 0; i < codecs.size(); ++i) {
    const ExpectedRow& row = expectedRows[i];
    SCOPED_TRACE(row.rawValue);
    EXPECT_EQ(codecs[i], row.codec);
    EXPECT_EQ(rawValue(row.codec), row.rawValue);
    EXPECT_EQ(displayName(row.codec), row.displayName);
    EXPECT_EQ(codecInfo(row.codec).encoderTool, row.encoder);
    EXPECT_EQ(codecInfo(row.codec).decoderTool, row.decoder);
    EXPECT_EQ(encodedFileExtension(row.codec), row.extension);
    EXPECT_EQ(exportContentType(row.codec), row.exportType);
    EXPECT_EQ(codecInfo(row.codec).codec, row.codec);
    EXPECT_EQ(usesPlatformEncoder(row.codec), row.codec == C::heif || row.codec == C::jpeg);
  }
}

TEST(CodecCatalogTest, HeifEncModeFlagsSelectTheCodec) {
  EXPECT_EQ(codecInfo(C::heifLibheif).encoderModeFlag, "--hevc");
  EXPECT_EQ(codecInfo(C::avifLibheif).encoderModeFlag, "--avif");
  EXPECT_EQ(codecInfo(C::jpeg2000Libheif).encoderModeFlag, "--jpeg2000");
  EXPECT_EQ(codecInfo(C::jpegXL).encoderModeFlag, "");
}

TEST(CodecCatalogTest, RawValuesRoundTripAndOnlyRawValuesAreAccepted) {
  for (C codec : allCompressionCodecs()) {
    EXPECT_EQ(compressionCodecFromRawValue(rawValue(codec)), codec);
    EXPECT_EQ(fromRawValue<C>(rawValue(codec)), codec);
  }
  // Display names are not raw values; matching is exact.
  EXPECT_EQ(compressionCodecFromRawValue("HEIF (System)"), std::nullopt);
  EXPECT_EQ(compressionCodecFromRawValue("JPEG (System)"), std::nullopt);
  EXPECT_EQ(compressionCodecFromRawValue("jpeg xl"), std::nullopt);
  EXPECT_EQ(compressionCodecFromRawValue("JPEG XL "), std::nullopt);
  EXPECT_EQ(compressionCodecFromRawValue(""), std::nullopt);
}

std::vector<std::string> texts(std::span<const std::string_view> values) {
  return std::vector<std::string>(values.begin(), values.end());
}

TEST(CodecCatalogTest, DirectInputsFollowTheTableInOrder) {
  using V = std::vector<std::string>;
  V jxlExtensions = {"jxl", "ppm", "pnm", "pfm", "pam", "pgx", "png", "apng", "gif", "jpg", "jpeg", "exr"};
  EXPECT_EQ(texts(directInputExtensions(C::jpegXL)), jxlExtensions);
  EXPECT_EQ(texts(directInputExtensions(C::jpegli)), jxlExtensions);
  EXPECT_EQ(texts(directInputContentTypes(C::jpegXL)), (V{"public.png", "com.compuserve.gif", "public.jpeg"}));
  EXPECT_EQ(texts(directInputExtensions(C::avif)), (V{"jpg", "jpeg", "png", "y4m"}));
  EXPECT_EQ(texts(directInputContentTypes(C::avif)), (V{"public.jpeg", "public.png"}));
  EXPECT_EQ(texts(directInputExtensions(C::webP)),
            (V{"webp", "jpg", "jpeg", "png", "pnm", "pgm", "ppm", "pam", "tif", "tiff"}));
  EXPECT_EQ(texts(directInputContentTypes(C::webP)),
            (V{"org.webmproject.webp", "public.jpeg", "public.png", "public.tiff"}));
  for (C codec : {C::heifLibheif, C::avifLibheif, C::jpeg2000Libheif}) {
    EXPECT_EQ(texts(directInputExtensions(codec)), (V{"jpg", "jpeg", "png", "tif", "tiff", "y4m"}));
    EXPECT_EQ(texts(directInputContentTypes(codec)), (V{"public.jpeg", "public.png", "public.tiff"}));
  }
  EXPECT_EQ(texts(directInputExtensions(C::jpegTurbo)), (V{"png", "ppm", "pgm", "bmp", "gif", "tga", "targa"}));
  EXPECT_EQ(texts(directInputContentTypes(C::jpegTurbo)), (V{"public.png", "com.compuserve.gif", "com.microsoft.bmp"}));
  for (C codec : {C::heif, C::jpeg}) {
    EXPECT_TRUE(directInputExtensions(codec).empty());
    EXPECT_TRUE(directInputContentTypes(codec).empty());
  }
}

TEST(CodecCatalogTest, RateParameterIsDistanceOnlyForTheButteraugliCodecs) {
  for (C codec : allCompressionCodecs()) {
    bool isDistance = codec == C::jpegXL || codec == C::jpegli;
    EXPECT_EQ(codecInfo(codec).rateParameter,
              isDistance ? RateParameterKind::distance : RateParameterKind::quality)
        << rawValue(codec);
  }
}

template <typename Enum>
std::vector<std::string> rawValuesOf(std::span<const Enum> cases) {
  std::vector<std::string> values;
  for (Enum value : cases) values.emplace_back(rawValue(value));
  return values;
}

TEST(CodecCatalogTest, OptionEnumerationsListTheirCasesInOrderAndRoundTrip) {
  using V = std::vector<std::string>;
  EXPECT_EQ(rawValuesOf(allChromaSubsamplings()), (V{"Auto", "444", "440", "422", "420"}));
  EXPECT_EQ(rawValuesOf(explicitChromaSubsamplings()), (V{"444", "440", "422", "420"}));
  EXPECT_EQ(rawValuesOf(allAVIFChromaSubsamplings()), (V{"Auto", "444", "422", "420"}));
  EXPECT_EQ(rawValuesOf(allAVIFDepths()), (V{"-", "8", "10", "12"}));
  EXPECT_EQ(rawValuesOf(allHEIFDepths()), (V{"-", "8", "10", "12"}));
  EXPECT_EQ(rawValuesOf(allJPEGXLGroupOrders()), (V{"Scanline", "Center"}));
  EXPECT_EQ(rawValue(RateControlMode::manual), "manual");
  EXPECT_EQ(rawValue(RateControlMode::targetScore), "targetScore");

  for (auto value : allChromaSubsamplings()) EXPECT_EQ(fromRawValue<ChromaSubsampling>(rawValue(value)), value);
  for (auto value : allAVIFChromaSubsamplings()) {
    EXPECT_EQ(fromRawValue<AVIFChromaSubsampling>(rawValue(value)), value);
  }
  for (auto value : allAVIFDepths()) EXPECT_EQ(fromRawValue<AVIFDepth>(rawValue(value)), value);
  for (auto value : allHEIFDepths()) EXPECT_EQ(fromRawValue<HEIFDepth>(rawValue(value)), value);
  for (auto value : allJPEGXLGroupOrders()) EXPECT_EQ(fromRawValue<JPEGXLGroupOrder>(rawValue(value)), value);
  EXPECT_EQ(fromRawValue<RateControlMode>("targetScore"), RateControlMode::targetScore);

  // AVIF has no 4:4:0, and raw values are matched exactly.
  EXPECT_EQ(fromRawValue<AVIFChromaSubsampling>("440"), std::nullopt);
  EXPECT_EQ(fromRawValue<ChromaSubsampling>("auto"), std::nullopt);
  EXPECT_EQ(fromRawValue<JPEGXLGroupOrder>("centerFirst"), std::nullopt);
  EXPECT_EQ(fromRawValue<RateControlMode>("target"), std::nullopt);
}

}  // namespace
}  // namespace quorlin
