// ColorSpace: an ICC profile plus a well-known name where one applies.
//
// The well-known spaces (sRGB, Display P3, their linear forms, BT.2100 PQ and
// HLG, device RGB) are built with lcms2 from their primaries and transfer
// functions; nothing is downloaded. "Extended" spaces are the same profiles
// with unclipped float values in memory. Instances are immutable and shared.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace quorlin {

class ColorSpace {
 public:
  enum class WellKnown {
    none,             // an arbitrary ICC profile
    sRGB,
    displayP3,
    linearSRGB,
    linearDisplayP3,
    bt2100PQ,
    bt2100HLG,
    deviceRGB,        // sRGB-like, untagged
  };
  enum class Model { rgb, gray, cmyk, other };
  enum class Transfer { srgb, linear, power, bt709, pq, hlg };
  // CIE xy of the primaries and the white point.
  struct Chromaticities {
    double redX, redY, greenX, greenY, blueX, blueY, whiteX, whiteY;
  };

  // The built-in spaces; never null.
  static std::shared_ptr<const ColorSpace> wellKnown(WellKnown kind);
  // A space from ICC bytes; null when lcms2 cannot parse them. Recognises a
  // profile equivalent to a well-known one where it can (sRGB above all).
  static std::shared_ptr<const ColorSpace> fromICC(std::vector<std::uint8_t> profile);
  // An RGB space described by primaries, white point and a transfer curve
  // (power: linear = encoded ^ exponent), as PNG gAMA/cHRM or cICP chunks
  // give one; null when lcms2 cannot build it.
  static std::shared_ptr<const ColorSpace> described(const Chromaticities& chromaticities, Transfer transfer,
                                                     double exponent = 1.0);
  // The space an ITU-T H.273 (CICP) description names, as AVIF/HEIF nclx boxes
  // and PNG cICP chunks give one (RGB, full range assumed by the caller): the
  // well-known space where there is one (1/13 is the plain sRGB instance,
  // 9/16 BT.2100 PQ, 9/18 BT.2100 HLG, 12/13 Display P3), otherwise a
  // described space; null when the primaries or the transfer are unspecified
  // or unknown.
  static std::shared_ptr<const ColorSpace> fromCICP(int primaries, int transfer);

  WellKnown kind() const { return kind_; }
  Model model() const { return model_; }
  bool isRGBModel() const { return model_ == Model::rgb; }
  // The profile's description ("sRGB IEC61966-2.1", "Display P3", ...).
  const std::string& name() const { return name_; }
  const std::vector<std::uint8_t>& iccProfile() const { return icc_; }
  // True when pixel values are linear light (linear sRGB, linear Display P3).
  bool isLinear() const;
  // True for the HDR transfer functions (BT.2100 PQ and HLG).
  bool isHDR() const { return kind_ == WellKnown::bt2100PQ || kind_ == WellKnown::bt2100HLG; }
  // "PQ" or "HLG" for the HDR spaces, empty otherwise.
  std::string_view transferName() const;

  ColorSpace(WellKnown kind, Model model, std::string name, std::vector<std::uint8_t> icc)
      : kind_(kind), model_(model), name_(std::move(name)), icc_(std::move(icc)) {}

 private:
  WellKnown kind_;
  Model model_;
  std::string name_;
  std::vector<std::uint8_t> icc_;
};

using ColorSpaceRef = std::shared_ptr<const ColorSpace>;

// The built-in sRGB instance stands for samples that carry no colour
// description at all (untagged files, sRGB chunks): such an image is written
// untagged again, so every reader takes it as plain sRGB. An embedded sRGB
// profile is a space of its own and stays embedded.
bool isPlainSRGB(const ColorSpaceRef& space);

}  // namespace quorlin
