#include <gtest/gtest.h>

#include <QApplication>
#include <QEnterEvent>
#include <QFontMetrics>
#include <QTest>
#include <memory>

#include "controls/BDControls.h"
#include "platform/Exception.h"

namespace {

using namespace controls;

template <typename F>
std::string AssertionOf(F&& f) {
  try {
    f();
  } catch (const platform::EAssertionFailed& e) {
    return e.what();
  }
  return "(no assertion)";
}

// The mouse entering `widget`, as the window system reports it.
void Enter(QWidget* widget) {
  QEnterEvent event(QPointF(1, 1), QPointF(1, 1), widget->mapToGlobal(QPointF(1, 1)));
  QApplication::sendEvent(widget, &event);
}

class ControlsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    FWindow = std::make_unique<QWidget>();
    FWindow->setObjectName("Form1");
    FWindow->resize(400, 300);
    FMemo = new TBDMemo(FWindow.get());
    FMemo->setObjectName("HintMemo");
  }
  std::unique_ptr<QWidget> FWindow;
  TBDMemo* FMemo;
  TStrings FHint{"Erste Zeile", "Zweite Zeile"};
};

// --- construction ---

TEST_F(ControlsTest, InitialStates) {
  EXPECT_TRUE((new TBDCheckBox(FWindow.get()))->Checked());
  EXPECT_TRUE((new TBDCheckBoxCharset(FWindow.get()))->Checked());
  EXPECT_FALSE((new TBDRadioButton(FWindow.get()))->Checked());
  EXPECT_FALSE((new TBDRadioButtonCharset(FWindow.get()))->Checked());
  auto* panel = new TBDTouchPanel(FWindow.get());
  EXPECT_TRUE(panel->BolPressed());
  EXPECT_EQ(panel->frameShadow(), QFrame::Sunken);
  EXPECT_FALSE(panel->BolUpdatingChilds());
  EXPECT_EQ((new TBDPanel(FWindow.get()))->frameShadow(), QFrame::Raised);
  EXPECT_EQ((new TBDCheckBox(FWindow.get()))->BDDynamicFontHeight(), 0);
}

// --- hints ---

TEST_F(ControlsTest, EnteringShowsTheHintAndItStays) {
  auto* box = new TBDCheckBox(FWindow.get());
  box->setObjectName("AllProgramsCheckBox");
  auto* panel = new TBDPanel(FWindow.get());
  panel->setObjectName("Panel3");
  const TStrings panelHint{"Panel"};
  box->SetBDMemoHintField(FMemo);
  box->SetBDHintText(&FHint);
  panel->SetBDMemoHintField(FMemo);
  panel->SetBDHintText(&panelHint);
  FMemo->SetLines({"alt"});

  Enter(box);
  EXPECT_EQ(FMemo->Lines(), FHint);
  EXPECT_EQ(FMemo->toPlainText(), "Erste Zeile\nZweite Zeile");
  QEvent leave(QEvent::Leave);
  QApplication::sendEvent(box, &leave);
  EXPECT_EQ(FMemo->Lines(), FHint);  // stays after leaving
  Enter(panel);
  EXPECT_EQ(FMemo->Lines(), panelHint);  // the next control replaces it
  // The memo shows a copy: changing the list later does not change the memo.
  FHint.push_back("neu");
  EXPECT_EQ(FMemo->Lines().size(), 1u);
}

TEST_F(ControlsTest, NoMemoHintFieldNeverTouchesTheMemo) {
  auto* radio = new TBDRadioButton(FWindow.get());
  radio->setObjectName("Radio");
  radio->SetBDMemoHintField(FMemo);
  radio->SetBDHintText(&FHint);
  radio->SetBDNoMemoHintField(true);
  FMemo->SetLines({"unberuehrt"});
  Enter(radio);
  EXPECT_EQ(FMemo->Lines(), TStrings{"unberuehrt"});
  auto* other = new TBDCheckBoxCharset(FWindow.get());  // and needs no memo
  other->setObjectName("Other");
  other->SetBDNoMemoHintField(true);
  EXPECT_NO_THROW(other->CMMouseEnter());
}

