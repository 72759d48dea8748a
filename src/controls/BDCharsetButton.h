// TBDCharsetButton<Button>: a TBDCheckBox or TBDRadioButton whose caption is drawn by a
// transparent label inside it, in the control's font and character set.
//
// Promises:
// - SetCaption(value): Caption() := value, the label shows it, the native button shows no text
//   (the dynamic font fitting, if on, runs on the empty native text).
// - The label (object name "TextLabel") sits at x 17, y 0, Width() - 16 wide (one pixel past
//   the right edge) and Height() high, whatever way the control is sized.
// - A mouse press on the label does what a click of the native button does to the state (the
//   button's nextCheckState, so Click and the parent notification run on a change), then calls
//   OnMouseDown with the control as sender and the label's button, modifiers and coordinates. A
//   click on the label calls OnClick only (no state change); moves and releases go to
//   OnMouseMove and OnMouseUp.
// - The hint needs no memo at run time (no assertion when BDMemoHintField is unset).
#pragma once

#include <QMouseEvent>
#include <QResizeEvent>
#include <string>
#include <string_view>

#include "controls/CaptionLabel.h"
#include "controls/ControlUtil.h"

namespace controls {

template <class TButton>
class TBDCharsetButton : public TButton {
 public:
  explicit TBDCharsetButton(QWidget* parent)
      : TButton(parent), FTextLabel(new TCaptionLabel(this)) {
    FTextLabel->OnClick = [this] {
      if (this->OnClick) this->OnClick(this);  // the state does not change on a click of the label
    };
    FTextLabel->OnMouseDown = [this](QMouseEvent* e) {
      this->nextCheckState();
      if (this->OnMouseDown)
        this->OnMouseDown(this, e->button(), e->modifiers(), detail::X(e), detail::Y(e));
    };
    FTextLabel->OnMouseMove = [this](QMouseEvent* e) {
      if (this->OnMouseMove)
        this->OnMouseMove(this, e->buttons(), e->modifiers(), detail::X(e), detail::Y(e));
    };
    FTextLabel->OnMouseUp = [this](QMouseEvent* e) {
      if (this->OnMouseUp)
        this->OnMouseUp(this, e->button(), e->modifiers(), detail::X(e), detail::Y(e));
    };
    PlaceLabel();
  }

  std::string Caption() const override { return FCaption; }
  void SetCaption(std::string_view value) override {
    FCaption = std::string(value);
    FTextLabel->setText(this->Font().Decode(FCaption));
    this->SetControlText("");  // the native control shows no text of its own
  }

  int Left() const { return this->x(); }
  int Top() const { return this->y(); }
  int Width() const { return this->width(); }
  int Height() const { return this->height(); }
  // The label is placed at once: a hidden widget gets its resize event only when shown.
  void SetLeft(int value) { this->move(value, this->y()); }
  void SetTop(int value) { this->move(this->x(), value); }
  void SetWidth(int value) {
    this->resize(value, this->height());
    PlaceLabel();
  }
  void SetHeight(int value) {
    this->resize(this->width(), value);
    PlaceLabel();
  }
  void SetBounds(int left, int top, int width, int height) {
    this->setGeometry(left, top, width, height);
    PlaceLabel();
  }
  void Invalidate() {
    this->update();
    FTextLabel->update();
  }

  TCaptionLabel* TextLabel() const { return FTextLabel; }

 protected:
  bool MemoRequired() const override { return false; }
  void FontChanged() override {
    // The label follows the control's font by Qt's font propagation; its text follows the
    // character set.
    FTextLabel->setText(this->Font().Decode(FCaption));
  }
  void resizeEvent(QResizeEvent* event) override {
    TButton::resizeEvent(event);
    PlaceLabel();
  }

 private:
  static constexpr int cLabelLeft = 17;
  static constexpr int cLabelWidthLess = 16;

  void PlaceLabel() {
    FTextLabel->setGeometry(cLabelLeft, 0, this->width() - cLabelWidthLess, this->height());
  }

  std::string FCaption;
  TCaptionLabel* FTextLabel;  // owned by this control (Qt parent)
};

}  // namespace controls
