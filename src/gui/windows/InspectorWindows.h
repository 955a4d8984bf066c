// The two inspector windows of a workspace: the reusable "Original File Specs"
// panel of the source, and one ExifTool listing window per inspection.
//
// Main thread only. Destroying a controller closes every window it opened.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

class QWidget;

namespace quorlin {
struct SourceImageMetadata;
}

namespace quorlin::gui {

class OriginalFileSpecsWindowController {
 public:
  OriginalFileSpecsWindowController();
  ~OriginalFileSpecsWindowController();
  OriginalFileSpecsWindowController(const OriginalFileSpecsWindowController&) = delete;
  OriginalFileSpecsWindowController& operator=(const OriginalFileSpecsWindowController&) = delete;

  // Closes and forgets a visible panel; otherwise shows.
  void toggle(const std::filesystem::path& sourceURL, std::int64_t fileSize, const SourceImageMetadata& metadata);
  // Creates the panel (centred) or replaces the content of the existing one in
  // place; brings it to the front.
  void show(const std::filesystem::path& sourceURL, std::int64_t fileSize, const SourceImageMetadata& metadata);
  void close();
  bool isVisible() const;
  // The panel while the controller holds one, else nullptr.
  QWidget* window() const;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

class ExifToolInfoWindowController {
 public:
  ExifToolInfoWindowController();
  ~ExifToolInfoWindowController();
  ExifToolInfoWindowController(const ExifToolInfoWindowController&) = delete;
  ExifToolInfoWindowController& operator=(const ExifToolInfoWindowController&) = delete;

  // Always opens a new window titled `title` ("JPEG XL Metadata", "ExifTool Failed").
  void show(const std::string& title, const std::string& fileName, const std::string& metadata);
  // Every window opened so far, in opening order (closed ones included).
  std::vector<QWidget*> windows() const;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace quorlin::gui
