#include "core/corpus/CorpusReport.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <set>

#include "core/common/JsonWriter.h"
#include "core/corpus/CorpusResultsFile.h"

namespace quorlin {

namespace fs = std::filesystem;

namespace {

constexpr const char* minus = "\u2212";
constexpr const char* palette[] = {"#1f6fb4", "#d9480f", "#2b8a3e", "#862e9c"};

std::string fixed(double value, int decimals) {
  char text[64];
  std::snprintf(text, sizeof text, "%.*f", decimals, value);
  return text;
}

// "−23.4%", "+5.0%"
std::string percentText(double fraction) {
  const double percent = fraction * 100;
  return (percent < 0 ? std::string(minus) : std::string("+")) + fixed(std::fabs(percent), 1) + "%";
}

std::string optionalPercent(const std::optional<double>& fraction) {
  return fraction ? percentText(*fraction) : "\u2013";
}

std::string reasonOf(const BjontegaardDelta& delta, std::size_t panelPoints, std::size_t anchorPoints) {
  switch (delta.status) {
    case BjontegaardStatus::tooFewPoints:
      return "too few points (" + std::to_string(panelPoints) + " and " + std::to_string(anchorPoints) +
             " on the anchor; " + std::to_string(minimumCurvePoints) + " needed)";
    case BjontegaardStatus::noOverlap:
      return "no overlap of the scores with the anchor";
    case BjontegaardStatus::outlier:
      return "outlier (BD-rate beyond \u00b11000%)";
    case BjontegaardStatus::ok:
      break;
  }
  return {};
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const std::size_t middle = values.size() / 2;
  return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

std::string htmlEscaped(std::string_view text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&#39;"; break;
      default: out.push_back(c);
    }
  }
  return out;
}

std::string csvField(std::string_view text) {
  if (text.find_first_of(",\"\n\r") == std::string_view::npos) return std::string(text);
  std::string out = "\"";
  for (char c : text) {
    if (c == '"') out.push_back('"');
    out.push_back(c);
  }
  return out + "\"";
}

std::string panelName(const CorpusReport& report, int panel) {
  for (const auto& summary : report.panels) {
    if (summary.panel == panel) return "Panel " + std::to_string(panel) + " (" + summary.codec + ")";
  }
  return "Panel " + std::to_string(panel);
}

// A small rate–distortion chart: each panel's kept points, bits per pixel on a
// logarithmic axis against SSIMULACRA2.
std::string curveChart(const CorpusImageRow& row, double width, double height) {
  double lowRate = INFINITY, highRate = -INFINITY, lowScore = INFINITY, highScore = -INFINITY;
  for (const auto& [panel, curve] : row.panels) {
    for (const auto& point : curve.curve.cleaned) {
      lowRate = std::min(lowRate, std::log10(point.rate));
      highRate = std::max(highRate, std::log10(point.rate));
      lowScore = std::min(lowScore, point.score);
      highScore = std::max(highScore, point.score);
    }
  }
  std::string svg = "<svg class=\"rd\" width=\"" + fixed(width, 0) + "\" height=\"" + fixed(height, 0) +
                    "\" viewBox=\"0 0 " + fixed(width, 0) + " " + fixed(height, 0) +
                    "\" role=\"img\" aria-label=\"rate-distortion curves\">"
                    "<rect x=\"0.5\" y=\"0.5\" width=\"" + fixed(width - 1, 0) + "\" height=\"" +
                    fixed(height - 1, 0) + "\" fill=\"#fff\" stroke=\"#ccc\"/>";
  if (!std::isfinite(lowRate)) return svg + "<text x=\"8\" y=\"20\" font-size=\"11\">no points</text></svg>";
  if (highRate - lowRate < 1e-9) highRate = lowRate + 1;
  if (highScore - lowScore < 1e-9) highScore = lowScore + 1;
  const double margin = 8;
  auto x = [&](double rate) { return margin + (std::log10(rate) - lowRate) / (highRate - lowRate) * (width - 2 * margin); };
  auto y = [&](double score) { return height - margin - (score - lowScore) / (highScore - lowScore) * (height - 2 * margin); };
  for (const auto& [panel, curve] : row.panels) {
    const char* colour = palette[static_cast<std::size_t>(panel - 1) % 4];
    std::string points;
    for (const auto& point : curve.curve.cleaned) points += fixed(x(point.rate), 1) + "," + fixed(y(point.score), 1) + " ";
    svg += "<polyline fill=\"none\" stroke=\"" + std::string(colour) + "\" stroke-width=\"1.5\" points=\"" + points + "\"/>";
    for (const auto& point : curve.curve.cleaned) {
      svg += "<circle r=\"2\" fill=\"" + std::string(colour) + "\" cx=\"" + fixed(x(point.rate), 1) + "\" cy=\"" +
             fixed(y(point.score), 1) + "\"/>";
    }
  }
  return svg + "</svg>";
}

// The aggregate chart: each panel's median BD-rate as a bar, its mean as a tick.
std::string aggregateChart(const CorpusReport& report) {
  std::vector<const CorpusPanelSummary*> shown;
  double extent = 0.05;
  for (const auto& summary : report.panels) {
    if (summary.panel == report.anchor || !summary.medianBdRate) continue;
    shown.push_back(&summary);
    extent = std::max({extent, std::fabs(*summary.medianBdRate), std::fabs(summary.meanBdRate.value_or(0))});
  }
  const double width = 640, rowHeight = 34, labelWidth = 190;
  const double height = 40 + rowHeight * static_cast<double>(std::max<std::size_t>(shown.size(), 1));
  const double zero = labelWidth + (width - labelWidth - 20) / 2;
  // Three quarters of each half, so the value label beside the longest bar fits.
  const double scale = (width - labelWidth - 20) / 2 * 0.75 / extent;
  std::string svg = "<svg id=\"aggregate-chart\" width=\"640\" height=\"" + fixed(height, 0) + "\" viewBox=\"0 0 640 " +
                    fixed(height, 0) + "\" role=\"img\" aria-label=\"median BD-rate per panel\">";
  svg += "<line x1=\"" + fixed(zero, 1) + "\" y1=\"10\" x2=\"" + fixed(zero, 1) + "\" y2=\"" + fixed(height - 20, 1) +
         "\" stroke=\"#444\"/>";
  svg += "<text x=\"" + fixed(zero, 1) + "\" y=\"" + fixed(height - 6, 1) +
         "\" font-size=\"11\" text-anchor=\"middle\">0% (anchor: " + htmlEscaped(panelName(report, report.anchor)) +
         ")</text>";
  if (shown.empty()) {
    svg += "<text x=\"10\" y=\"34\" font-size=\"12\">No panel has a BD-rate against the anchor.</text>";
  }
  for (std::size_t i = 0; i < shown.size(); ++i) {
    const CorpusPanelSummary& s = *shown[i];
    const double top = 14 + rowHeight * static_cast<double>(i);
    const double end = zero + *s.medianBdRate * scale;
    const char* colour = palette[static_cast<std::size_t>(s.panel - 1) % 4];
    svg += "<text x=\"4\" y=\"" + fixed(top + 16, 1) + "\" font-size=\"12\">" +
           htmlEscaped(panelName(report, s.panel)) + "</text>";
    svg += "<rect x=\"" + fixed(std::min(zero, end), 1) + "\" y=\"" + fixed(top + 4, 1) + "\" width=\"" +
           fixed(std::max(std::fabs(end - zero), 1.0), 1) + "\" height=\"18\" fill=\"" + colour + "\"/>";
    if (s.meanBdRate) {
      const double mean = zero + *s.meanBdRate * scale;
      svg += "<line x1=\"" + fixed(mean, 1) + "\" y1=\"" + fixed(top, 1) + "\" x2=\"" + fixed(mean, 1) + "\" y2=\"" +
             fixed(top + 26, 1) + "\" stroke=\"#000\" stroke-width=\"2\"/>";
    }
    svg += "<text x=\"" + fixed(end + (end < zero ? -4 : 4), 1) + "\" y=\"" + fixed(top + 17, 1) +
           "\" font-size=\"11\" text-anchor=\"" + (end < zero ? "end" : "start") + "\">" +
           percentText(*s.medianBdRate) + "</text>";
  }
  return svg + "</svg>";
}

}  // namespace

