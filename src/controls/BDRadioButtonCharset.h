// TBDRadioButtonCharset: a TBDRadioButton whose caption is drawn by a transparent
// label inside it, in the control's font and character set. The configuration window's two
// display-mode radio buttons are of this class.
//
// Promises:
// - Unchecked after construction.
// - SetCaption(value): Caption() := value, the label shows it, the native radio button shows no
//   text (the dynamic font fitting, if on, runs on the empty native text).
// - The label (object name "TextLabel") sits at x 17, y 0, Width() - 16 wide (one pixel past
//   the right edge) and Height() high, whatever way the control is sized.
// - A mouse press on the label checks the button (SetChecked(true), so Click and the parent
//   notification run when it was unchecked), then calls OnMouseDown with the control as sender
//   and the label's button, modifiers and coordinates. A click on the label calls OnClick only (no
//   state change); moves and releases go to OnMouseMove and OnMouseUp.
// - The hint needs no memo at run time (no assertion when BDMemoHintField is unset).
// The caller must: as for TBDRadioButton.
#pragma once

#include "controls/BDRadioButton.h"
#include "controls/CaptionLabel.h"

namespace controls {

class TBDRadioButtonCharset : public TBDRadioButton {
  Q_OBJECT

 public:
  explicit TBDRadioButtonCharset(QWidget* parent = nullptr);

  std::string Caption() const override { return FCaption; }
  void SetCaption(std::string_view value) override;

  int Left() const { return x(); }
  int Top() const { return y(); }
  int Width() const { return width(); }
  int Height() const { return height(); }
  void SetLeft(int value);
  void SetTop(int value);
  void SetWidth(int value);
  void SetHeight(int value);
  void SetBounds(int left, int top, int width, int height);
  void Invalidate();

  TCaptionLabel* TextLabel() const { return FTextLabel; }

 protected:
  bool MemoRequired() const override { return false; }
  void FontChanged() override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  void LabelOnClick();
  void LabelOnMouseDown(QMouseEvent* event);
  void LabelOnMouseMove(QMouseEvent* event);
  void LabelOnMouseUp(QMouseEvent* event);

  std::string FCaption;
  TCaptionLabel* FTextLabel;  // owned by this control (Qt parent)
};

}  // namespace controls
