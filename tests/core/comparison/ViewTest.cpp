#include <gtest/gtest.h>

#include <cmath>

#include "core/comparison/ComparisonGeometry.h"
#include "core/comparison/KeyboardCommandRegistry.h"
#include "core/comparison/KeyboardShortcuts.h"
#include "core/comparison/LabelFade.h"
#include "core/comparison/QuadrantLabel.h"
#include "core/comparison/SplitOverlay.h"

namespace quorlin {
namespace {

// A 4000 × 3000 source in a 1000 × 800 view: fit = min(0.25, 0.2667) = 0.25.
constexpr SizeF wideView{1000, 800};
constexpr SizeF largeSource{4000, 3000};
// View 1000 × 1000 with a 1000 × 1000 source: fit 1, so the maximum pan is
// half the overflow, (zoom − 1) × 500 per axis.
constexpr SizeF squareView{1000, 1000};
constexpr SizeF squareSource{1000, 1000};

TEST(ZoomLimitsTest, MaximumIsEightHundredPercentButNeverBelowAQuarterAndEightWithoutAFit) {
  ASSERT_DOUBLE_EQ(*fitScale(wideView, largeSource), 0.25);
  ZoomLimits limits = zoomLimits(wideView, largeSource);
  EXPECT_EQ(std::pair(limits.minimum, limits.maximum), std::pair(0.25, 32.0));
  EXPECT_EQ(displayedScalePercent(32.0, wideView, largeSource), 800);
  EXPECT_DOUBLE_EQ(clampZoom(100, wideView, largeSource), 32.0);
  EXPECT_DOUBLE_EQ(clampZoom(0.1, wideView, largeSource), 0.25);
  // fit 20: 8 / 20 = 0.4 is the maximum; a fit of 64 would give 0.125, raised to 0.25.
  EXPECT_DOUBLE_EQ(zoomLimits({1000, 1000}, {50, 50}).maximum, 0.4);
  EXPECT_DOUBLE_EQ(zoomLimits({6400, 6400}, {100, 100}).maximum, 0.25);
  EXPECT_FALSE(fitScale({0, 800}, largeSource) || fitScale(wideView, {0, 0}));
  EXPECT_DOUBLE_EQ(zoomLimits(wideView, {}).maximum, 8.0);
  EXPECT_DOUBLE_EQ(zoomLimits({-5, 10}, largeSource).maximum, 8.0);
}

TEST(ZoomOperationsTest, StepsMultiplyBySquareRootOfTwoWithinTheLimits) {
  // Fit is 0.25 here, so zoom 32 is 800 %: five doublings from fit, two presses each.
  ComparisonViewState state;
  int presses = 0;
  for (; state.zoom < 32 && presses < 20; ++presses) state = zoomIn(state, wideView, largeSource);
  EXPECT_TRUE(presses == 10 && zoomIn(state, wideView, largeSource).zoom == 32);
  state.zoom = 1.0;
  state = zoomIn(zoomIn(state, wideView, largeSource), wideView, largeSource);
  EXPECT_NEAR(std::abs(state.zoom - 2.0) + std::abs(zoomOut(state, wideView, largeSource).zoom - std::sqrt(2.0)), 0, 1e-12);
  state.zoom = 0.25;
  EXPECT_DOUBLE_EQ(zoomOut(state, wideView, largeSource).zoom, 0.25);
}

TEST(ZoomOperationsTest, ActualSizeScaleAndResetTargetTheEffectiveScale) {
  ComparisonViewState panned;
  panned.panOffset = {30, 40};
  ComparisonViewState actual = zoomActualSize(panned, {1000, 500}, {2000, 1000});
  EXPECT_EQ(std::pair(actual.zoom, actual.panOffset), std::pair(2.0, SizeF{}));
  EXPECT_EQ(displayedScalePercent(actual.zoom, {1000, 500}, {2000, 1000}), 100);
  EXPECT_DOUBLE_EQ(zoomToScale({}, 4.0, wideView, largeSource).zoom, 16.0);
  EXPECT_DOUBLE_EQ(zoomToScale({}, 8.0, wideView, largeSource).zoom, 32.0);
  // A tiny source (fit 20) is at 800 % already at zoom 0.4, its maximum.
  EXPECT_DOUBLE_EQ(zoomToScale({}, 8.0, {1000, 1000}, {50, 50}).zoom, 0.4);
  // Without a source the zoom falls back to fit.
  ComparisonViewState zoomed{3.0, {100, -50}, 0.5, 0.5};
  EXPECT_DOUBLE_EQ(zoomToScale(zoomed, 2.0, wideView, {}).zoom, 1.0);
  EXPECT_DOUBLE_EQ(zoomActualSize(zoomed, wideView, {}).zoom, 1.0);
  ComparisonViewState reset = resetImage(zoomed, wideView, largeSource);
  EXPECT_EQ(std::pair(reset.zoom, reset.panOffset), std::pair(1.0, SizeF{}));
}

TEST(PanLimitsTest, PanIsHalfTheOverflowAndZoomingOutKeepsThePictureAtTheViewEdge) {
  for (double zoom : {1.0, 0.5}) EXPECT_EQ(maximumPan(squareView, squareSource, zoom), SizeF{}) << zoom;
  EXPECT_EQ(maximumPan(squareView, {}, 4.0), SizeF{});
  EXPECT_EQ(maximumPan(squareView, squareSource, 2.0), (SizeF{500, 500}));
  // A wide picture overflows only horizontally at zoom 1.5: 1500 × 750 in 1000 × 1000.
  EXPECT_EQ(maximumPan(squareView, {2000, 1000}, 1.5), (SizeF{250, 0}));
  // Below fit the pan resets; above it the pan is clamped to the new limit.
  ComparisonViewState belowFit = zoomOut({1.25, {100, 100}, 0.5, 0.5}, squareView, squareSource);
  EXPECT_EQ(std::pair(belowFit.zoom, belowFit.panOffset), std::pair(1.25 / std::sqrt(2.0), SizeF{}));
  ComparisonViewState aboveFit = zoomOut({2.0 * std::sqrt(2.0), {1000, -1000}, 0.5, 0.5}, squareView, squareSource);
  EXPECT_NEAR(aboveFit.zoom, 2.0, 1e-12);
  EXPECT_NEAR(std::abs(aboveFit.panOffset.width - 500) + std::abs(aboveFit.panOffset.height + 500), 0, 1e-9);
}

TEST(PanLimitsTest, ScrollPanOnlyWhenZoomedInAndClampedPerAxisAndHoverPanFollowsThePointer) {
  ComparisonViewState fitted;
  EXPECT_EQ(scrollPan(fitted, 50, 50, squareView, squareSource), fitted);
  ComparisonViewState panned = scrollPan({2.0, {450, 0}, 0.5, 0.5}, 100, -30, squareView, squareSource);
  EXPECT_EQ(panned.panOffset, (SizeF{500, -30}));
  panned = scrollPan(panned, -2000, -2000, squareView, squareSource);
  EXPECT_EQ(panned.panOffset, (SizeF{-500, -500}));
  // A pointer at an edge shows that edge of the picture.
  EXPECT_EQ(commandHoverPan({0, 0}, squareView, squareSource, 2.0), (SizeF{500, 500}));
  EXPECT_EQ(commandHoverPan({1000, 1000}, squareView, squareSource, 2.0), (SizeF{-500, -500}));
  EXPECT_EQ(commandHoverPan({500, 500}, squareView, squareSource, 2.0), (SizeF{0, 0}));
  EXPECT_EQ(std::pair(commandHoverPan({0, 0}, squareView, squareSource, 1.0), commandHoverPan({0, 0}, {0, 0}, squareSource, 2.0)), std::pair(SizeF{}, SizeF{}));
}

TEST(ScrollZoomTest, FactorIsLimitedToThirtyFivePercentAndZoomsAroundThePointer) {
  const std::pair<double, double> factors[] = {{-100, 0.65}, {-35, 0.65}, {-20, 0.8}, {100, 1.35}, {10, 1.1}};
  for (const auto& [delta, factor] : factors) EXPECT_DOUBLE_EQ(scrollZoomFactor(delta), factor) << delta;
  ComparisonViewState state{2.0, {}, 0.5, 0.5};
  EXPECT_EQ(std::pair(optionScrollZoom(state, -100, std::nullopt, wideView, largeSource).zoom,
                      optionScrollZoom(state, 10, std::nullopt, wideView, largeSource).zoom), std::pair(1.3, 2.2));
  // Square case at zoom 2 → 2.7: maximum pan (850, 850). A pointer at the
  // left quarter (u = 0.25) gives 850 × 0.5 to the right; the top edge, 850 down.
  ComparisonViewState zoomed = optionScrollZoom(state, 100, PointF{250, 0}, squareView, squareSource);
  EXPECT_DOUBLE_EQ(zoomed.zoom, 2.7);
  EXPECT_NEAR(std::abs(zoomed.panOffset.width - 425) + std::abs(zoomed.panOffset.height - 850), 0, 1e-9);
  // Zooming out to fit leaves nothing to pan.
  ComparisonViewState out = optionScrollZoom({1.2, {30, 30}, 0.5, 0.5}, -100, PointF{0, 0}, squareView, squareSource);
  EXPECT_EQ(out.panOffset, SizeF{});
}

TEST(DisplayedPercentTest, RoundsHalvesAwayFromZero) {
  // fit 0.125 (1000-point view, 8000-pixel source): 12.5 % → 13 %.
  // 3 × 12.5 = 37.5 → 38; undefined sizes: zoom × 100.
  EXPECT_EQ((std::vector{displayedScalePercent(1.0, {1000, 1000}, {8000, 8000}), displayedScalePercent(1.0, {1000, 1000}, {8000, 7000}),
                         displayedScalePercent(3.0, {1000, 1000}, {8000, 8000}), displayedScalePercent(0.125, {}, {}),
                         displayedScalePercent(1.0, {}, {})}), (std::vector{13, 13, 38, 13, 100}));
}

TEST(SplitClampTest, DragsStayOnePointInsideTheViewAndOnThePicture) {
  EXPECT_EQ(splitFractionsForDrag({-40, 2000}, squareView, squareSource, 1.0, {}), (PointF{1.0 / 1000, 999.0 / 1000}));
  EXPECT_EQ(splitFractionsForDrag({300, 700}, squareView, squareSource, 1.0, {}), (PointF{0.3, 0.7}));
  // Zoom 0.5: the picture covers (250, 250)–(750, 750); panned right by 100 it starts at 350.
  EXPECT_EQ(splitFractionsForDrag({100, 900}, squareView, squareSource, 0.5, {}), (PointF{0.25, 0.75}));
  EXPECT_DOUBLE_EQ(splitFractionsForDrag({0, 500}, squareView, squareSource, 0.5, {100, 0}).x, 0.35);
  // A picture moved entirely out of the view: only the inset view counts.
  EXPECT_DOUBLE_EQ(splitFractionsForDrag({-10, -10}, squareView, squareSource, 0.5, {5000, 0}).x, 0.001);
  // A 1 × 1 view has no inset rectangle; the whole view is used; fractions divide by max(1, W).
  EXPECT_EQ(splitClampRect({1, 1}, {}, 1.0, {}), (RectF{0, 0, 1, 1}));
  EXPECT_DOUBLE_EQ(splitFractionsForDrag({5, 5}, {0.5, 0.5}, {}, 1.0, {}).x, 0.5);
}

TEST(SplitClampTest, ReclampMovesTheSplitOntoThePictureAfterZoomingOut) {
  ComparisonViewState state{1.0, {}, 0.1, 0.5};
  EXPECT_EQ(reclampSplit(state, squareView, squareSource), state);
  state.zoom = 0.5;
  ComparisonViewState moved = reclampSplit(state, squareView, squareSource);
  EXPECT_EQ(std::pair(moved.comparisonX, moved.comparisonY), std::pair(0.25, 0.5));
  // Operations re-clamp too.
  ComparisonViewState out = zoomOut({std::sqrt(0.5), {}, 0.1, 0.95}, squareView, squareSource);
  EXPECT_NEAR(std::abs(out.comparisonX - 0.25) + std::abs(out.comparisonY - 0.75), 0, 1e-12);
}

TEST(CanvasRectTest, QuadrantsAndImagesOfOtherSizesShareTheScreenRectangles) {
  SizeF view{800, 600};
  const RectF centred[] = {{0, 0, 400, 300}, {400, 0, 400, 300}, {0, 300, 400, 300}, {400, 300, 400, 300}};
  for (int i = 0; i < 4; ++i) EXPECT_EQ(quadrantRect(i, view, 0.5, 0.5), centred[i]) << i;
  // Split at the top-left corner only quadrant 3 has area; at the bottom-right only quadrant 0.
  for (int i = 0; i < 3; ++i) EXPECT_TRUE(quadrantRect(i, view, 0, 0).isEmpty()) << i;
  EXPECT_EQ(std::pair(quadrantRect(3, view, 0, 0), quadrantRect(0, view, 1, 1)), std::pair(RectF{0, 0, 800, 600}, RectF{0, 0, 800, 600}));
  EXPECT_TRUE(quadrantRect(3, view, 1, 1).isEmpty());
  RectF full = canvasImageRect({1000, 800}, {4000, 3000}, 1.0, {});
  EXPECT_EQ(full, (RectF{0, 25, 1000, 750}));
  EXPECT_EQ(canvasImageRect({1000, 800}, {2000, 1500}, 1.0, {}), full);
  // Positive pan height moves the picture down (y points down here).
  EXPECT_EQ(canvasImageRect({1000, 800}, {4000, 3000}, 2.0, {10, 20}), (RectF{-490, -330, 2000, 1500}));
  EXPECT_EQ(std::pair(canvasImageRect({1000, 800}, {0, 3000}, 1.0, {}), canvasImageRect({}, {4000, 3000}, 1.0, {})), std::pair(RectF{}, RectF{}));
  // The picture rectangle, by contrast, is the whole view when undefined.
  EXPECT_EQ(pictureRect({1000, 800}, {}, 1.0, {}), (RectF{0, 0, 1000, 800}));
}

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
      {{K::digit1, ctrlShift, false}, consumed(A::zoomActualSize)}, {{K::digit6, ctrl, false}, consumed(ZoomToScaleCommand{6.0})},
      {{K::digit8, ctrl, false}, consumed(ZoomToScaleCommand{8.0})},
      {{K::digit3, ctrl, false}, passesOn},                  {{K::g, none, false}, passesOn},
      {{K::digit1, shift, false}, consumed(SelectGainCommand{0})}, {{K::digit6, shift, false}, consumed(SelectGainCommand{5})},
      {{K::digit7, shift, false}, passesOn},                 {{K::digit0, shift, false}, passesOn},
      {{K::digit3, none, false}, passesOn},                  {{K::space, none, true}, consumed(std::monostate{})},
      {{K::space, none, false}, consumed(A::showOriginal)},  {{K::space, shift, false}, consumed(A::showOriginal)},
      // Holding E shows the error map unless a command modifier is held.
      {{K::e, none, false}, consumed(A::showErrorMap)},      {{K::e, none, true}, consumed(std::monostate{})},
      {{K::e, ctrl, false}, passesOn},
  };
  for (std::size_t i = 0; i < std::size(cases); ++i) EXPECT_EQ(decideKeyDown(cases[i].first), cases[i].second) << i;
}