std::vector<CorpusRecord> readRunFolders(const std::vector<fs::path>& runFolders) {
  std::vector<CorpusRecord> records;
  for (const auto& folder : runFolders) {
    const auto files = resultsFilesIn(folder);
    if (files.empty()) throw CorpusError(folder.string() + " holds no results files (results-K-of-N.jsonl)");
    for (const auto& file : files) {
      auto contents = readResultsFile(file);
      for (auto& record : contents.records) records.push_back(std::move(record));
    }
  }
  return records;
}

CorpusReport buildCorpusReport(const std::vector<CorpusRecord>& records, int anchor) {
  if (records.empty()) throw CorpusError("the results files hold no results");
  CorpusReport report;
  report.anchor = anchor;
  std::set<std::string> keys;
  std::map<std::string, CorpusImageRow> rows;  // by image hash
  std::map<int, std::string> codecs;
  std::map<int, std::map<double, std::pair<double, double>>> pooled;  // panel, target: bits, pixels
  for (const auto& record : records) {
    if (!keys.insert(record.key()).second) {
      ++report.duplicateRecords;
      continue;
    }
    auto [codec, isNew] = codecs.try_emplace(record.panel, record.codec);
    if (!isNew && codec->second != record.codec) {
      throw CorpusError("the results mix panel sets: panel " + std::to_string(record.panel) + " is " + codec->second +
                        " in some and " + record.codec + " in others");
    }
    report.isTargetMode = report.isTargetMode || record.isTarget;
    CorpusImageRow& row = rows[record.imageSha256];
    if (row.image.empty() || record.image < row.image) row.image = record.image;
    row.imageSha256 = record.imageSha256;
    row.width = std::max(row.width, record.width);
    row.height = std::max(row.height, record.height);
    CorpusPanelCurve& curve = row.panels[record.panel];
    if (!record.isOk) {
      ++curve.failedUnits;
      continue;
    }
    curve.records.push_back(record);
    if (record.isTarget && record.width > 0 && record.height > 0) {
      auto& [bits, pixels] = pooled[record.panel][record.setting];
      bits += static_cast<double>(record.encodedSize) * 8;
      pixels += static_cast<double>(record.width * record.height);
    }
  }
  if (!codecs.contains(anchor)) {
    throw CorpusError("--anchor names panel " + std::to_string(anchor) + ", but the results have no panel " +
                      std::to_string(anchor));
  }
  for (auto& [hash, row] : rows) {
    for (auto& [panel, curve] : row.panels) {
      std::sort(curve.records.begin(), curve.records.end(),
                [](const CorpusRecord& a, const CorpusRecord& b) { return a.setting < b.setting; });
      std::vector<RatePoint> points;
      for (const auto& record : curve.records) {
        points.push_back({record.bitsPerPixel.value_or(static_cast<double>(record.encodedSize)),
                          record.ssimulacra2.value_or(NAN)});
      }
      curve.curve = RateDistortionCurve(std::move(points));
    }
    const CorpusPanelCurve* anchorCurve = row.panels.contains(anchor) ? &row.panels.at(anchor) : nullptr;
    for (const auto& [panel, codec] : codecs) {
      if (panel == anchor) {
        if (anchorCurve && anchorCurve->failedUnits) {
          row.leftOut[panel] = std::to_string(anchorCurve->failedUnits) + " failed units";
        }
        continue;
      }
      auto found = row.panels.find(panel);
      if (found == row.panels.end() || !anchorCurve) {
        row.leftOut[panel] = found == row.panels.end() ? "no units of this panel" : "no units of the anchor";
        continue;
      }
      const std::size_t failed = found->second.failedUnits + anchorCurve->failedUnits;
      row.bdRate[panel] = bjontegaardDeltaRate(anchorCurve->curve, found->second.curve);
      row.bdScore[panel] = bjontegaardDeltaScore(anchorCurve->curve, found->second.curve);
      if (failed) {
        row.leftOut[panel] = std::to_string(failed) + " failed units (panel and anchor)";
      } else if (row.bdRate[panel].status != BjontegaardStatus::ok) {
        row.leftOut[panel] =
            reasonOf(row.bdRate[panel], found->second.curve.keptCount(), anchorCurve->curve.keptCount());
      }
    }
  }
  for (auto& [hash, row] : rows) report.images.push_back(std::move(row));
  std::sort(report.images.begin(), report.images.end(),
            [](const CorpusImageRow& a, const CorpusImageRow& b) { return a.image < b.image; });
  for (const auto& [panel, codec] : codecs) {
    CorpusPanelSummary summary;
    summary.panel = panel;
    summary.codec = codec;
    std::vector<double> rates, scores;
    for (const auto& row : report.images) {
      if (auto reason = row.leftOut.find(panel); reason != row.leftOut.end()) {
        summary.leftOut.emplace_back(row.image, reason->second);
        continue;
      }
      if (panel == anchor) {
        ++summary.count;
        continue;
      }
      rates.push_back(*row.bdRate.at(panel).value);
      if (auto score = row.bdScore.at(panel); score.value) scores.push_back(*score.value);
    }
    if (panel != anchor) summary.count = rates.size();
    if (!rates.empty()) {
      double sum = 0, logSum = 0;
      for (double rate : rates) {
        sum += rate;
        logSum += std::log1p(rate);
      }
      summary.meanBdRate = sum / static_cast<double>(rates.size());
      summary.medianBdRate = median(rates);
      summary.geometricMeanBdRate = std::expm1(logSum / static_cast<double>(rates.size()));
    }
    if (!scores.empty()) {
      double sum = 0;
      for (double score : scores) sum += score;
      summary.meanBdScore = sum / static_cast<double>(scores.size());
    }
    for (const auto& [target, totals] : pooled[panel]) {
      if (totals.second > 0) summary.pooledBitsPerPixel[target] = totals.first / totals.second;
    }
    report.panels.push_back(std::move(summary));
  }
  return report;
}

