#include "core/engine/TargetSearch.h"

#include <cmath>
#include <cstdio>
#include <optional>
#include <vector>

#include "core/common/Cancellation.h"
#include "core/common/CompressionError.h"

namespace quorlin {

namespace {

constexpr double acceptanceMargin = 0.5;
constexpr double minimumFraction = 0.15;
constexpr double maximumFraction = 0.85;
constexpr int maximumProbes = 8;

// The per-kind constants of the search.
struct SearchScale {
  bool isDistance;
  double firstProbe;
  double worstEnd;   // initial `low`: known (assumed) to score too low
  double bestEnd;    // initial `high`: known (assumed) to reach the target
  double step;
  double upperClamp;

  double round(double value) const {
    // std::round takes halves away from zero, as both kinds require.
    return isDistance ? std::round(value * 20.0) / 20.0 : std::round(value);
  }
  double stepTowardsWorse(double p) const { return isDistance ? p * 2.5 : p - 0.35 * (p - 1.0); }
  double stepTowardsBetter(double p) const { return isDistance ? p / 2.5 : p + 0.6 * (100.0 - p); }
  double limitAndRound(double q) const {
    if (q <= step) q = step;
    if (q > upperClamp) q = upperClamp;
    return round(q);
  }
};

constexpr SearchScale distanceScale{true, 1.0, 25.0, 0.05, 0.05, 25.0};
constexpr SearchScale qualityScale{false, 85.0, 1.0, 100.0, 1.0, 100.0};

std::string parameterText(const SearchScale& scale, double parameter) {
  if (scale.isDistance) return "distance " + formatDistance(parameter);
  return "quality " + std::to_string(static_cast<int>(parameter));
}

std::string formatted(const char* format, double value) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, format, value);
  return buffer;
}

bool isBetterProbe(const SearchProbe& candidate, const SearchProbe& best, double target) {
  const bool candidateAcceptable = candidate.score >= target - acceptanceMargin;
  const bool bestAcceptable = best.score >= target - acceptanceMargin;
  if (candidateAcceptable != bestAcceptable) return candidateAcceptable;
  if (!candidateAcceptable) return std::abs(candidate.score - target) < std::abs(best.score - target);
  return candidate.result.encodedSize < best.result.encodedSize;
}

}  // namespace

CompressionResult searchTargetScore(const CodecPanel& panel, const SearchProgress& progress,
                                    const ProbeEvaluator& evaluate, std::stop_token stopToken) {
  // The search chooses the rate parameter, so lossless modes would defeat it.
  CodecPanel base = panel;
  base.isWebPLossless = false;
  base.isAVIFLossless = false;
  base.isHEIFLossless = false;
  base.isJPEGLosslessTranscode = false;

  const SearchScale& scale =
      codecInfo(panel.codec).rateParameter == RateParameterKind::distance ? distanceScale : qualityScale;
  const double target = panel.targetScore;
  double low = scale.worstEnd;
  double high = scale.bestEnd;
  double scoreBelow = 0;
  double scoreAbove = 0;
  bool noProbeBelow = true;
  bool noProbeAbove = true;
  std::vector<double> probedParameters;
  std::optional<SearchProbe> best;
  std::vector<SearchProbePoint> probes;

  throwIfCancelled(stopToken);

  double p = scale.firstProbe;
  for (int probeNumber = 1;; ++probeNumber) {
    CodecPanel probePanel = base;
    if (scale.isDistance) {
      probePanel.distance = p;
    } else {
      probePanel.quality = static_cast<int>(p);
    }
    const std::string prefix = "Probe " + std::to_string(probeNumber) + ": " + parameterText(scale, p);
    if (progress) progress(prefix + "...");

    SearchProbe probe{p, 0, evaluate(probePanel)};
    probe.score = probe.result.ssimulacra2Score;
    const double s = probe.score;
    probedParameters.push_back(p);
    const CompressionResult& made = probe.result;
    probes.push_back({p, made.encodedSize, s, made.encodeDuration, made.decodeDuration, made.commandLine});
    if (progress) {
      progress(prefix + " scored " + formatted("%.1f", s) + " (target " + formatted("%.0f", target) + ")");
    }

    // Keep only the best probe's files on disk.
    if (!best || isBetterProbe(probe, *best, target)) {
      if (best) best->result.removeWorkDirectory();
      best = std::move(probe);
    } else {
      probe.result.removeWorkDirectory();
    }

    if (std::abs(s - target) <= acceptanceMargin) break;

    if (s < target) {
      low = p;
      scoreBelow = s;
      noProbeBelow = false;
    } else {
      high = p;
      scoreAbove = s;
      noProbeAbove = false;
    }
    if (std::abs(high - low) <= scale.step) break;

    double q;
    if (noProbeBelow || noProbeAbove || scoreAbove <= scoreBelow) {
      q = s >= target ? scale.stepTowardsWorse(p) : scale.stepTowardsBetter(p);
    } else {
      double fraction = (target - scoreBelow) / (scoreAbove - scoreBelow);
      if (fraction <= minimumFraction) fraction = minimumFraction;
      if (fraction > maximumFraction) fraction = maximumFraction;
      q = low + (high - low) * fraction;
    }
    q = scale.limitAndRound(q);

    if (probeNumber == maximumProbes) break;
    throwIfCancelled(stopToken);

    auto alreadyProbed = [&](double value) {
      for (double probed : probedParameters) {
        if (probed == value) return true;
      }
      return false;
    };
    if (alreadyProbed(q)) {
      q = scale.limitAndRound((low + high) / 2.0);
      if (alreadyProbed(q)) break;
    }
    p = q;
  }

  if (!best) {
    throw CompressionError::processFailed("target search",
                                          "No successful probes for " + std::string(displayName(panel.codec)) + ".");
  }
  CompressionResult chosen = std::move(best->result);
  chosen.searchProbes = std::move(probes);
  if (scale.isDistance) {
    chosen.foundDistance = best->parameter;
  } else {
    chosen.foundQuality = static_cast<int>(best->parameter);
  }
  return chosen;
}

}  // namespace quorlin