TEST(KeyUpTest, SpaceReleaseReturnsToTheDifferenceOnlyWhileShiftAloneIsHeld) {
  EXPECT_EQ(decideKeyUp({PhysicalKey::space, shift, false}), consumed(RegistryAction::showDifference));
  EXPECT_EQ(decideKeyUp({PhysicalKey::space, none, false}), consumed(RegistryAction::hideComparisonOverlay));
  EXPECT_EQ(decideKeyUp({PhysicalKey::space, ctrlShift, false}), consumed(RegistryAction::hideComparisonOverlay));
  EXPECT_EQ(decideKeyUp({PhysicalKey::space, none, true}), consumed(std::monostate{}));
  EXPECT_EQ(decideKeyUp({PhysicalKey::g, none, false}), passesOn);
  EXPECT_EQ(decideKeyUp({PhysicalKey::e, none, false}), consumed(RegistryAction::hideErrorMap));
  EXPECT_EQ(decideModifiersChanged(shift), (ShortcutDecision{RegistryAction::showDifference, false}));
  for (ModifierKeys keys : {shiftAlt, none}) EXPECT_EQ(decideModifiersChanged(keys), (ShortcutDecision{RegistryAction::hideDifference, false}));
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
  for (auto [modifiers, context] : {std::pair(ctrl, over), std::pair(none, ScrollContext{false, true}), std::pair(none, ScrollContext{true, false})})
    EXPECT_EQ(decideScroll(trackpad(3, modifiers), context, accumulator), passesOn);
}