TEST_F(ControlsTest, BaseClassesAssertAMemoAtRunTimeCharsetClassesDoNot) {
  std::vector<std::pair<QWidget*, std::function<void()>>> bases;
  auto* box = new TBDCheckBox(FWindow.get());
  auto* radio = new TBDRadioButton(FWindow.get());
  auto* panel = new TBDPanel(FWindow.get());
  auto* touch = new TBDTouchPanel(FWindow.get());
  box->setObjectName("Box1");
  radio->setObjectName("Radio1");
  panel->setObjectName("Panel1");
  touch->setObjectName("Touch1");
  EXPECT_EQ(AssertionOf([&] { box->CMMouseEnter(); }),
            "Box1 :Zur Laufzeit muss dass Property BDMemoHintField gesetzt sein");
  EXPECT_EQ(AssertionOf([&] { radio->CMMouseEnter(); }),
            "Radio1 :Zur Laufzeit muss dass Property BDMemoHintField gesetzt sein");
  EXPECT_EQ(AssertionOf([&] { panel->CMMouseEnter(); }),
            "Panel1 :Zur Laufzeit muss dass Property BDMemoHintField gesetzt sein");
  EXPECT_EQ(AssertionOf([&] { touch->CMMouseEnter(); }),
            "Touch1 :Zur Laufzeit muss dass Property BDMemoHintField gesetzt sein");
  // A memo without hint text: no assertion, the memo keeps what it shows.
  box->SetBDMemoHintField(FMemo);
  FMemo->SetLines({"x"});
  EXPECT_NO_THROW(box->CMMouseEnter());
  EXPECT_EQ(FMemo->Lines(), TStrings{"x"});
  // A memo that is gone reads as unset.
  auto* memo2 = new TBDMemo(FWindow.get());
  radio->SetBDMemoHintField(memo2);
  delete memo2;
  EXPECT_EQ(radio->BDMemoHintField(), nullptr);

  auto* charsetBox = new TBDCheckBoxCharset(FWindow.get());
  auto* charsetRadio = new TBDRadioButtonCharset(FWindow.get());
  charsetBox->setObjectName("CB");
  charsetRadio->setObjectName("CR");
  charsetBox->SetBDHintText(&FHint);
  EXPECT_NO_THROW(charsetBox->CMMouseEnter());
  EXPECT_NO_THROW(charsetRadio->CMMouseEnter());
}

TEST_F(ControlsTest, ANamelessControlIsAnAssertion) {
  auto* box = new TBDCheckBox(FWindow.get());
  box->SetBDNoMemoHintField(true);
  EXPECT_EQ(AssertionOf([&] { box->CMMouseEnter(); }), "TBDCheckBox: Name ist nicht gesetzt!");
  auto* charset = new TBDRadioButtonCharset(FWindow.get());
  EXPECT_EQ(AssertionOf([&] { charset->CMMouseEnter(); }),
            "TBDRadioButtonCharset: Name ist nicht gesetzt!");
}

// --- captions, character sets and the label ---

TEST_F(ControlsTest, CaptionsAreDecodedWithTheFontsCharset) {
  auto* box = new TBDCheckBox(FWindow.get());
  TFont font = box->Font();
  font.Charset = 204;
  box->SetFont(font);
  box->SetCaption("\xC4\xE0");  // "Да" in 1251
  EXPECT_EQ(box->Caption(), "\xC4\xE0");
  EXPECT_EQ(box->text(), QString::fromUtf8("Да"));
  font.Charset = 0;  // a new character set decodes the same bytes anew
  box->SetFont(font);
  EXPECT_EQ(box->text(), QString::fromUtf8("Äà"));

  TFont greek;
  greek.Charset = 161;
  FMemo->SetFont(greek);
  FMemo->SetLines({"\xC1"});
  EXPECT_EQ(FMemo->toPlainText(), QString::fromUtf8("Α"));
}

