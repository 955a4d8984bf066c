// The contract with the external command-line tools, in one place.
//
// All codec work is done by separate programs the user installs; none is
// linked in. Each is run through the process runner by its bare name, located
// by tool lookup, with an argument list (never a shell) whose file arguments
// are absolute paths. This header names every tool and states what it is
// passed and what the caller relies on; the encoder, decoder, scorer, exiftool
// reader and the requirements table take the names from here.
//
// Failure rules shared by every run below except the version probes:
//   - a tool that cannot be located fails with CompressionError::missingTool
//     before anything starts;
//   - any exit status other than 0 (a signal death counts as 128 + signal)
//     fails with CompressionError::processFailed carrying the tool name and its
//     combined output;
//   - child output is decoded as UTF-8; undecodable output becomes "".
// Whatever program stands at a name must accept these arguments and produce
// the files and texts relied on; the rest of its behaviour is its own.
#pragma once

#include <array>
#include <chrono>
#include <string_view>

namespace quorlin::ToolContract {

// ---- Encoders -------------------------------------------------------------
// Passed: the settings flags the encoding step builds for the panel, the input
// path (the user's source when it is a direct input for the codec, else the
// prepared 16-bit "source.png", or "source.ppm" for cjpeg) and the output path,
// in the order the encoding step fixes ("-o"/"-outfile" where the tool wants it).
// Relied on: exit status 0 and the encoded file written at the output path.
// An encoder that exits 0 without writing it is reported after decoding as
// CompressionError::missingOutput; one whose output does not start with its
// codec's container signature is a false success and fails the run.
inline constexpr std::string_view cjxl = "cjxl";
inline constexpr std::string_view avifenc = "avifenc";
inline constexpr std::string_view cwebp = "cwebp";
inline constexpr std::string_view cjpegli = "cjpegli";
inline constexpr std::string_view heifEnc = "heif-enc";
inline constexpr std::string_view cjpeg = "cjpeg";

// ---- Decoders -------------------------------------------------------------
// Passed: the encoded path and the decoded path ending in ".png"
// (dwebp: encoded path, "-o", decoded path).
// Relied on: exit status 0 and a PNG (8- or 16-bit, with or without an ICC
// profile) written at the decoded path.
inline constexpr std::string_view djxl = "djxl";
inline constexpr std::string_view avifdec = "avifdec";
inline constexpr std::string_view dwebp = "dwebp";
inline constexpr std::string_view djpegli = "djpegli";
inline constexpr std::string_view heifDec = "heif-dec";
// Older libheif (before 1.16) names its decoder heif-convert, with the same
// arguments; it stands in when heif-dec is not found.
inline constexpr std::string_view heifConvert = "heif-convert";
inline constexpr std::string_view dwebpOutputFlag = "-o";

// ---- Describers (failure only means "no description") ----------------------
// jxlinfo: passed the encoded path. Relied on: text lines naming the pixel
// format ("JPEG XL image, ..."), "intensity_target:", "min_nits:",
// "relative_to_max_display:", "linear_below:" and "Color space:". It exits 0
// even for a file that is not JPEG XL, so its text is parsed, never trusted.
inline constexpr std::string_view jxlinfo = "jxlinfo";
// avifdec "--info": passed "--info" and the encoded path. Relied on: text
// with a line beginning, lower-cased, with "format:" or "image format:" and a
// depth number.
inline constexpr std::string_view avifdecInfoFlag = "--info";

// ---- Scorer ---------------------------------------------------------------
// ssimulacra2: passed the reference path (always the prepared "source.png")
// and the decoded path. Relied on: a text whose first number, read in the C
// locale, is the score; higher is better; negative scores are valid.
inline constexpr std::string_view ssimulacra2 = "ssimulacra2";
// Quorlin's own build also takes "--map FILE" before the two paths and then
// writes the error map there (a three-channel float PFM: structure, artifacts,
// blur). A build without it prints its usage text, which contains "Usage:".
inline constexpr std::string_view ssimulacra2MapFlag = "--map";
inline constexpr std::string_view ssimulacra2UsageMarker = "Usage:";

// ---- Metadata -------------------------------------------------------------
// exiftool: passed the file path. Relied on: one line per tag, the tag name,
// a colon and the value.
inline constexpr std::string_view exiftool = "exiftool";

// ---- Version probes -------------------------------------------------------
// Passed one of these flags (which one is the requirements table's choice).
// Relied on: a first non-blank line of the combined output holding a dotted
// version number; the exit status is ignored; the probe is stopped after
// versionProbeTimeLimit.
inline constexpr std::string_view versionFlagLong = "--version";
inline constexpr std::string_view versionFlagShort = "-version";
inline constexpr std::string_view versionFlagExifTool = "-ver";
inline constexpr std::chrono::seconds versionProbeTimeLimit{5};

// ---- Files the tools read and write ---------------------------------------
// Under each work directory of the temporary root.
inline constexpr std::string_view preparedSourceFileName = "source.png";
inline constexpr std::string_view ppmInputFileName = "source.ppm";
inline constexpr std::string_view decodedFileSuffix = "-decoded.png";

// Every executable name above (heif-convert only as heif-dec's stand-in).
inline constexpr std::array<std::string_view, 15> allExecutables = {
    cjxl,    djxl,    jxlinfo, ssimulacra2, avifenc, avifdec,     cwebp,    dwebp,
    cjpegli, djpegli, heifEnc, heifDec,     heifConvert, cjpeg,   exiftool};

}  // namespace quorlin::ToolContract
