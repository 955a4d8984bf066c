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

  // The built-in spaces; never null.
  static std::shared_ptr<const ColorSpace> wellKnown(WellKnown kind);
  // A space from ICC bytes; null when lcms2 cannot parse them. Recognises a
  // profile equivalent to a well-known one where it can (sRGB above all).
  static std::shared_ptr<const ColorSpace> fromICC(std::vector<std::uint8_t> profile);

  WellKnown kind() const { return kind_; }
  Model model() const { return model_; }
  bool isRGBModel() const { return model_ == Model::rgb; }
  // The profile's description ("sRGB IEC61966-2.1", "Display P3", ...).
  const std::string& name() const { return name_; }
  const std::vector<std::uint8_t>& iccProfile() const { return icc_; }
  // True when pixel values are linear light (linear sRGB, linear Display P3).
  bool isLinear() const;

  ColorSpace(WellKnown kind, Model model, std::string name, std::vector<std::uint8_t> icc)
      : kind_(kind), model_(model), name_(std::move(name)), icc_(std::move(icc)) {}

 private:
  WellKnown kind_;
  Model model_;
  std::string name_;
  std::vector<std::uint8_t> icc_;
};

using ColorSpaceRef = std::shared_ptr<const ColorSpace>;

}  // namespace quorlin
