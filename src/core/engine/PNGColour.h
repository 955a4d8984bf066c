// What a PNG file says about its colours, read with the scorer's own rules
// (metric/PngColourChunks: cICP, then iCCP, then sRGB, then gAMA/cHRM, else
// sRGB), so that source preparation, the canvas and the score never disagree
// about what a PNG's samples mean. Also the one edit the pipeline makes to a
// decoder's PNG: inserting an iCCP chunk, pixels untouched.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <vector>

#include "core/engine/ColorSpace.h"

namespace quorlin {

struct PNGColourDescription {
  // Null when the file means plain sRGB (untagged, or an sRGB chunk).
  ColorSpaceRef colorSpace;
  // True when any colour chunk is present (cICP, iCCP, sRGB, gAMA, cHRM).
  bool hasColourChunks = false;
  // True when the winning description is an ICC profile (iCCP).
  bool isICCProfile = false;
  // True when the winning description is a cICP chunk.
  bool isCICP = false;
  // True for palette images (colour type 3).
  bool isIndexed = false;
};

// Nothing when `file` is not a PNG or cannot be opened.
std::optional<PNGColourDescription> readPNGColourDescription(const std::filesystem::path& file);

// Inserts an iCCP chunk holding `profile` right after IHDR, replacing the file
// through a temporary sibling. Throws std::filesystem::filesystem_error when
// the file cannot be read or written, std::invalid_argument when it is not a
// PNG or already has colour chunks.
void insertPNGICCProfile(const std::filesystem::path& file, const std::vector<std::uint8_t>& profile);

// The cICP chunk data naming `space` (BT.2100 PQ: 9/16/0/1, HLG: 9/18/0/1);
// empty for every other space.
std::vector<std::uint8_t> cicpChunkData(const ColorSpace& space);

// Inserts any chunk right after IHDR (same failures, no colour check).
void insertPNGChunk(const std::filesystem::path& file, std::string_view type, const std::vector<std::uint8_t>& data);

}  // namespace quorlin
