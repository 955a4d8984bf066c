// CodecPanel: one panel's settings, run state and last result, as a plain value.
//
// A panel holds the settings of every codec at once, so switching codecs keeps
// the others' settings. The settings signature captures every setting; a panel
// whose result carries another signature needs regeneration.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "core/common/Uuid.h"
#include "core/codecs/CodecCatalog.h"
#include "core/engine/CompressionResult.h"

namespace quorlin {

struct CodecPanel {
  Uuid id = Uuid::random();
  CompressionCodec codec = CompressionCodec::jpegXL;
  int quality = 85;
  int effort = 7;
  RateControlMode rateControlMode = RateControlMode::manual;
  double targetScore = 85.0;
  double distance = 1.0;
  ChromaSubsampling chromaSubsampling = ChromaSubsampling::automatic;
  int progressiveLevel = 2;
  bool isWebPLossless = false;
  int webPLosslessLevel = 6;
  bool isAVIFLossless = false;
  AVIFDepth avifDepth = AVIFDepth::automatic;
  AVIFChromaSubsampling avifChromaSubsampling = AVIFChromaSubsampling::automatic;
  bool isAVIFProgressive = false;
  bool isHEIFLossless = false;
  HEIFDepth heifBitDepth = HEIFDepth::automatic;
  bool isJPEGTurboProgressive = true;
  bool isJPEGTurboOptimized = true;
  bool isJPEGXLProgressive = false;
  JPEGXLGroupOrder jpegXLGroupOrder = JPEGXLGroupOrder::scanline;
  bool isJPEGLosslessTranscode = false;

  // Run state, written by the workspace; not part of the signature.
  bool isRunning = false;
  std::optional<CompressionResult> result;
  std::optional<std::string> errorMessage;
  std::optional<std::string> progressMessage;
  // A run for the current settings was stopped: the result shown is an older one.
  bool wasStopped = false;

  // "JPEG XL|effort=7|jpegliChroma=Auto|...|jxlLosslessJPEG=false" (computed on demand).
  std::string settingsSignature() const;

  // True when the panel has a result made with other settings than its current
  // ones, or kept after a newer run was stopped.
  bool needsRegeneration() const;

  // The codec picker's rule: clears result and error, then resets the distance
  // (JPEG XL, above 25) or the JPEG transcode switch (any other codec).
  void selectCodec(CompressionCodec newCodec);
};

// The four panels of a new workspace: JPEG XL 85/7, AVIF 79/6, WebP 85/5, JPEGli 82/5.
std::vector<CodecPanel> makeDefaultPanels();

// "lossy", "lossless" or "lossless JPEG transcode".
std::string compressionModeLabel(const CodecPanel& panel);

// Distance text: rounded to two decimals (halves away from zero), trailing zeros
// dropped, never ending in "." (1.005 -> "1", 1.006 -> "1.01", 0.25 -> "0.25").
std::string formatDistance(double distance);

}  // namespace quorlin
