// Random (version 4) UUIDs identify panels, results, tabs, console entries and
// requirement rows; work directories are named by their canonical upper-case text.
#pragma once

#include <array>
#include <compare>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace quorlin {

class Uuid {
 public:
  // The nil UUID (all zero). Use Uuid::random() for a fresh identifier.
  Uuid() = default;
  static Uuid random();
  // Parses the canonical 8-4-4-4-12 hexadecimal form, either case.
  static std::optional<Uuid> fromString(std::string_view text);

  // Canonical upper-case text, e.g. "6F1C2E1A-3B4D-4C5E-8F90-0A1B2C3D4E5F".
  std::string uuidString() const;
  bool isNil() const;
  const std::array<std::uint8_t, 16>& bytes() const { return bytes_; }

  friend auto operator<=>(const Uuid&, const Uuid&) = default;

 private:
  std::array<std::uint8_t, 16> bytes_{};
};

}  // namespace quorlin

template <>
struct std::hash<quorlin::Uuid> {
  std::size_t operator()(const quorlin::Uuid& id) const noexcept;
};
