// ResultMetricLine: one label-value row of a panel's result section, the
// label in the secondary text colour on the left, the value on the right.
//
// An emphasized line draws its value in a demi-bold face and in the emphasis
// colour, or in the ordinary text colour when that colour is invalid. Long
// values wrap rather than widen the panel. Main thread only.
#pragma once

#include <QColor>
#include <QWidget>

class QLabel;

namespace quorlin::gui {

class ResultMetricLine : public QWidget {
  Q_OBJECT

 public:
  explicit ResultMetricLine(QWidget* parent = nullptr);
  ResultMetricLine(const QString& label, const QString& value, QWidget* parent = nullptr);

  QString label() const;
  QString value() const;
  bool isEmphasized() const { return emphasized_; }
  QColor emphasisColor() const { return emphasisColor_; }

  void setLabel(const QString& label);
  void setValue(const QString& value);
  void setEmphasized(bool emphasized, QColor emphasisColor = {});

 private:
  void applyEmphasis();

  bool emphasized_ = false;
  QColor emphasisColor_;
  QLabel* label_;
  QLabel* value_;
};

}  // namespace quorlin::gui