TEST(ScrollTest, ShiftAccumulatesToTenBeforeSteppingTheGain) {
  double accumulator = 0;
  ScrollContext context{false, false};
  for (int i = 0; i < 2; ++i) EXPECT_EQ(decideScroll(trackpad(4, shift), context, accumulator), consumed(std::monostate{}));
  EXPECT_DOUBLE_EQ(accumulator, 8);
  EXPECT_TRUE(decideScroll(trackpad(2, shift), context, accumulator) == consumed(StepGainCommand{1}) && accumulator == 0);
  EXPECT_EQ(decideScroll(trackpad(-12, shift), context, accumulator), consumed(StepGainCommand{-1}));
  // Reversing before 10 cancels out; one wheel notch is ten points: one step.
  decideScroll(trackpad(6, shift), context, accumulator);
  EXPECT_TRUE(decideScroll(trackpad(-6, shift), context, accumulator) == consumed(std::monostate{}) && accumulator == 0);
  EXPECT_EQ(decideScroll(wheel(0, shift, 1), context, accumulator), consumed(StepGainCommand{1}));
}

TEST(PhysicalKeyTest, ScanCodesKeyCodesAndCharactersNameTheSameKeys) {
  using K = PhysicalKey;
  const std::pair<int, K> evdev[] = {{13, K::equal}, {34, K::g}, {57, K::space}, {7, K::digit6}, {1, K::other}, {18, K::e}};
  for (const auto& [code, key] : evdev) EXPECT_EQ(physicalKeyFromEvdevCode(code), key) << code;
  const std::pair<int, K> mac[] = {{24, K::equal}, {22, K::digit6}, {23, K::digit5}};
  for (const auto& [code, key] : mac) EXPECT_EQ(physicalKeyFromMacKeyCode(code), key) << code;
  const std::pair<char, K> characters[] = {{'g', K::g}, {'7', K::digit7}, {'!', K::other}};
  for (const auto& [character, key] : characters) EXPECT_EQ(physicalKeyFromCharacter(character), key) << character;
}

