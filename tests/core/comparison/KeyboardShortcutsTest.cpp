#include "core/comparison/KeyboardShortcuts.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace quorlin {
namespace {

constexpr ModifierKeys none{};
constexpr ModifierKeys shift{true, false, false, false};
constexpr ModifierKeys ctrl{false, false, false, true};   // Command
constexpr ModifierKeys ctrlShift{true, false, false, true};
constexpr ModifierKeys alt{false, false, true, false};    // Option
constexpr ModifierKeys shiftAlt{true, false, true, false};

ShortcutDecision consumed(ShortcutCommand command) { return {command, true}; }
const ShortcutDecision passesOn{std::monostate{}, false};

TEST(KeyDownTest, CommandRulesWinShiftDigitsSelectTheGainAndSpaceShowsTheOriginalOnce) {
  // Other modifiers are ignored by the Command rules, which win over the Shift gain digits.
  using K = PhysicalKey;
  using A = RegistryAction;
  const std::pair<KeyEvent, ShortcutDecision> cases[] = {
      {{K::equal, ctrlShift, false}, consumed(A::zoomIn)},   {{K::g, ctrl, false}, consumed(A::generate)},
      {{K::minus, ctrl, false}, consumed(A::zoomOut)},       {{K::digit0, ctrl, false}, consumed(A::resetImage)},
      {{K::digit1, ctrlShift, false}, consumed(A::zoomActualSize)},
      {{K::digit6, ctrl, false}, consumed(ZoomToScaleCommand{6.0})},
      {{K::digit8, ctrl, false}, consumed(ZoomToScaleCommand{8.0})},
      {{K::digit3, ctrl, false}, passesOn},                  {{K::g, none, false}, passesOn},
      {{K::digit1, shift, false}, consumed(SelectGainCommand{0})},
      {{K::digit6, shift, false}, consumed(SelectGainCommand{5})},
      {{K::digit7, shift, false}, passesOn},                 {{K::digit0, shift, false}, passesOn},
      {{K::digit3, none, false}, passesOn},                  {{K::space, none, true}, consumed(std::monostate{})},
      {{K::space, none, false}, consumed(A::showOriginal)},  {{K::space, shift, false}, consumed(A::showOriginal)},
  };
  for (std::size_t i = 0; i < std::size(cases); ++i) EXPECT_EQ(decideKeyDown(cases[i].first), cases[i].second) << i;
}

TEST(KeyUpTest, SpaceReleaseReturnsToTheDifferenceOnlyWhileShiftAloneIsHeld) {
  EXPECT_EQ(decideKeyUp({PhysicalKey::space, shift, false}), consumed(RegistryAction::showDifference));
  EXPECT_EQ(decideKeyUp({PhysicalKey::space, none, false}), consumed(RegistryAction::hideComparisonOverlay));
  EXPECT_EQ(decideKeyUp({PhysicalKey::space, ctrlShift, false}), consumed(RegistryAction::hideComparisonOverlay));
  EXPECT_EQ(decideKeyUp({PhysicalKey::space, none, true}), consumed(std::monostate{}));
  EXPECT_EQ(decideKeyUp({PhysicalKey::g, none, false}), passesOn);
  EXPECT_EQ(decideModifiersChanged(shift), (ShortcutDecision{RegistryAction::showDifference, false}));
  EXPECT_EQ(decideModifiersChanged(shiftAlt), (ShortcutDecision{RegistryAction::hideDifference, false}));
  EXPECT_EQ(decideModifiersChanged(none), (ShortcutDecision{RegistryAction::hideDifference, false}));
}

ScrollEvent wheel(double dy, ModifierKeys modifiers, double dx = 0) { return {dx, dy, false, modifiers}; }
ScrollEvent trackpad(double dy, ModifierKeys modifiers, double dx = 0) { return {dx, dy, true, modifiers}; }

TEST(ScrollTest, OptionZoomsOverTheComparisonAndPlainScrollingPansResettingTheAccumulator) {
  double accumulator = 0;
  ScrollContext over{true, true};
  EXPECT_EQ(decideScroll(trackpad(-100, alt), over, accumulator), consumed(ScrollZoomCommand{-100}));
  // A wheel notch is one line: ten points, so a 10 % step.
  EXPECT_EQ(decideScroll(wheel(1, alt), over, accumulator), consumed(ScrollZoomCommand{10}));
  // X11 turns Alt+wheel into horizontal scrolling.
  EXPECT_EQ(decideScroll(wheel(0, alt, -1), over, accumulator), consumed(ScrollZoomCommand{-10}));
  // Shift-Option zooms too, so zooming works while the difference shows.
  EXPECT_EQ(decideScroll(trackpad(5, shiftAlt), over, accumulator), consumed(ScrollZoomCommand{5}));
  EXPECT_EQ(decideScroll(trackpad(5, alt), {false, true}, accumulator), passesOn);
  accumulator = 7;
  EXPECT_EQ(decideScroll(wheel(-2, none, 1), over, accumulator), consumed(ScrollPanCommand{10, -20}));
  EXPECT_DOUBLE_EQ(accumulator, 0);
  EXPECT_EQ(decideScroll(trackpad(-2, none, 1), over, accumulator), consumed(ScrollPanCommand{1, -2}));
  // Command-scroll passes on; so does scrolling elsewhere or without a pan handler.
  EXPECT_EQ(decideScroll(trackpad(3, ctrl), over, accumulator), passesOn);
  EXPECT_EQ(decideScroll(trackpad(3, none), {false, true}, accumulator), passesOn);
  EXPECT_EQ(decideScroll(trackpad(3, none), {true, false}, accumulator), passesOn);
}

TEST(ScrollTest, ShiftAccumulatesToTenBeforeSteppingTheGain) {
  double accumulator = 0;
  ScrollContext context{false, false};
  EXPECT_EQ(decideScroll(trackpad(4, shift), context, accumulator), consumed(std::monostate{}));
  EXPECT_EQ(decideScroll(trackpad(4, shift), context, accumulator), consumed(std::monostate{}));
  EXPECT_DOUBLE_EQ(accumulator, 8);
  EXPECT_EQ(decideScroll(trackpad(2, shift), context, accumulator), consumed(StepGainCommand{1}));
  EXPECT_DOUBLE_EQ(accumulator, 0);
  EXPECT_EQ(decideScroll(trackpad(-12, shift), context, accumulator), consumed(StepGainCommand{-1}));
  // Reversing before 10 cancels out.
  decideScroll(trackpad(6, shift), context, accumulator);
  EXPECT_EQ(decideScroll(trackpad(-6, shift), context, accumulator), consumed(std::monostate{}));
  EXPECT_DOUBLE_EQ(accumulator, 0);
  // One wheel notch is ten points: one step.
  EXPECT_EQ(decideScroll(wheel(0, shift, 1), context, accumulator), consumed(StepGainCommand{1}));
}

TEST(PhysicalKeyTest, ScanCodesKeyCodesAndCharactersNameTheSameKeys) {
  using K = PhysicalKey;
  const std::pair<int, K> evdev[] = {{13, K::equal}, {34, K::g}, {57, K::space}, {7, K::digit6}, {1, K::other}};
  for (const auto& [code, key] : evdev) EXPECT_EQ(physicalKeyFromEvdevCode(code), key) << code;
  const std::pair<int, K> mac[] = {{24, K::equal}, {22, K::digit6}, {23, K::digit5}};
  for (const auto& [code, key] : mac) EXPECT_EQ(physicalKeyFromMacKeyCode(code), key) << code;
  const std::pair<char, K> characters[] = {{'g', K::g}, {'7', K::digit7}, {'!', K::other}};
  for (const auto& [character, key] : characters) EXPECT_EQ(physicalKeyFromCharacter(character), key) << character;
}

TEST(ShortcutCoordinatorTest, EachCommandKeyReachesItsOwnSlot) {
  KeyboardCommandRegistry registry;
  ShortcutCoordinator coordinator(registry);
  std::vector<std::string> calls;
  using R = KeyboardCommandRegistry;
  const std::pair<R::Action R::*, const char*> slots[] = {{&R::generate, "generate"}, {&R::zoomIn, "zoomIn"},
      {&R::zoomOut, "zoomOut"}, {&R::resetImage, "resetImage"}, {&R::zoomActualSize, "zoomActualSize"}};
  for (const auto& [slot, name] : slots) registry.*slot = [&calls, name = name] { calls.push_back(name); };
  for (PhysicalKey key : {PhysicalKey::g, PhysicalKey::equal, PhysicalKey::minus, PhysicalKey::digit0, PhysicalKey::digit1})
    EXPECT_TRUE(coordinator.keyDown({key, ctrl, false}, true));
  EXPECT_EQ(calls, (std::vector<std::string>{"generate", "zoomIn", "zoomOut", "resetImage", "zoomActualSize"}));
}

TEST(ShortcutCoordinatorTest, ActsThroughTheRegistryOnlyWhileTheGateIsOpen) {
  KeyboardCommandRegistry registry;
  ShortcutCoordinator coordinator(registry);
  std::vector<std::string> calls;
  // Matched keys are consumed even with an empty slot.
  EXPECT_TRUE(coordinator.keyDown({PhysicalKey::equal, ctrl, false}, true));
  EXPECT_TRUE(coordinator.keyUp({PhysicalKey::space, none, false}, true));
  registry.setDifferenceGainStep = [&](int index) { calls.push_back("gain " + std::to_string(index)); };
  registry.showDifference = [&] { calls.push_back("showDifference"); };
  registry.stepDifferenceGain = [&](int step) { calls.push_back("step " + std::to_string(step)); };
  // A closed gate passes everything on untouched.
  EXPECT_FALSE(coordinator.keyDown({PhysicalKey::digit3, shift, false}, false));
  EXPECT_FALSE(coordinator.modifiersChanged(shift, false));
  EXPECT_FALSE(coordinator.scroll(trackpad(20, shift), false));
  EXPECT_EQ(coordinator.differenceScrollAccumulator(), 0);
  EXPECT_TRUE(calls.empty());
  // A Shift digit sets the gain, then shows the difference; modifier changes act but pass on.
  EXPECT_TRUE(coordinator.keyDown({PhysicalKey::digit3, shift, false}, true));
  EXPECT_FALSE(coordinator.modifiersChanged(shift, true));
  EXPECT_TRUE(coordinator.scroll(trackpad(6, shift), true));
  EXPECT_TRUE(coordinator.scroll(trackpad(6, shift), true));
  EXPECT_EQ(calls, (std::vector<std::string>{"gain 2", "showDifference", "showDifference", "step 1"}));
  // Scrolling reads the pointer state and the pan handler from the registry.
  EXPECT_FALSE(coordinator.scroll(trackpad(6, none), true));
  std::pair<double, double> pan;
  registry.scrollPan = [&](double dx, double dy) { pan = {dx, dy}; };
  registry.isPointerOverComparison = true;
  EXPECT_TRUE(coordinator.scroll(wheel(1, none), true));
  EXPECT_EQ(pan, (std::pair<double, double>{0, 10}));
  registry.lastPointerLocation = PointF{10, 20};
  registry.clearPointerState();
  EXPECT_FALSE(registry.isPointerOverComparison || registry.lastPointerLocation);
  EXPECT_FALSE(coordinator.scroll(wheel(1, none), true));
}

}  // namespace
}  // namespace quorlin