TEST_F(ControlsTest, CharsetControlsDrawTheCaptionWithTheirLabel) {
  auto* radio = new TBDRadioButtonCharset(FWindow.get());
  radio->setObjectName("FullScreenRadio");
  TFont font = radio->Font();
  font.Charset = 204;
  radio->SetFont(font);
  radio->SetBounds(30, 40, 200, 24);
  radio->SetCaption("\xC4\xE0");
  EXPECT_EQ(radio->Caption(), "\xC4\xE0");
  EXPECT_EQ(radio->text(), "");  // the native control shows nothing
  QLabel* label = radio->findChild<QLabel*>("TextLabel");
  ASSERT_EQ(label, radio->TextLabel());
  EXPECT_EQ(label->text(), QString::fromUtf8("Да"));
  EXPECT_EQ(label->geometry(), QRect(17, 0, 184, 24));  // one pixel past the right edge
  EXPECT_EQ(radio->geometry(), QRect(30, 40, 200, 24));
  EXPECT_EQ(radio->Left(), 30);
  EXPECT_EQ(radio->Top(), 40);
  radio->SetWidth(150);
  EXPECT_EQ(label->width(), 134);
  radio->SetHeight(30);
  EXPECT_EQ(label->height(), 30);
  radio->SetTop(5);
  EXPECT_EQ(label->pos(), QPoint(17, 0));
  radio->resize(100, 20);  // sized the Qt way: the label follows as well
  FWindow->show();
  QApplication::processEvents();
  EXPECT_EQ(label->geometry(), QRect(17, 0, 84, 20));
  // The label follows the control's font.
  font.Bold = true;
  radio->SetFont(font);
  EXPECT_TRUE(label->font().bold());
  EXPECT_EQ(label->font().pixelSize(), radio->font().pixelSize());
}

TEST_F(ControlsTest, CharsetCheckBoxTogglesOnEveryMouseDownOnItsLabel) {
  auto* box = new TBDCheckBoxCharset(FWindow.get());
  box->setObjectName("AllProgramsCheckBox");
  box->SetBounds(10, 10, 200, 20);
  box->SetCaption("Fuer alle Programme");
  FWindow->show();
  int clicks = 0;
  std::vector<std::tuple<QObject*, Qt::MouseButton, bool, int, int>> downs;
  box->OnClick = [&](QObject* sender) {
    EXPECT_EQ(sender, box);
    ++clicks;
  };
  box->OnMouseDown = [&](QObject* sender, Qt::MouseButton button, Qt::KeyboardModifiers, int x,
                         int y) { downs.emplace_back(sender, button, box->Checked(), x, y); };
  QLabel* label = box->TextLabel();
  QTest::mousePress(label, Qt::LeftButton, {}, QPoint(5, 6));
  EXPECT_FALSE(box->Checked());
  ASSERT_EQ(downs.size(), 1u);
  EXPECT_EQ(downs[0], std::make_tuple(static_cast<QObject*>(box), Qt::LeftButton, false, 5, 6));
  EXPECT_EQ(clicks, 1);  // the state change clicks, as the framework's check box does
  QTest::mouseRelease(label, Qt::LeftButton, {}, QPoint(5, 6));
  EXPECT_FALSE(box->Checked());  // the click on the label itself does not toggle
  EXPECT_EQ(clicks, 2);          // ... but runs the control's click handler
  QTest::mousePress(label, Qt::RightButton, {}, QPoint(7, 3));
  EXPECT_TRUE(box->Checked());  // every mouse-down toggles
  QTest::mouseRelease(label, Qt::RightButton, {}, QPoint(7, 3));
  EXPECT_EQ(clicks, 3);  // a right release is no click
}