std::string corpusReportText(const CorpusReport& report) {
  std::string text = std::to_string(report.images.size()) + " images; BD-rate against " +
                     panelName(report, report.anchor) + " (size at equal SSIMULACRA2):\n";
  text += "  Panel                          Images  Mean      Median    Geo. mean  BD-score\n";
  for (const auto& s : report.panels) {
    if (s.panel == report.anchor) continue;
    // Padded by hand: the minus sign is one column but three bytes.
    auto column = [](std::string cell, std::size_t width) {
      std::size_t columns = 0;
      for (char c : cell) columns += (static_cast<unsigned char>(c) & 0xc0) != 0x80;
      return cell + std::string(width > columns ? width - columns : 0, ' ');
    };
    text += "  " + column(panelName(report, s.panel), 31) + column(std::to_string(s.count), 6) + "  " +
            column(optionalPercent(s.meanBdRate), 10) + column(optionalPercent(s.medianBdRate), 10) +
            column(optionalPercent(s.geometricMeanBdRate), 11) +
            (s.meanBdScore ? (*s.meanBdScore < 0 ? minus : "+") + fixed(std::fabs(*s.meanBdScore), 2) : "\u2013") +
            "\n";
  }
  for (const auto& s : report.panels) {
    if (!s.pooledBitsPerPixel.empty()) {
      text += panelName(report, s.panel) + " pooled bits per pixel:";
      for (const auto& [target, bpp] : s.pooledBitsPerPixel) text += " " + numberText(target) + ": " + fixed(bpp, 3);
      text += "\n";
    }
  }
  for (const auto& s : report.panels) {
    for (const auto& [image, reason] : s.leftOut) {
      text += "Left out of " + panelName(report, s.panel) + ": " + image + ": " + reason + "\n";
    }
  }
  return text;
}