TEST(ShortcutCoordinatorTest, EachCommandKeyReachesItsOwnSlotAndTheRegistryActsOnlyWhileTheGateIsOpen) {
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
  calls.clear();
  // Matched keys are consumed even with an empty slot.
  registry.zoomIn = nullptr;
  EXPECT_TRUE(coordinator.keyDown({PhysicalKey::equal, ctrl, false}, true) && coordinator.keyUp({PhysicalKey::space, none, false}, true));
  registry.setDifferenceGainStep = [&](int index) { calls.push_back("gain " + std::to_string(index)); };
  registry.showDifference = [&] { calls.push_back("showDifference"); };
  registry.stepDifferenceGain = [&](int step) { calls.push_back("step " + std::to_string(step)); };
  // A closed gate passes everything on untouched.
  EXPECT_FALSE(coordinator.keyDown({PhysicalKey::digit3, shift, false}, false) || coordinator.modifiersChanged(shift, false) ||
               coordinator.scroll(trackpad(20, shift), false));
  EXPECT_TRUE(coordinator.differenceScrollAccumulator() == 0 && calls.empty());
  // A Shift digit sets the gain, then shows the difference; modifier changes act but pass on.
  EXPECT_TRUE(coordinator.keyDown({PhysicalKey::digit3, shift, false}, true));
  EXPECT_FALSE(coordinator.modifiersChanged(shift, true));
  EXPECT_TRUE(coordinator.scroll(trackpad(6, shift), true) && coordinator.scroll(trackpad(6, shift), true));
  EXPECT_EQ(calls, (std::vector<std::string>{"gain 2", "showDifference", "showDifference", "step 1"}));
  // Scrolling reads the pointer state and the pan handler from the registry.
  EXPECT_FALSE(coordinator.scroll(trackpad(6, none), true));
  std::pair<double, double> pan;
  registry.scrollPan = [&](double dx, double dy) { pan = {dx, dy}; };
  registry.isPointerOverComparison = true;
  EXPECT_TRUE(coordinator.scroll(wheel(1, none), true) && pan.first == 0 && pan.second == 10);
  registry.lastPointerLocation = PointF{10, 20};
  registry.clearPointerState();
  EXPECT_FALSE(registry.isPointerOverComparison || registry.lastPointerLocation);
  EXPECT_FALSE(coordinator.scroll(wheel(1, none), true));
}