TEST_F(ControlsTest, CharsetRadioButtonIsCheckedBeforeItsMouseDownHandler) {
  auto* radio = new TBDRadioButtonCharset(FWindow.get());
  radio->setObjectName("CurrentResRadio");
  radio->SetBounds(10, 10, 200, 20);
  FWindow->show();
  bool checkedInHandler = false;
  int moves = 0;
  int ups = 0;
  radio->OnMouseDown = [&](QObject*, Qt::MouseButton, Qt::KeyboardModifiers, int, int) {
    checkedInHandler = radio->Checked();
  };
  radio->OnMouseMove = [&](QObject* sender, Qt::MouseButtons, Qt::KeyboardModifiers, int, int) {
    EXPECT_EQ(sender, radio);
    ++moves;
  };
  radio->OnMouseUp = [&](QObject* sender, Qt::MouseButton, Qt::KeyboardModifiers, int, int) {
    EXPECT_EQ(sender, radio);
    ++ups;
  };
  QTest::mouseClick(radio->TextLabel(), Qt::LeftButton, {}, QPoint(4, 4));
  EXPECT_TRUE(checkedInHandler);
  EXPECT_TRUE(radio->Checked());
  EXPECT_EQ(ups, 1);
  QMouseEvent move(QEvent::MouseMove, QPointF(6, 6), radio->TextLabel()->mapToGlobal(QPointF(6, 6)),
                   Qt::NoButton, Qt::NoButton, Qt::NoModifier);
  QApplication::sendEvent(radio->TextLabel(), &move);
  EXPECT_EQ(moves, 1);
  QTest::mouseClick(radio->TextLabel(), Qt::LeftButton, {}, QPoint(4, 4));
  EXPECT_TRUE(radio->Checked());  // pressing again keeps it checked
}

// --- the radio button's guard ---

TEST_F(ControlsTest, SettingARadioButtonFromItsOwnReactionHasNoEffect) {
  auto* radio = new TBDRadioButton(FWindow.get());
  int clicks = 0;
  radio->OnClick = [&](QObject*) {
    ++clicks;
    EXPECT_TRUE(radio->BolUpdatingChecked());
    radio->SetChecked(false);  // ignored
  };
  radio->SetChecked(true);
  EXPECT_TRUE(radio->Checked());
  EXPECT_EQ(clicks, 1);
  EXPECT_FALSE(radio->BolUpdatingChecked());
  radio->SetChecked(true);  // no change: no click
  EXPECT_EQ(clicks, 1);
  radio->OnClick = nullptr;
  radio->SetChecked(false);  // the checked one of its parent can be unchecked
  EXPECT_FALSE(radio->Checked());
  EXPECT_EQ(clicks, 1);  // unchecking does not click
}

TEST_F(ControlsTest, CheckingARadioButtonUnchecksTheOnesBesideIt) {
  auto* a = new TBDRadioButton(FWindow.get());
  auto* b = new TBDRadioButtonCharset(FWindow.get());
  a->SetChecked(true);
  b->SetChecked(true);
  EXPECT_FALSE(a->Checked());
  EXPECT_TRUE(b->Checked());
  FWindow->show();
  a->resize(100, 20);
  QTest::mouseClick(a, Qt::LeftButton, {}, QPoint(6, 10));  // the user's click
  EXPECT_TRUE(a->Checked());
  EXPECT_FALSE(b->Checked());
}

// --- the touch panel ---

class TouchPanelTest : public ControlsTest {
 protected:
  void SetUp() override {
    ControlsTest::SetUp();
    FPanel = new TBDTouchPanel(FWindow.get());
    FPanel->setObjectName("TouchPanel1");
    FPanel->setGeometry(0, 0, 300, 100);
  }
  void ClickPanel() { QTest::mouseClick(FPanel, Qt::LeftButton, {}, QPoint(290, 90)); }
  TBDTouchPanel* FPanel;
};

TEST_F(TouchPanelTest, PanelClicksToggleThePanelAndItsCheckBoxes) {
  auto* box = new TBDCheckBox(FPanel);
  box->setObjectName("Box");
  auto* charsetBox = new TBDCheckBoxCharset(FPanel);
  charsetBox->setObjectName("CharsetBox");
  FWindow->show();
  std::vector<bool> seenByHandler;
  FPanel->OnClick = [&](QObject* sender) {
    EXPECT_EQ(sender, FPanel);
    seenByHandler.push_back(FPanel->BolPressed());
  };
  ClickPanel();
  EXPECT_FALSE(FPanel->BolPressed());
  EXPECT_EQ(FPanel->frameShadow(), QFrame::Raised);
  EXPECT_FALSE(box->Checked());
  EXPECT_FALSE(charsetBox->Checked());
  ClickPanel();
  EXPECT_TRUE(FPanel->BolPressed());
  EXPECT_EQ(FPanel->frameShadow(), QFrame::Sunken);
  EXPECT_TRUE(box->Checked());
  EXPECT_TRUE(charsetBox->Checked());
  EXPECT_EQ(seenByHandler, (std::vector<bool>{false, true}));  // the click handler runs after
}

