#include "core/common/PlatformTexts.h"

namespace quorlin {

const PlatformTexts& macOSTexts() {
  static constexpr PlatformTexts texts{
      "Choose a still image in a format supported by macOS, such as PNG, JPEG, TIFF, or HEIC.",
      "Install it with Homebrew or add it to PATH.",
      "This app runs command-line encoders, decoders, and the SSIMULACRA2 metric. Install the tools below with "
      "Homebrew, then click Re-check. JPEG and HEIF \u201C(System)\u201D use macOS ImageIO and need nothing.",
      "Quorlin runs these open-source projects as separate command-line processes. They are not bundled with the "
      "app; install them with Homebrew from the Required Tools window. Thanks to their authors and contributors.",
      "Required Tools lists external encoders and decoders, their installation status, and Homebrew commands. "
      "Status is re-checked each time it opens. Custom tool directories can be added in Settings.",
      "Folders to search for the command-line tools, before the standard locations. Useful if a tool lives "
      "outside ~/bin or Homebrew.",
      "HEIF quality via ImageIO (0–100). Higher values keep more detail and produce larger files.",
      "JPEG quality via ImageIO (0–100). Higher values keep more detail and produce larger files.",
      true,
  };
  return texts;
}

const PlatformTexts& linuxTexts() {
  static constexpr PlatformTexts texts{
      "Choose a still image in a format supported by the system's image library, such as PNG, JPEG, TIFF, or "
      "HEIC.",
      "Install it with your package manager (see Required Tools) or add it to PATH.",
      "This app runs command-line encoders, decoders, and the SSIMULACRA2 metric. Install the tools below with "
      "your package manager, then click Re-check. JPEG and HEIF \u201C(System)\u201D use the system's image "
      "library and need nothing.",
      "Quorlin runs these open-source projects as separate command-line processes. They are not bundled with the "
      "app; install them with your package manager (see Required Tools). Thanks to their authors and "
      "contributors.",
      "Required Tools lists external encoders and decoders, their installation status, and the commands that "
      "install them. Status is re-checked each time it opens. Custom tool directories can be added in Settings.",
      "Folders to search for the command-line tools, before the standard locations. Useful if a tool lives "
      "outside ~/bin, /usr/local/bin or /usr/bin.",
      "HEIF quality via the system's image library (0–100). Higher values keep more detail and produce larger "
      "files.",
      "JPEG quality via the system's image library (0–100). Higher values keep more detail and produce larger "
      "files.",
      false,
  };
  return texts;
}

const PlatformTexts& platformTexts() {
#ifdef __APPLE__
  return macOSTexts();
#else
  return linuxTexts();
#endif
}

}  // namespace quorlin
