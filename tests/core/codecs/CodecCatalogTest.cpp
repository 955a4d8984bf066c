#include "core/codecs/CodecCatalog.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace quorlin {
namespace {

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
    EXPECT_EQ(codecs[i], row.codec);
    EXPECT_EQ(info.codec, row.codec);
    EXPECT_EQ(rawValue(row.codec), row.rawValue);
    EXPECT_EQ(displayName(row.codec), row.displayName);
    EXPECT_EQ(info.encoderTool, row.encoder);
    EXPECT_EQ(info.decoderTool, row.decoder);
    EXPECT_EQ(info.encoderModeFlag, row.modeFlag);
    EXPECT_EQ(encodedFileExtension(row.codec), row.extension);
    EXPECT_EQ(exportContentType(row.codec), row.exportType);
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
  EXPECT_EQ(fromRawValue<AVIFChromaSubsampling>("440"), std::nullopt);
  EXPECT_EQ(fromRawValue<ChromaSubsampling>("auto"), std::nullopt);
  EXPECT_EQ(fromRawValue<JPEGXLGroupOrder>("centerFirst"), std::nullopt);
  EXPECT_EQ(fromRawValue<RateControlMode>("target"), std::nullopt);
}

}  // namespace
}  // namespace quorlin
