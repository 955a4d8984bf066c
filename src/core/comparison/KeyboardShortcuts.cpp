#include "core/comparison/KeyboardShortcuts.h"

#include <array>
#include <cmath>

namespace quorlin {

namespace {

// One row per physical key the shortcuts use.
struct KeyRow {
  PhysicalKey key;
  int evdevCode;
  int macKeyCode;
  int character;
};

constexpr std::array<KeyRow, 15> keyTable{{
    {PhysicalKey::g, 34, 5, 'G'},
    {PhysicalKey::equal, 13, 24, '='},
    {PhysicalKey::minus, 12, 27, '-'},
    {PhysicalKey::digit0, 11, 29, '0'},
    {PhysicalKey::digit1, 2, 18, '1'},
    {PhysicalKey::digit2, 3, 19, '2'},
    {PhysicalKey::digit3, 4, 20, '3'},
    {PhysicalKey::digit4, 5, 21, '4'},
    {PhysicalKey::digit5, 6, 23, '5'},
    {PhysicalKey::digit6, 7, 22, '6'},
    {PhysicalKey::digit7, 8, 26, '7'},
    {PhysicalKey::digit8, 9, 28, '8'},
    {PhysicalKey::digit9, 10, 25, '9'},
    {PhysicalKey::space, 57, 49, ' '},
    {PhysicalKey::e, 18, 14, 'E'},
}};

template <typename Field>
PhysicalKey lookUp(Field field, int value) {
  for (const KeyRow& row : keyTable) {
    if (row.*field == value) return row.key;
  }
  return PhysicalKey::other;
}

// The Command rules, in the order they are tried.
struct CommandKeyRule {
  PhysicalKey key;
  ShortcutCommand command;
};

const std::array<CommandKeyRule, 9>& commandKeyRules() {
  static const std::array<CommandKeyRule, 9> rules{{
      {PhysicalKey::g, RegistryAction::generate},
      {PhysicalKey::equal, RegistryAction::zoomIn},
      {PhysicalKey::minus, RegistryAction::zoomOut},
      {PhysicalKey::digit0, RegistryAction::resetImage},
      {PhysicalKey::digit1, RegistryAction::zoomActualSize},
      {PhysicalKey::digit2, ZoomToScaleCommand{2.0}},
      {PhysicalKey::digit4, ZoomToScaleCommand{4.0}},
      {PhysicalKey::digit6, ZoomToScaleCommand{6.0}},
      {PhysicalKey::digit8, ZoomToScaleCommand{8.0}},
  }};
  return rules;
}

// 1..6 for the digit keys 1 to 6; none otherwise.
std::optional<int> gainDigit(PhysicalKey key) {
  int offset = static_cast<int>(key) - static_cast<int>(PhysicalKey::digit1);
  if (offset < 0 || offset > 5) return std::nullopt;
  return offset + 1;
}

// The delta of the Option and Shift gestures: vertical, else horizontal.
double gestureDelta(const ScrollEvent& event) { return event.deltaY != 0 ? event.deltaY : event.deltaX; }

// Points per unit of the event's deltas.
double pointsPerDeltaUnit(const ScrollEvent& event) { return event.hasPreciseDeltas ? 1.0 : 10.0; }

constexpr double gainScrollThreshold = 10.0;

KeyboardCommandRegistry::Action KeyboardCommandRegistry::*actionSlot(RegistryAction action) {
  switch (action) {
    case RegistryAction::generate:
      return &KeyboardCommandRegistry::generate;
    case RegistryAction::zoomIn:
      return &KeyboardCommandRegistry::zoomIn;
    case RegistryAction::zoomOut:
      return &KeyboardCommandRegistry::zoomOut;
    case RegistryAction::resetImage:
      return &KeyboardCommandRegistry::resetImage;
    case RegistryAction::zoomActualSize:
      return &KeyboardCommandRegistry::zoomActualSize;
    case RegistryAction::showOriginal:
      return &KeyboardCommandRegistry::showOriginal;
    case RegistryAction::showDifference:
      return &KeyboardCommandRegistry::showDifference;
    case RegistryAction::hideComparisonOverlay:
      return &KeyboardCommandRegistry::hideComparisonOverlay;
    case RegistryAction::showErrorMap:
      return &KeyboardCommandRegistry::showErrorMap;
    case RegistryAction::hideErrorMap:
      return &KeyboardCommandRegistry::hideErrorMap;
    case RegistryAction::hideDifference:
      break;
  }
  return &KeyboardCommandRegistry::hideDifference;
}

}  // namespace

PhysicalKey physicalKeyFromEvdevCode(int code) { return lookUp(&KeyRow::evdevCode, code); }
PhysicalKey physicalKeyFromMacKeyCode(int code) { return lookUp(&KeyRow::macKeyCode, code); }
PhysicalKey physicalKeyFromCharacter(int character) {
  if (character >= 'a' && character <= 'z') character -= 'a' - 'A';
  return lookUp(&KeyRow::character, character);
}

ShortcutDecision decideKeyDown(const KeyEvent& event) {
  if (event.modifiers.command) {
    for (const CommandKeyRule& rule : commandKeyRules()) {
      if (rule.key == event.key) return {rule.command, true};
    }
  }
  if (event.modifiers.shift && !event.modifiers.command) {
    if (auto digit = gainDigit(event.key)) return {SelectGainCommand{*digit - 1}, true};
  }
  if (event.key == PhysicalKey::space) {
    if (event.isAutoRepeat) return {std::monostate{}, true};
    return {RegistryAction::showOriginal, true};
  }
  if (event.key == PhysicalKey::e && !event.modifiers.command && !event.modifiers.option &&
      !event.modifiers.control) {
    if (event.isAutoRepeat) return {std::monostate{}, true};
    return {RegistryAction::showErrorMap, true};
  }
  return {std::monostate{}, false};
}

ShortcutDecision decideKeyUp(const KeyEvent& event) {
  if (event.key != PhysicalKey::space && event.key != PhysicalKey::e) return {std::monostate{}, false};
  if (event.isAutoRepeat) return {std::monostate{}, true};
  if (event.key == PhysicalKey::e) return {RegistryAction::hideErrorMap, true};
  if (event.modifiers.isExactlyShift()) return {RegistryAction::showDifference, true};
  return {RegistryAction::hideComparisonOverlay, true};
}

ShortcutDecision decideModifiersChanged(ModifierKeys modifiers) {
  if (modifiers.isExactlyShift()) return {RegistryAction::showDifference, false};
  return {RegistryAction::hideDifference, false};
}

ShortcutDecision decideScroll(const ScrollEvent& event, ScrollContext context, double& differenceScrollAccumulator) {
  const double scale = pointsPerDeltaUnit(event);
  if (event.modifiers.option && context.isPointerOverComparison) {
    return {ScrollZoomCommand{gestureDelta(event) * scale}, true};
  }
  if (event.modifiers.shift) {
    differenceScrollAccumulator += gestureDelta(event) * scale;
    if (std::fabs(differenceScrollAccumulator) >= gainScrollThreshold) {
      int step = differenceScrollAccumulator > 0 ? 1 : -1;
      differenceScrollAccumulator = 0;
      return {StepGainCommand{step}, true};
    }
    return {std::monostate{}, true};
  }
  differenceScrollAccumulator = 0;
  if (context.isPointerOverComparison && !event.modifiers.command && context.hasScrollPan) {
    return {ScrollPanCommand{event.deltaX * scale, event.deltaY * scale}, true};
  }
  return {std::monostate{}, false};
}

void performShortcutCommand(const ShortcutCommand& command, KeyboardCommandRegistry& registry) {
  using Registry = KeyboardCommandRegistry;
  if (const auto* action = std::get_if<RegistryAction>(&command)) {
    Registry::call(registry.*actionSlot(*action));
  } else if (const auto* zoom = std::get_if<ZoomToScaleCommand>(&command)) {
    Registry::call(registry.zoomToScale, zoom->scale);
  } else if (const auto* select = std::get_if<SelectGainCommand>(&command)) {
    Registry::call(registry.setDifferenceGainStep, select->index);
    Registry::call(registry.showDifference);
  } else if (const auto* step = std::get_if<StepGainCommand>(&command)) {
    Registry::call(registry.stepDifferenceGain, step->step);
  } else if (const auto* scrollZoom = std::get_if<ScrollZoomCommand>(&command)) {
    Registry::call(registry.optionScrollZoom, scrollZoom->scrollDelta);
  } else if (const auto* pan = std::get_if<ScrollPanCommand>(&command)) {
    Registry::call(registry.scrollPan, pan->dx, pan->dy);
  }
}

bool ShortcutCoordinator::act(const ShortcutDecision& decision) {
  performShortcutCommand(decision.command, registry_);
  return decision.isConsumed;
}

bool ShortcutCoordinator::keyDown(const KeyEvent& event, bool isGateOpen) {
  return isGateOpen && act(decideKeyDown(event));
}

bool ShortcutCoordinator::keyUp(const KeyEvent& event, bool isGateOpen) {
  return isGateOpen && act(decideKeyUp(event));
}

bool ShortcutCoordinator::modifiersChanged(ModifierKeys modifiers, bool isGateOpen) {
  return isGateOpen && act(decideModifiersChanged(modifiers));
}

bool ShortcutCoordinator::scroll(const ScrollEvent& event, bool isGateOpen) {
  if (!isGateOpen) return false;
  ScrollContext context{registry_.isPointerOverComparison, static_cast<bool>(registry_.scrollPan)};
  return act(decideScroll(event, context, accumulator_));
}

}  // namespace quorlin
