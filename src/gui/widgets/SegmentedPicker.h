// Main thread only; colours come from the palette at paint time.
#pragma once

#include <QAbstractButton>
#include <QButtonGroup>
#include <QString>
#include <QWidget>

#include <vector>

namespace quorlin::gui {

// Mutually exclusive segments side by side in one rounded frame; the chosen
// one is filled with the highlight colour. Only a click reports
// (segmentClicked); setCurrentIndex is silent, so a model can drive it.
class SegmentedPicker : public QWidget {
  Q_OBJECT

 public:
  SegmentedPicker(const std::vector<QString>& segments, QWidget* parent = nullptr);

  void setCurrentIndex(int index);
  int currentIndex() const;
  QAbstractButton* segment(int index) const;

 signals:
  void segmentClicked(int index);

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QButtonGroup group_;
};

}  // namespace quorlin::gui
