#include "ui/fltk/fltk_splash_art.h"

#include <FL/Enumerations.H>
#include <FL/fl_draw.H>

#include <algorithm>
#include <array>

#include "ui/fltk/fltk_look.h"

namespace zor {
namespace {

struct Rgb {
  int R, G, B;
};

// The sky from the top down to the horizon.
constexpr Rgb kSkyTop = {14, 30, 74};
constexpr Rgb kSkyHorizon = {96, 146, 196};
constexpr int kHorizon = 230;
constexpr Rgb kMoon = {244, 232, 190};
constexpr int kMoonX = 392, kMoonY = 58, kMoonRadius = 22;

// Ridges from far to near: the height of the ridge line at eleven evenly spaced points
// across the window, and the colour of the mountain below it.
struct Ridge {
  std::array<int, 11> Heights;
  Rgb Colour;
};
constexpr Ridge kRidges[] = {
    {{196, 168, 182, 150, 163, 138, 172, 158, 186, 166, 192}, {72, 108, 160}},
    {{238, 214, 228, 196, 222, 208, 232, 204, 236, 222, 242}, {42, 74, 128}},
    {{288, 270, 280, 258, 284, 274, 292, 270, 298, 284, 304}, {18, 40, 82}},
};

// The river: its left bank from the bottom up, then its right bank from the top down.
constexpr std::array<std::array<int, 2>, 12> kRiver = {{
    {196, 362},
    {214, 334},
    {244, 308},
    {232, 290},
    {252, 274},
    {250, 262},
    {258, 262},
    {262, 274},
    {246, 290},
    {262, 308},
    {250, 334},
    {286, 362},
}};
constexpr Rgb kRiverColour = {110, 160, 212};

// The emblem, top left: a rounded tile with a "Z" and a rising arrow.
constexpr int kEmblemLeft = 20, kEmblemTop = 20, kEmblemSize = 48;
constexpr Rgb kEmblemTile = {44, 112, 186};
constexpr Rgb kEmblemArrow = {255, 210, 74};

constexpr int kTitleFontSize = 30;
// Above the download window, which is centred on the screen as this window is.
constexpr int kTitleBaseline = 96;
constexpr int kVersionFontSize = 13;
constexpr int kVersionBaseline = 118;

void SetColour(const Rgb& c) {
  fl_color(static_cast<uchar>(c.R), static_cast<uchar>(c.G), static_cast<uchar>(c.B));
}

Rgb Blend(const Rgb& from, const Rgb& to, int step, int steps) {
  return {from.R + (to.R - from.R) * step / steps, from.G + (to.G - from.G) * step / steps,
          from.B + (to.B - from.B) * step / steps};
}

void DrawSky(int width) {
  for (int row = 0; row < kHorizon; ++row) {
    SetColour(Blend(kSkyTop, kSkyHorizon, row, kHorizon));
    fl_xyline(0, row, width - 1);
  }
  SetColour(kMoon);
  fl_pie(kMoonX - kMoonRadius, kMoonY - kMoonRadius, 2 * kMoonRadius, 2 * kMoonRadius, 0, 360);
  // The crescent: the sky's colour bites into the disc.
  SetColour(Blend(kSkyTop, kSkyHorizon, kMoonY - 8, kHorizon));
  fl_pie(kMoonX - kMoonRadius + 10, kMoonY - kMoonRadius - 6, 2 * kMoonRadius, 2 * kMoonRadius, 0,
         360);
}

void DrawRidge(const Ridge& ridge, int width, int height) {
  SetColour(ridge.Colour);
  fl_begin_complex_polygon();
  fl_vertex(0, height);
  const int last = static_cast<int>(ridge.Heights.size()) - 1;
  for (int i = 0; i <= last; ++i)
    fl_vertex(width * i / last, ridge.Heights[static_cast<size_t>(i)]);
  fl_vertex(width, height);
  fl_end_complex_polygon();
}

void DrawRiver() {
  SetColour(kRiverColour);
  fl_begin_complex_polygon();
  for (const auto& point : kRiver) fl_vertex(point[0], point[1]);
  fl_end_complex_polygon();
}

void DrawEmblem() {
  const int x = kEmblemLeft, y = kEmblemTop, s = kEmblemSize;
  SetColour(kEmblemTile);
  fl_rectf(x + 6, y, s - 12, s);
  fl_rectf(x, y + 6, s, s - 12);
  for (const auto& [cx, cy] :
       {std::array<int, 2>{x, y}, {x + s - 12, y}, {x, y + s - 12}, {x + s - 12, y + s - 12}})
    fl_pie(cx, cy, 12, 12, 0, 360);
  // The "Z": top bar, diagonal, bottom bar.
  fl_color(FL_WHITE);
  fl_rectf(x + 9, y + 10, 22, 5);
  fl_rectf(x + 9, y + 33, 22, 5);
  fl_begin_complex_polygon();
  fl_vertex(x + 24, y + 15);
  fl_vertex(x + 31, y + 15);
  fl_vertex(x + 16, y + 33);
  fl_vertex(x + 9, y + 33);
  fl_end_complex_polygon();
  // The arrow rising beside it.
  SetColour(kEmblemArrow);
  fl_line_style(FL_SOLID | FL_CAP_ROUND | FL_JOIN_ROUND, 3);
  fl_line(x + 38, y + 40, x + 38, y + 12);
  fl_line(x + 33, y + 17, x + 38, y + 12, x + 43, y + 17);
  fl_line_style(0);
}

void DrawCentred(const std::string& text, int width, int baseline, const Rgb& shadow,
                 const Rgb& colour) {
  const int left = (width - static_cast<int>(fl_width(text.c_str()))) / 2;
  SetColour(shadow);
  fl_draw(text.c_str(), left + 1, baseline + 1);
  SetColour(colour);
  fl_draw(text.c_str(), left, baseline);
}

}  // namespace

void DrawSplashArt(int width, int height, const std::string& title,
                   const std::string& versionLine) {
  DrawSky(width);
  for (const Ridge& ridge : kRidges) DrawRidge(ridge, width, height);
  DrawRiver();
  DrawEmblem();
  if (!title.empty()) {
    fl_font(FL_HELVETICA_BOLD, kTitleFontSize);
    DrawCentred(title, width, kTitleBaseline, kSkyTop, {255, 255, 255});
  }
  fl_font(FL_HELVETICA, kVersionFontSize);
  DrawCentred(versionLine, width, kVersionBaseline, kSkyTop, {220, 230, 245});
}

}  // namespace zor
