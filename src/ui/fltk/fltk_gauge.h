// The classic gauge: a bar filled in proportion to the percent done, blue on white inside a
// thin black border, with the percentage written across it (dark over the empty part,
// inverted over the bar).
#pragma once

#include <FL/Fl_Widget.H>

namespace zor {

class FltkGauge : public Fl_Widget {
 public:
  FltkGauge(int x, int y, int w, int h);
  // 0..100; redraws when it changed.
  void SetPercent(int percent);
  int Percent() const { return Value; }

 protected:
  void draw() override;

 private:
  int Value = 0;
};

}  // namespace zor
