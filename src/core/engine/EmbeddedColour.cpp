#include "core/engine/EmbeddedColour.h"

#include <jxl/decode.h>
#include <libheif/heif.h>

#include <cstdint>
#include <cstdio>
#include <memory>
#include <vector>

namespace quorlin {

namespace fs = std::filesystem;

std::optional<CICPDescription> readHEIFNCLXDescription(const fs::path& file) {
  std::unique_ptr<heif_context, decltype(&heif_context_free)> context(heif_context_alloc(), heif_context_free);
  if (!context || heif_context_read_from_file(context.get(), file.c_str(), nullptr).code != heif_error_Ok) {
    return std::nullopt;
  }
  heif_image_handle* rawHandle = nullptr;
  if (heif_context_get_primary_image_handle(context.get(), &rawHandle).code != heif_error_Ok) return std::nullopt;
  std::unique_ptr<heif_image_handle, decltype(&heif_image_handle_release)> handle(rawHandle,
                                                                                  heif_image_handle_release);
  heif_color_profile_nclx* nclx = nullptr;
  if (heif_image_handle_get_nclx_color_profile(handle.get(), &nclx).code != heif_error_Ok || !nclx) {
    return std::nullopt;
  }
  CICPDescription description{static_cast<int>(nclx->color_primaries), static_cast<int>(nclx->transfer_characteristics),
                              static_cast<int>(nclx->matrix_coefficients), nclx->full_range_flag != 0};
  heif_nclx_color_profile_free(nclx);
  return description;
}

std::optional<double> readJPEGXLIntensityTarget(const fs::path& file) {
  std::unique_ptr<std::FILE, decltype(&std::fclose)> stream(std::fopen(file.c_str(), "rb"), &std::fclose);
  if (!stream) return std::nullopt;
  std::unique_ptr<JxlDecoder, decltype(&JxlDecoderDestroy)> decoder(JxlDecoderCreate(nullptr), JxlDecoderDestroy);
  if (!decoder || JxlDecoderSubscribeEvents(decoder.get(), JXL_DEC_BASIC_INFO) != JXL_DEC_SUCCESS) return std::nullopt;
  // The basic info sits in the first few hundred bytes, after any container boxes.
  std::vector<std::uint8_t> bytes(1 << 16);
  bytes.resize(std::fread(bytes.data(), 1, bytes.size(), stream.get()));
  if (bytes.empty() || JxlDecoderSetInput(decoder.get(), bytes.data(), bytes.size()) != JXL_DEC_SUCCESS) {
    return std::nullopt;
  }
  JxlDecoderCloseInput(decoder.get());
  if (JxlDecoderProcessInput(decoder.get()) != JXL_DEC_BASIC_INFO) return std::nullopt;
  JxlBasicInfo info{};
  if (JxlDecoderGetBasicInfo(decoder.get(), &info) != JXL_DEC_SUCCESS) return std::nullopt;
  constexpr float defaultTarget = 255.0f;
  if (!(info.intensity_target > 0.0f) || info.intensity_target == defaultTarget) return std::nullopt;
  return static_cast<double>(info.intensity_target);
}

}  // namespace quorlin