std::string corpusReportJson(const CorpusReport& report) {
  JsonWriter json;
  json.beginObject().key("anchor").value(report.anchor).key("imageCount").value(static_cast<std::int64_t>(report.images.size()));
  json.key("panels").beginArray();
  for (const auto& s : report.panels) {
    json.beginObject().key("panel").value(s.panel).key("codec").value(s.codec);
    json.key("count").value(static_cast<std::int64_t>(s.count));
    json.key("meanBdRate").value(s.meanBdRate).key("medianBdRate").value(s.medianBdRate);
    json.key("geometricMeanBdRate").value(s.geometricMeanBdRate).key("meanBdScore").value(s.meanBdScore);
    json.key("pooledBitsPerPixel").beginArray();
    for (const auto& [target, bpp] : s.pooledBitsPerPixel) {
      json.beginObject().key("targetScore").value(target).key("bitsPerPixel").value(bpp).endObject();
    }
    json.endArray().key("leftOut").beginArray();
    for (const auto& [image, reason] : s.leftOut) {
      json.beginObject().key("image").value(image).key("reason").value(reason).endObject();
    }
    json.endArray().endObject();
  }
  json.endArray().key("images").beginArray();
  for (const auto& row : report.images) {
    json.beginObject().key("image").value(row.image).key("imageSha256").value(row.imageSha256);
    json.key("width").value(row.width).key("height").value(row.height).key("panels").beginArray();
    for (const auto& [panel, curve] : row.panels) {
      json.beginObject().key("panel").value(panel).key("failedUnits").value(static_cast<std::int64_t>(curve.failedUnits));
      if (auto rate = row.bdRate.find(panel); rate != row.bdRate.end()) {
        json.key("bdRate").value(rate->second.value).key("status").value(statusName(rate->second.status));
        json.key("bdScore").value(row.bdScore.at(panel).value);
      }
      if (auto reason = row.leftOut.find(panel); reason != row.leftOut.end()) json.key("leftOut").value(reason->second);
      json.key("points").beginArray();
      for (const auto& record : curve.records) {
        json.beginObject().key("setting").value(record.setting).key("foundSetting").value(record.foundSetting);
        json.key("encodedSize").value(record.encodedSize).key("bitsPerPixel").value(record.bitsPerPixel);
        json.key("ssimulacra2").value(record.ssimulacra2).endObject();
      }
      json.endArray().endObject();
    }
    json.endArray().endObject();
  }
  json.endArray().endObject();
  return json.text();
}