TEST(DifferenceGainTest, StepsStopAtTheEndsUnknownGainsCountAsTwoAndOnlyIndicesZeroToFiveSet) {
  const std::tuple<int, int, int> steps[] = {{2, 1, 4},  {2, -1, 1}, {16, 1, 32}, {32, 1, 32},
                                             {1, -1, 1}, {3, 1, 4},  {0, -1, 1},  {64, 0, 2}};
  for (const auto& [gain, step, expected] : steps) EXPECT_EQ(stepDifferenceGain(gain, step), expected) << gain;
  const std::tuple<int, int, int> sets[] = {{2, 0, 1}, {2, 3, 8}, {2, 5, 32}, {16, 6, 16}, {16, -1, 16}};
  for (const auto& [gain, index, expected] : sets) EXPECT_EQ(setDifferenceGainStep(gain, index), expected) << index;
}

const std::vector<QuadrantPanelSummary> panels{
    {"JPEG XL", true, false}, {"AVIF", true, true}, {"HEIF (System)", false, false}};

TEST(QuadrantLabelTest, NamesTheCodecOrTheOriginalAndMarksAStaleResultInRed) {
  EXPECT_EQ(quadrantLabel(0, panels, false, false, 2), (QuadrantLabel{"1  JPEG XL", LabelBackground::normal}));
  // No result, or no panel at that index, shows the source.
  EXPECT_EQ(quadrantLabel(2, panels, false, false, 2), (QuadrantLabel{"3  Original", LabelBackground::normal}));
  EXPECT_EQ(quadrantLabel(3, panels, false, false, 2), (QuadrantLabel{"4  Original", LabelBackground::normal}));
  EXPECT_EQ(quadrantLabel(1, panels, false, false, 2), (QuadrantLabel{"2  AVIF - Needs Regeneration", LabelBackground::needsRegeneration}));
  // After regeneration the same panel is back on black.
  std::vector<QuadrantPanelSummary> regenerated = panels;
  regenerated[1].needsRegeneration = false;
  EXPECT_EQ(quadrantLabel(1, regenerated, false, false, 2), (QuadrantLabel{"2  AVIF", LabelBackground::normal}));
  EXPECT_EQ(labelBackgroundColor(LabelBackground::normal), (RGBAColor{0, 0, 0, 0.58}));
  EXPECT_EQ(labelBackgroundColor(LabelBackground::needsRegeneration).alpha, 0.76);
}

