// LabeledSlider: an integer slider with its title and its current value
// ("%lld") above it, and optional captions under its two ends.
//
// The value shown is the value it was given, even outside the range (the
// engine clamps nothing, so a stored effort may exceed another codec's
// range); the knob then rests at the nearer end. Only user moves emit
// valueEdited. Main thread only.
#pragma once

#include <QWidget>

#include "core/workspace/CodecPanelPresentation.h"

class QLabel;
class QSlider;

namespace quorlin::gui {

class LabeledSlider : public QWidget {
  Q_OBJECT

 public:
  LabeledSlider(const QString& label, IntegerRange range, QWidget* parent = nullptr);

  QString label() const;
  void setLabel(const QString& label);
  IntegerRange range() const { return range_; }
  void setRange(IntegerRange range);
  int value() const { return value_; }
  void setValue(int value);
  // Captions under the slider's low and high ends; empty texts hide them.
  void setEndCaptions(const QString& lowCaption, const QString& highCaption);

  // The value as shown ("7").
  QString valueText() const;
  QSlider* slider() const { return slider_; }

 signals:
  // The user moved the slider (mouse, wheel or keys) to `value`.
  void valueEdited(int value);

 private:
  // A user move to `position`: reported unless it is the value already held.
  void take(int position);
  void showValue();

  IntegerRange range_;
  int value_ = 0;
  QLabel* title_;
  QLabel* valueLabel_;
  QSlider* slider_;
  QWidget* captions_;
  QLabel* lowCaption_;
  QLabel* highCaption_;
};

}  // namespace quorlin::gui