std::string corpusReportCsv(const CorpusReport& report) {
  std::string csv = "image,imageSha256,width,height,panel,codec,points,failedUnits,bdRate,bdScore,status,leftOut\n";
  for (const auto& row : report.images) {
    for (const auto& [panel, curve] : row.panels) {
      auto rate = row.bdRate.find(panel);
      auto reason = row.leftOut.find(panel);
      auto optionalNumber = [](const std::optional<double>& value) { return value ? numberText(*value) : ""; };
      csv += csvField(row.image) + "," + row.imageSha256 + "," + std::to_string(row.width) + "," +
             std::to_string(row.height) + "," + std::to_string(panel) + "," + csvField(curve.records.empty() ? "" : curve.records.front().codec) +
             "," + std::to_string(curve.records.size()) + "," + std::to_string(curve.failedUnits) + "," +
             (rate != row.bdRate.end() ? optionalNumber(rate->second.value) : "") + "," +
             (rate != row.bdRate.end() ? optionalNumber(row.bdScore.at(panel).value) : "") + "," +
             (rate != row.bdRate.end() ? statusName(rate->second.status) : (panel == report.anchor ? "anchor" : "")) +
             "," + csvField(reason != row.leftOut.end() ? reason->second : "") + "\n";
    }
  }
  return csv;
}

