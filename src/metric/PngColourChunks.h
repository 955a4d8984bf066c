// PngColourChunks: the colour chunks of a PNG file (cICP, iCCP, sRGB, gAMA,
// cHRM), read straight from the chunk stream before the first IDAT, so that
// no decoder's own judgement (dropped or "corrected" profiles) gets in the
// way. colourEncodingForPng then decides what the samples mean, in this
// order of precedence:
//   1. cICP with code points we can express (RGB, full range);
//   2. iCCP, unless the profile cannot describe this PNG's samples: it does
//      not inflate, its header is inconsistent or truncated, it is neither
//      an RGB nor a grey profile, it does not match the colour type (a grey
//      profile on a colour image or the reverse), or it is an abstract or
//      device link profile. These are the PNG format's own rules for iCCP,
//      so the same files lose their profile as in other readers; such a
//      profile counts as absent and the chunks below apply. (Whether lcms2
//      can parse the rest of a profile is decided later.)
//   3. sRGB, whatever gAMA and cHRM say;
//   4. gAMA and/or cHRM: a pure power law (not the sRGB curve, even for
//      gAMA 45455) and/or custom primaries; absent parts stay sRGB;
//   5. nothing: sRGB.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "metric/ColourEncoding.h"

namespace quorlin::metric {

struct PngColourChunks {
  struct Cicp {
    std::uint8_t primaries, transfer, matrix, fullRange;
  };
  std::optional<Cicp> cicp;
  bool srgb = false;
  bool iccp = false;                                           // present, even if it would not inflate
  std::vector<std::uint8_t> iccProfile;                        // the first iCCP profile, inflated
  std::optional<std::uint8_t> colourType;                      // IHDR colour type (PNG_COLOR_TYPE_*)
  std::optional<std::uint32_t> gamma;                          // gAMA value, times 100000
  std::optional<std::array<std::uint32_t, 8>> chromaticities;  // cHRM: white, red, green, blue (x, y) times 100000
};

// True when the next 8 bytes of `file` are the PNG signature (consumes them).
bool readPngSignature(std::FILE* file);

// Reads the chunks after the signature up to the first IDAT. Malformed or
// truncated chunk lists simply end the scan (decoding reports them).
PngColourChunks readPngColourChunks(std::FILE* file);

// The encoding of a PNG's samples. When an iCCP profile had to be ignored,
// `ignoredProfile` (if given) receives the reason; otherwise it is cleared.
ColourEncoding colourEncodingForPng(const PngColourChunks& chunks, std::string* ignoredProfile = nullptr);

}  // namespace quorlin::metric
