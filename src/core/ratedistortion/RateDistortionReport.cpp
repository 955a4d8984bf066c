#include "core/ratedistortion/RateDistortionReport.h"

#include <charconv>
#include <cmath>

#include "core/common/JsonWriter.h"
#include "core/engine/FixedNotation.h"

namespace quorlin {

namespace {

constexpr std::string_view minusSign = "\u2212";

std::string signedText(double value, int decimals) {
  std::string text = fixedNotation(std::abs(value), decimals);
  if (text == fixedNotation(0, decimals)) return text;
  return (value < 0 ? std::string(minusSign) : std::string("+")) + text;
}

std::string statusWords(BjontegaardStatus status) {
  if (status == BjontegaardStatus::tooFewPoints) {
    return "needs " + std::to_string(minimumCurvePoints) + " points";
  }
  return "curves do not overlap";
}

std::string csvField(const std::string& text) {
  if (text.find_first_of(",\"\n\r") == std::string::npos) return text;
  std::string quoted = "\"";
  for (char c : text) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  return quoted + "\"";
}

// Shortest text that reads back as the same double, whatever the locale.
std::string number(double value) {
  if (!std::isfinite(value)) return {};
  char buffer[64];
  auto [end, error] = std::to_chars(buffer, buffer + sizeof buffer, value);
  return error == std::errc() ? std::string(buffer, end) : std::string();
}

}  // namespace

std::vector<PanelDelta> deltasAgainst(std::span<const PanelSweep> sweeps, std::size_t anchorIndex) {
  std::vector<PanelDelta> deltas;
  if (anchorIndex >= sweeps.size()) return deltas;
  const RateDistortionCurve anchor = sweeps[anchorIndex].curve();
  for (std::size_t i = 0; i < sweeps.size(); ++i) {
    if (i == anchorIndex) continue;
    const RateDistortionCurve test = sweeps[i].curve();
    deltas.push_back({sweeps[i].panelNumber, sweeps[anchorIndex].panelNumber, bjontegaardDeltaRate(anchor, test),
                      bjontegaardDeltaScore(anchor, test)});
  }
  return deltas;
}

std::string deltaRateText(const BjontegaardDelta& delta) {
  if (!delta.value) return statusWords(delta.status);
  std::string text = signedText(*delta.value * 100, 1) + "% size";
  if (delta.status == BjontegaardStatus::outlier) text += " (outlier)";
  return text;
}

std::string deltaScoreText(const BjontegaardDelta& delta) {
  if (!delta.value) return statusWords(delta.status);
  return signedText(*delta.value, 1) + " points";
}

std::string overlapText(const BjontegaardDelta& rate) {
  if (!rate.value) return {};
  return "SSIMULACRA2 " + fixedNotation(rate.overlapLow, 1) + "\u2013" + fixedNotation(rate.overlapHigh, 1) + " (" +
         fixedNotation(rate.overlapRatio * 100, 0) + "% of the range)";
}

void writeSourceJson(JsonWriter& json, const RateDistortionSource& source) {
  json.key("source").beginObject();
  json.key("path").value(source.path.string());
  json.key("pixelWidth").value(source.pixelWidth);
  json.key("pixelHeight").value(source.pixelHeight);
  json.key("fileSize").value(source.fileSize);
  json.key("colorProfileName").value(source.colorProfileName);
  json.key("contentHeadroom").value(source.contentHeadroom);
  json.endObject();
}

std::string rateDistortionJson(const RateDistortionSource& source, std::span<const PanelSweep> sweeps,
                               std::span<const PanelDelta> deltas) {
  JsonWriter json;
  json.beginObject();
  writeSourceJson(json, source);
  json.key("panels").beginArray();
  for (const PanelSweep& sweep : sweeps) {
    const RateDistortionCurve curve = sweep.curve();
    json.beginObject();
    json.key("panel").value(sweep.panelNumber);
    json.key("codec").value(rawValue(sweep.panel.codec));
    json.key("signature").value(sweep.panel.settingsSignature());
    json.key("samples").beginArray();
    for (std::size_t i = 0; i < sweep.samples.size(); ++i) {
      const RateDistortionSample& sample = sweep.samples[i];
      json.beginObject();
      json.key("setting").value(sample.settingValue);
      json.key("settingsSignature").value(sample.settingsSignature);
      json.key("encodedSize").value(sample.encodedSize);
      json.key("bitsPerPixel").value(sample.bitsPerPixel);
      json.key("ssimulacra2Score").value(sample.ssimulacra2Score);
      json.key("encodeDuration").value(sample.encodeDuration);
      json.key("decodeDuration").value(sample.decodeDuration);
      json.key("commandLine").value(sample.commandLine);
      json.key("targetScore").value(sample.targetScore);
      json.key("kept").value(static_cast<bool>(curve.kept[i]));
      json.endObject();
    }
    json.endArray();
    json.key("failures").beginArray();
    for (const SweepFailure& failure : sweep.failures) {
      json.beginObject();
      json.key(failure.isTargetScore ? "target" : "setting").value(failure.value);
      json.key("message").value(failure.message);
      json.endObject();
    }
    json.endArray();
    json.endObject();
  }
  json.endArray();
  json.key("bd").beginArray();
  for (const PanelDelta& delta : deltas) {
    json.beginObject();
    json.key("panel").value(delta.panelNumber);
    json.key("anchor").value(delta.anchorNumber);
    json.key("bdRate").value(delta.rate.value);
    json.key("bdScore").value(delta.score.value);
    if (delta.rate.value) {
      json.key("overlapLow").value(delta.rate.overlapLow);
      json.key("overlapHigh").value(delta.rate.overlapHigh);
      json.key("overlapRatio").value(delta.rate.overlapRatio);
    } else {
      json.key("overlapLow").null();
      json.key("overlapHigh").null();
      json.key("overlapRatio").null();
    }
    json.key("status").value(statusName(delta.rate.status));
    json.endObject();
  }
  json.endArray();
  json.endObject();
  return json.text();
}

std::string rateDistortionCsv(std::span<const PanelSweep> sweeps) {
  std::string text =
      "panel,codec,setting,encodedSize,bitsPerPixel,ssimulacra2Score,encodeDuration,decodeDuration,kept,"
      "targetScore,commandLine\n";
  for (const PanelSweep& sweep : sweeps) {
    const RateDistortionCurve curve = sweep.curve();
    for (std::size_t i = 0; i < sweep.samples.size(); ++i) {
      const RateDistortionSample& sample = sweep.samples[i];
      text += std::to_string(sweep.panelNumber) + ',' + csvField(std::string(rawValue(sweep.panel.codec))) + ',' +
              number(sample.settingValue) + ',' + std::to_string(sample.encodedSize) + ',' +
              (sample.bitsPerPixel ? number(*sample.bitsPerPixel) : "") + ',' + number(sample.ssimulacra2Score) +
              ',' + number(sample.encodeDuration) + ',' + number(sample.decodeDuration) + ',' +
              (curve.kept[i] ? "true" : "false") + ',' + (sample.targetScore ? number(*sample.targetScore) : "") +
              ',' + csvField(sample.commandLine) + '\n';
    }
  }
  return text;
}

}  // namespace quorlin