std::string corpusReportHtml(const CorpusReport& report) {
  std::string html =
      "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
      "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">"
      "<title>Quorlin corpus report</title><style>"
      "body{font:14px/1.4 system-ui,sans-serif;margin:24px;color:#222;background:#fafafa}"
      "table{border-collapse:collapse;margin:12px 0;background:#fff}"
      "th,td{border:1px solid #ddd;padding:4px 8px;text-align:right;vertical-align:middle}"
      "th{background:#f0f0f0;cursor:default}th.sortable{cursor:pointer}th.sortable:after{content:' \\2195';color:#888}"
      "td.name,th.name{text-align:left}.left{color:#999}.legend span{display:inline-block;margin-right:16px}"
      "</style></head><body>\n<h1>Corpus report</h1>\n";
  html += "<p>" + std::to_string(report.images.size()) + " images. BD-rate is the size at equal SSIMULACRA2 "
          "against the anchor, " + htmlEscaped(panelName(report, report.anchor)) + "; negative is smaller.</p>\n";
  html += "<p class=\"legend\">";
  for (const auto& s : report.panels) {
    html += "<span><svg width=\"14\" height=\"10\"><rect width=\"14\" height=\"10\" fill=\"" +
            std::string(palette[static_cast<std::size_t>(s.panel - 1) % 4]) + "\"/></svg> " +
            htmlEscaped(panelName(report, s.panel)) + "</span>";
  }
  html += "</p>\n<h2>Panels</h2>\n<table id=\"aggregate\"><thead><tr><th class=\"name\">Panel</th><th>Images</th>"
          "<th>Mean BD-rate</th><th>Median</th><th>Geometric mean</th><th>Mean BD-score</th><th class=\"name\">"
          "Left out</th></tr></thead><tbody>\n";
  for (const auto& s : report.panels) {
    std::string leftOut;
    for (const auto& [image, reason] : s.leftOut) leftOut += htmlEscaped(image) + ": " + htmlEscaped(reason) + "<br>";
    const bool isAnchor = s.panel == report.anchor;
    html += "<tr><td class=\"name\">" + htmlEscaped(panelName(report, s.panel)) + (isAnchor ? " (anchor)" : "") +
            "</td><td>" + std::to_string(s.count) + "</td><td>" + (isAnchor ? "" : optionalPercent(s.meanBdRate)) +
            "</td><td>" + (isAnchor ? "" : optionalPercent(s.medianBdRate)) + "</td><td>" +
            (isAnchor ? "" : optionalPercent(s.geometricMeanBdRate)) + "</td><td>" +
            (s.meanBdScore ? fixed(*s.meanBdScore, 2) : "") + "</td><td class=\"name\">" + leftOut + "</td></tr>\n";
  }
  html += "</tbody></table>\n";
  if (report.isTargetMode) {
    std::set<double> targets;
    for (const auto& s : report.panels) {
      for (const auto& [target, bpp] : s.pooledBitsPerPixel) targets.insert(target);
    }
    html += "<h2>Pooled bits per pixel at each target score</h2>\n<table id=\"pooled\"><thead><tr><th class=\"name\">"
            "Panel</th>";
    for (double target : targets) html += "<th>" + numberText(target) + "</th>";
    html += "</tr></thead><tbody>\n";
    for (const auto& s : report.panels) {
      html += "<tr><td class=\"name\">" + htmlEscaped(panelName(report, s.panel)) + "</td>";
      for (double target : targets) {
        auto found = s.pooledBitsPerPixel.find(target);
        html += "<td>" + (found == s.pooledBitsPerPixel.end() ? std::string() : fixed(found->second, 3)) + "</td>";
      }
      html += "</tr>\n";
    }
    html += "</tbody></table>\n";
  }
  html += "<h2>Median BD-rate</h2>\n" + aggregateChart(report) + "\n";
  html += "<h2>Images</h2>\n<p>Click a column to sort.</p>\n<table id=\"images\"><thead><tr>"
          "<th class=\"name sortable\" data-kind=\"text\">Image</th><th class=\"sortable\">Pixels</th>";
  for (const auto& s : report.panels) {
    if (s.panel != report.anchor) html += "<th class=\"sortable\">BD-rate " + htmlEscaped(panelName(report, s.panel)) + "</th>";
  }
  html += "<th>Curves</th></tr></thead><tbody>\n";
  for (const auto& row : report.images) {
    html += "<tr class=\"image-row\"><td class=\"name\" data-value=\"" + htmlEscaped(row.image) + "\">" +
            htmlEscaped(row.image) + "</td><td data-value=\"" + std::to_string(row.width * row.height) + "\">" +
            std::to_string(row.width) + "\u00d7" + std::to_string(row.height) + "</td>";
    for (const auto& s : report.panels) {
      if (s.panel == report.anchor) continue;
      auto rate = row.bdRate.find(s.panel);
      auto reason = row.leftOut.find(s.panel);
      const bool hasValue = rate != row.bdRate.end() && rate->second.value;
      html += "<td" + std::string(hasValue ? " data-value=\"" + numberText(*rate->second.value) + "\"" : "") +
              (reason != row.leftOut.end() ? " class=\"left\" title=\"" + htmlEscaped(reason->second) + "\"" : "") +
              ">" + (hasValue ? percentText(*rate->second.value) : "\u2013") + "</td>";
    }
    html += "<td>" + curveChart(row, 220, 120) + "</td></tr>\n";
  }
  html += "</tbody></table>\n<script>\n"
          "document.querySelectorAll('#images th.sortable').forEach(function (th) {\n"
          "  var ascending = true;\n"
          "  th.addEventListener('click', function () {\n"
          "    var column = th.cellIndex, text = th.dataset.kind === 'text';\n"
          "    var body = document.querySelector('#images tbody');\n"
          "    var rows = Array.prototype.slice.call(body.rows);\n"
          "    rows.sort(function (a, b) {\n"
          "      var x = a.cells[column].dataset.value, y = b.cells[column].dataset.value;\n"
          "      if (x === undefined || y === undefined) return (x === undefined) - (y === undefined);\n"
          "      var order = text ? x.localeCompare(y) : parseFloat(x) - parseFloat(y);\n"
          "      return ascending ? order : -order;\n"
          "    });\n"
          "    rows.forEach(function (row) { body.appendChild(row); });\n"
          "    ascending = !ascending;\n"
          "  });\n"
          "});\n</script>\n</body></html>\n";
  return html;
}

}  // namespace quorlin
