// DistanceSlider: the Butteraugli distance control of JPEG XL and JPEGli.
//
// The slider runs over a position 0..1 whose square spans distances 0..25, so
// its left half (0 to 6.25) holds the distances people use most; a move sets
// the distance rounded to 0.05. Title "Distance", the value text of the
// codec, and "Lower is better" under the slider. Only user moves emit
// distanceEdited. Main thread only.
#pragma once

#include <QWidget>

#include "core/codecs/CodecCatalog.h"

class QLabel;
class QSlider;

namespace quorlin::gui {

class DistanceSlider : public QWidget {
  Q_OBJECT

 public:
  // Slider stops across the position range; fine enough that one stop near
  // the right end moves the distance by about one 0.05 step.
  static constexpr int positionSteps = 1000;

  explicit DistanceSlider(QWidget* parent = nullptr);

  double distance() const { return distance_; }
  CompressionCodec codec() const { return codec_; }
  void setDistance(double distance, CompressionCodec codec);

  // The knob's position, 0..1.
  double position() const;
  // "1.00 visually lossless", "3.0", ...
  QString valueText() const;
  QSlider* slider() const { return slider_; }

 signals:
  void distanceEdited(double distance);

 private:
  // A user move to slider stop `step`: reported unless it gives the distance held.
  void take(int step);
  void showValue();

  double distance_ = 1.0;
  CompressionCodec codec_ = CompressionCodec::jpegXL;
  QLabel* valueLabel_;
  QSlider* slider_;
};

}  // namespace quorlin::gui