TEST_F(TouchPanelTest, AReleasedPanelWithARadioButtonIsPressedByAClickAndStaysPressed) {
  auto* radio = new TBDRadioButtonCharset(FPanel);
  radio->setObjectName("FullScreenRadio");
  FPanel->SetBolPressed(false);
  EXPECT_FALSE(radio->Checked());
  FWindow->show();
  ClickPanel();
  EXPECT_TRUE(FPanel->BolPressed());
  EXPECT_TRUE(radio->Checked());
  ClickPanel();
  EXPECT_TRUE(FPanel->BolPressed());
  EXPECT_TRUE(radio->Checked());
  QTest::mouseDClick(FPanel, Qt::LeftButton, {}, QPoint(290, 90));
  EXPECT_TRUE(FPanel->BolPressed());
}

TEST_F(TouchPanelTest, ACheckBoxChildsClickTogglesItAndThePanelTogether) {
  auto* box = new TBDCheckBox(FPanel);
  box->setObjectName("Box");
  box->setGeometry(5, 5, 150, 20);
  auto* other = new TBDCheckBox(FPanel);  // not updated by a child's click
  other->setObjectName("Other");
  other->setGeometry(5, 50, 150, 20);
  FWindow->show();
  QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(6, 10));
  EXPECT_FALSE(box->Checked());
  EXPECT_FALSE(FPanel->BolPressed());
  EXPECT_EQ(FPanel->frameShadow(), QFrame::Raised);
  EXPECT_TRUE(other->Checked());
  QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(6, 10));
  EXPECT_TRUE(box->Checked());
  EXPECT_TRUE(FPanel->BolPressed());
  // A double click is two clicks; the two stay equal.
  QTest::mouseDClick(box, Qt::LeftButton, {}, QPoint(6, 10));
  EXPECT_EQ(box->Checked(), FPanel->BolPressed());
}

TEST_F(TouchPanelTest, ACharsetLabelPressTogglesTheBoxAndThePanelButNotThePanelsClick) {
  auto* box = new TBDCheckBoxCharset(FPanel);
  box->setObjectName("AllProgramsCheckBox");
  box->SetBounds(5, 5, 200, 20);
  int panelClicks = 0;
  FPanel->OnClick = [&](QObject*) { ++panelClicks; };
  FWindow->show();
  QTest::mouseClick(box->TextLabel(), Qt::LeftButton, {}, QPoint(10, 10));
  EXPECT_FALSE(box->Checked());
  EXPECT_FALSE(FPanel->BolPressed());
  EXPECT_EQ(panelClicks, 0);
}

TEST_F(TouchPanelTest, ARadioButtonChildsClickPressesThePanel) {
  auto* radio = new TBDRadioButton(FPanel);
  radio->setObjectName("Radio");
  radio->setGeometry(5, 5, 150, 20);
  FPanel->SetBolPressed(false);
  FWindow->show();
  QTest::mouseClick(radio, Qt::LeftButton, {}, QPoint(6, 10));
  EXPECT_TRUE(radio->Checked());
  EXPECT_TRUE(FPanel->BolPressed());
}

TEST_F(TouchPanelTest, AChildDisagreeingWithThePanelAfterAClickIsAnAssertion) {
  auto* box = new TBDCheckBox(FPanel);
  box->setObjectName("Box");
  box->QCheckBox::setChecked(false);  // behind the panel's back: pressed panel, box unchecked
  EXPECT_EQ(AssertionOf([&] { box->SetChecked(true); }),
            "Box: Checked und BolPressed des TBDTouchPanel stimmen nicht ueberein!");
  EXPECT_FALSE(FPanel->BolPressed());  // the panel toggled, the box did the other way
}