TEST(QuadrantLabelTest, DisplayModesOverrideTheCodecName) {
  // Difference: only panels with a result say so; the original mode wins over everything.
  EXPECT_EQ(quadrantLabel(1, panels, false, true, 16), (QuadrantLabel{"2  Difference \xC3\x97" "16", LabelBackground::normal}));
  EXPECT_EQ(quadrantLabel(2, panels, false, true, 16).text, "3  Original");
  EXPECT_EQ(quadrantLabel(0, panels, true, true, 16).text, "1  Original");
  // A failed panel shows no difference: its quadrant must not pass for a perfect match.
  std::vector<QuadrantPanelSummary> failed = panels;
  failed[2].hasFailed = true;
  EXPECT_EQ(quadrantLabel(2, failed, false, true, 16).text, "3  Failed");
  EXPECT_EQ(quadrantLabel(2, failed, false, false, 16).text, "3  Original");
  EXPECT_EQ(quadrantLabel(2, failed, true, true, 16).text, "3  Original");
  EXPECT_EQ(differenceBadgeText(8), "Difference \xC3\x97" "8");
}

TEST(QuadrantLabelTest, LabelsSitTwelvePointsFromTheSplitAndTheCrossIsCentredOnIt) {
  PointF split{400, 300};
  SizeF size{100, 20};
  const PointF origins[] = {{288, 268}, {412, 268}, {288, 312}, {412, 312}};
  for (int i = 0; i < 4; ++i) EXPECT_EQ(quadrantLabelOrigin(i, split, size), origins[i]) << i;
  // Not measured yet: width 0, height 24.
  EXPECT_EQ(quadrantLabelOrigin(0, split, std::nullopt), (PointF{388, 264}));
  EXPECT_EQ(quadrantLabelOrigin(3, split, std::nullopt), (PointF{412, 312}));
  SplitOverlayLayout layout = splitOverlayLayout({800, 600}, 0.25, 0.5);
  EXPECT_EQ(layout.splitPoint, (PointF{200, 300}));
  EXPECT_EQ((std::vector{layout.verticalLine, layout.horizontalLine, layout.handle}),
            (std::vector<RectF>{{199.5, 0, 1, 600}, {0, 299.5, 800, 1}, {184, 284, 32, 32}}));
  EXPECT_EQ(differenceBadgeFrame({800, 600}, {120, 30}), (RectF{340, 554, 120, 30}));
}

using std::chrono::milliseconds;

TEST(LabelFadeTest, LabelsHideOnePointFourSecondsAfterTheLastDragUnlessADisplayModeHoldsThem) {
  LabelFade fade;
  fade.show(milliseconds(1000));
  EXPECT_FALSE(fade.advance(milliseconds(2000)));
  fade.show(milliseconds(2000));   // a later drag restarts the wait
  EXPECT_FALSE(fade.advance(milliseconds(3399)));
  EXPECT_TRUE(fade.isVisible() && fade.pendingFadeDeadline() == milliseconds(3400));
  EXPECT_TRUE(fade.advance(milliseconds(3400)));
  EXPECT_FALSE(fade.isVisible() || fade.pendingFadeDeadline());
  EXPECT_FALSE(fade.advance(milliseconds(9000)));
  EXPECT_EQ((std::vector{fade.opacity(false, false), fade.opacity(true, false), fade.opacity(false, true)}), (std::vector{0.0, 1.0, 1.0}));
  fade.show(milliseconds(9500));
  EXPECT_EQ(fade.opacity(false, false), 1.0);
}

}  // namespace
}  // namespace quorlin
