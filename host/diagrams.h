// Diagrams of the feedback sensor tests: the electrical angle on a dial (CPhaseDiagram), the Hall
// states met along a pole pair (CLinearHallDiagram) and the encoder position on a scale
// (CLinearEncoderDiagram).
//
// Each is a custom control (host/custom_control.h) drawn on the desktop by the widget registered
// for its kind, "phase", "hall" or "encoder" (app/gui/diagram_widgets.h). A dialog shows one with
// DialogModel::AttachCustom. A diagram starts disabled: drawn greyed, without what a test measures
// (no pointer, no slice colours, no marker), until EnableDiagram(). Each calls Changed() when
// a call changes its picture, and only then: a call that leaves the picture as it was (the same
// value again, a value set while the part of the picture showing it is hidden) draws nothing.
#pragma once

#include <array>
#include <string_view>

#include "host/custom_control.h"

// An electrical angle on a dial: a circle, the axes of phases A, B and C at 0, 120 and 240 degrees,
// and a pointer at the angle theta (0 points right, counter-clockwise positive, as in a phasor
// diagram). The angle is kept as given and drawn modulo a turn; a NaN or infinite angle hides the
// pointer. Disabled, the dial is drawn greyed and without the pointer.
class CPhaseDiagram : public axis::CustomControl {
 public:
  std::string_view Kind() const override { return "phase"; }

  void EnableDiagram();
  void DisableDiagram();
  void SetTheta(double angle_rad);

  bool IsDiagramEnabled() const { return enabled_; }
  double GetTheta() const { return theta_; }
  // Whether the pointer is drawn: enabled, and the angle finite.
  bool IsPointerShown() const;
  // The angle drawn: theta reduced to [0, 2 pi) (0 when the pointer is not shown).
  double GetDrawnAngle() const;

 private:
  struct Picture {
    bool enabled;
    bool pointer;
    double angle;
    bool operator==(const Picture&) const = default;
  };
  Picture Drawn() const { return {enabled_, IsPointerShown(), GetDrawnAngle()}; }
  void ChangedSince(const Picture& before) {
    if (!(Drawn() == before)) Changed();
  }

  bool enabled_ = false;
  double theta_ = 0.0;
};

// The Hall states along one pole pair as a strip of six slices, one per state in the order the
// sensors step through them (one sensor changing from a slice to the next): "001", "011", "010",
// "110", "100", "101" (slices 0 to 5). Each slice has a status: kNotVisited (plain), kVisited
// (light colour: the state was seen) or kPresent (strong colour: the sensors show it now); the
// test sets them as the motor moves. Disabled, the strip is drawn greyed and without the status
// colours.
//
// SetSliceStatus and ResetDiagramStatus call Changed() themselves when they change the picture
// (a change only marks the control for drawing: a test may set every slice on each sample);
// RepaintDiagram draws again in any case.
class CLinearHallDiagram : public axis::CustomControl {
 public:
  static constexpr int kSlices = 6;
  static constexpr int kNotVisited = 0;
  static constexpr int kVisited = 1;
  static constexpr int kPresent = 2;

  std::string_view Kind() const override { return "hall"; }

  void EnableDiagram();
  // Every slice not visited.
  void ResetDiagramStatus();
  int GetSliceNumber() const { return kSlices; }
  // The status of slice `i`; 0 for a slice that does not exist.
  int GetSliceStatus(int i) const;
  // Ignored for a slice that does not exist or a status outside 0..2.
  void SetSliceStatus(int i, int status);
  void RepaintDiagram() { Changed(); }

  bool IsDiagramEnabled() const { return enabled_; }
  // The Hall state slice `i` stands for ("001" ...); "" for a slice that does not exist.
  static std::string_view GetSliceLabel(int i);

 private:
  bool enabled_ = false;
  std::array<int, kSlices> status_{};
};

// A linear position on a horizontal scale from a minimum to a maximum, in encoder counts: a marker
// at the position, the minimum, maximum and position written as numbers. A position beyond the
// scale is drawn at its end (its number as it is). The encoder test's scale runs over a pole
// pitch each way, -N..+N with N the counts per pole pitch. Limits with min >= max make an empty
// scale: no ticks, the marker in the middle. Disabled, the scale is drawn greyed, without the
// marker and the position.
class CLinearEncoderDiagram : public axis::CustomControl {
 public:
  std::string_view Kind() const override { return "encoder"; }

  void EnableDiagram();
  void SetLimits(long min, long max);
  void SetPosition(long position);

  bool IsDiagramEnabled() const { return enabled_; }
  long GetMinLimit() const { return min_; }
  long GetMaxLimit() const { return max_; }
  long GetPosition() const { return position_; }

  // What the drawing shows, as fractions of the scale's length (0 at the minimum, 1 at the
  // maximum). `scale` is false for an empty scale (min >= max), whose marker is at 0.5 and zero
  // unmarked. `below` / `above` say the position lies beyond the minimum / maximum and the marker
  // was put at that end. `zero_shown`: zero lies on the scale, at `zero`.
  struct Geometry {
    bool scale = false;
    double marker = 0.5;
    bool below = false;
    bool above = false;
    bool zero_shown = false;
    double zero = 0.0;
  };
  Geometry Layout() const;

 private:
  bool enabled_ = false;
  long min_ = 0;
  long max_ = 0;
  long position_ = 0;
};