TEST_F(TouchPanelTest, ChildClickedWhileUpdatingIsIgnored) {
  // A handler that notifies the panel while it updates its children changes nothing.
  auto* box = new TBDCheckBox(FPanel);
  box->setObjectName("Box");
  bool sawUpdating = false;
  box->OnClick = [&](QObject*) {
    sawUpdating = FPanel->BolUpdatingChilds();
    FPanel->ChildClicked(box);
  };
  FPanel->SetBolPressed(false);
  EXPECT_TRUE(sawUpdating);
  EXPECT_FALSE(FPanel->BolPressed());
  EXPECT_FALSE(box->Checked());
}

// --- dynamic font height ---

TEST_F(ControlsTest, DynamicFontHeightFitsTheCaptionIntoTheControl) {
  auto* box = new TBDCheckBox(FWindow.get());
  box->resize(120, 22);
  TFont font = box->Font();
  font.Name = "Arial";
  box->SetFont(font);
  box->SetCaption("Fuer alle Programme speichern");
  EXPECT_EQ(box->Font().Height, -11);  // off: the font stays
  box->SetBDDynamicFontHeight(40);
  const TFont fitted = box->Font();
  EXPECT_GT(fitted.Height, 0);
  EXPECT_LE(fitted.Height, 22);
  const QFontMetrics metrics(fitted.ToQFont());
  EXPECT_LE(metrics.horizontalAdvance(box->text()), 120);
  EXPECT_LE(metrics.height(), 22);
  EXPECT_EQ(box->font().pixelSize(), fitted.ToQFont().pixelSize());
  box->SetCaption("Ja");  // a short caption: as large as the height allows
  EXPECT_GT(box->Font().Height, fitted.Height);
  EXPECT_LE(CellHeight(box->Font()), 22);
  const TFont before = box->Font();
  box->SetBDDynamicFontHeight(0);  // switching off leaves the font
  EXPECT_EQ(box->Font(), before);
}

TEST_F(ControlsTest, DynamicFontHeightKeepsTheStyleOfTheControlsFont) {
  auto* radio = new TBDRadioButton(FWindow.get());
  radio->resize(400, 30);
  TFont font = radio->Font();
  font.Name = "Arial";
  font.Bold = true;
  radio->SetFont(font);
  radio->SetCaption("Ja");
  radio->SetBDDynamicFontHeight(20);
  EXPECT_EQ(radio->Font().Height, 20);
  EXPECT_TRUE(radio->Font().Bold);  // only the height is taken from the fitted font
}

TEST_F(ControlsTest, CharsetControlsFitTheFontOnTheirEmptyNativeText) {
  auto* radio = new TBDRadioButtonCharset(FWindow.get());
  radio->SetBounds(0, 0, 60, 18);
  TFont font = radio->Font();
  font.Name = "Arial";
  radio->SetFont(font);
  radio->SetCaption("Ein sehr langer Text, der nicht passt");
  radio->SetBDDynamicFontHeight(30);
  EXPECT_EQ(radio->Font().Height, 18);  // limited by the height only
  EXPECT_EQ(radio->TextLabel()->font().pixelSize(), radio->font().pixelSize());
}

TEST_F(ControlsTest, TouchPanelFitsItsCaption) {
  auto* panel = new TBDTouchPanel(FWindow.get());
  panel->setGeometry(0, 0, 200, 60);
  TFont font = panel->Font();
  font.Name = "Tahoma";
  panel->SetFont(font);
  panel->SetCaption("Vollbild");
  panel->SetBDDynamicFontHeight(100);
  EXPECT_EQ(panel->Caption(), "Vollbild");
  EXPECT_LE(CellHeight(panel->Font()), 60);
  EXPECT_LE(QFontMetrics(panel->Font().ToQFont()).horizontalAdvance("Vollbild"), 200);
  EXPECT_GT(panel->Font().Height, 30);
  FWindow->show();
  EXPECT_FALSE(panel->grab().isNull());  // paints
}

}  // namespace
