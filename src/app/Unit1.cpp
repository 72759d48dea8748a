#include "app/Unit1.h"

#include <QApplication>
#include <QBitmap>
#include <QCloseEvent>
#include <QMouseEvent>
#include <QProgressBar>
#include <QShowEvent>
#include <QTimer>

#include <climits>
#include <filesystem>

#include "app/Dialogs.h"
#include "app/FormLogic.h"
#include "app/uQuestion.h"
#include "display/ScreenChecker.h"
#include "sfs/FileAccess.h"

namespace app {

namespace {

constexpr const char* cOkSymbol = "OK.bmp";
constexpr const char* cFailSymbol = "Fail.bmp";

bool FileExists(const std::string& path) {
  std::error_code ec;
  return std::filesystem::is_regular_file(path, ec);
}

QFont PixelFont(const char* family, int pixels) {
  QFont font(family);
  font.setPixelSize(pixels);
  return font;
}

QLabel* MakeLabel(QWidget* parent, const char* name, int x, int y, int pixels,
                  const char* family = "Arial") {
  auto* label = new QLabel(parent);
  label->setObjectName(name);
  label->move(x, y);
  label->setFont(PixelFont(family, pixels));
  label->hide();
  return label;
}

// A bitmap shown transparently: the colour of its bottom-left pixel becomes see-through.
QPixmap TransparentPixmap(const QString& file) {
  QImage image(file);
  if (image.isNull()) return {};
  QPixmap pixmap = QPixmap::fromImage(image);
  pixmap.setMask(QBitmap::fromImage(image.createMaskFromColor(image.pixel(0, image.height() - 1),
                                                              Qt::MaskInColor)));
  return pixmap;
}

void SetColour(QWidget* widget, const QColor& colour) {
  QPalette palette = widget->palette();
  palette.setColor(QPalette::WindowText, colour);
  widget->setPalette(palette);
}

}  // namespace

void TClickLabel::mouseReleaseEvent(QMouseEvent* event) {
  QLabel::mouseReleaseEvent(event);
  if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
    emit clicked();
}

TForm1::TForm1(TConfigState& config, TFormServices services, QWidget* parent)
    : QWidget(parent), ms100(this, services.ms100Interval), FConfig(config),
      FServices(std::move(services)) {
  setObjectName("Form1");
  BuildControls();
  FormCreate();
}

TForm1::~TForm1() {
  // FormDestroy
  ms100.SetEnabled(false);
  screenSwitcher.reset();  // gives the screen back if a candidate is still on it
  if (MediaPlayer1 != nullptr) MediaPlayer1->Close();
  SoundPlayer.reset();
  sfs::SFSFree();
}

void TForm1::BuildControls() {
  setWindowTitle("Config");
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowStaysOnTopHint | Qt::MSWindowsFixedSizeDialogHint);
  setFont(PixelFont("MS Sans Serif", 11));
  setFixedSize(800, 600);

  bgImage = new QLabel(this);
  bgImage->setObjectName("bgImage");
  bgImage->setGeometry(0, 0, 800, 600);
  bgImage->setAlignment(Qt::AlignLeft | Qt::AlignTop);

  PrgName = new QLabel(this);
  PrgName->setObjectName("PrgName");
  PrgName->setGeometry(0, 0, 800, 600);
  PrgName->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
  PrgName->setFont(PixelFont("Arial", 19));
  PrgName->setAttribute(Qt::WA_TransparentForMouseEvents);

  Image1 = new QLabel(this);
  Image1->setObjectName("Image1");
  Image1->setGeometry(16, 305, 204, 153);
  Image1->setScaledContents(true);
  Image1->hide();
  Image2 = new QLabel(this);
  Image2->setObjectName("Image2");
  Image2->setGeometry(232, 305, 204, 153);
  Image2->setScaledContents(true);
  Image2->hide();

  Question = MakeLabel(this, "Question", 32, 190, 15);
  Actual = MakeLabel(this, "Actual", 32, 40, 13);
  Programm = MakeLabel(this, "Programm", 32, 72, 13);
  Recommend = MakeLabel(this, "Recommend", 32, 96, 13);

  const struct {
    TClickLabel** field;
    const char* name;
    int x, y;
    void (TForm1::*click)();
  } helps[] = {
      {&ColResHelp, "ColResHelp", 8, 248, &TForm1::ColResHelpClick},
      {&AudioHelp, "AudioHelp", 8, 152, &TForm1::AudioHelpClick},
      {&VideoHelp, "VideoHelp", 8, 184, &TForm1::VideoHelpClick},
      {&DirectXHelp, "DirectXHelp", 8, 216, &TForm1::DirectXHelpClick},
  };
  for (const auto& h : helps) {
    auto* label = new TClickLabel(this);
    label->setObjectName(h.name);
    label->move(h.x, h.y);
    QFont font = PixelFont("Arial", 13);
    font.setUnderline(true);
    label->setFont(font);
    SetColour(label, Qt::red);
    label->setCursor(Qt::PointingHandCursor);
    label->hide();
    connect(label, &TClickLabel::clicked, this, [this, click = h.click] { (this->*click)(); });
    *h.field = label;
  }

  Audio = MakeLabel(this, "Audio", 456, 360, 13);
  Video = MakeLabel(this, "Video", 456, 392, 13);
  DirectX = MakeLabel(this, "DirectX", 456, 424, 13);
  ColRes = MakeLabel(this, "ColRes", 456, 456, 13);
  const struct {
    QLabel** field;
    const char* name;
    int y;
  } symbols[] = {{&AudioImg, "AudioImg", 360},
                 {&VideoImg, "VideoImg", 393},
                 {&DirectXImg, "DirectXImg", 425},
                 {&ColResImg, "ColResImg", 457}};
  for (const auto& s : symbols) {
    auto* image = new QLabel(this);
    image->setObjectName(s.name);
    image->setGeometry(704, s.y, 20, 20);
    *s.field = image;
  }

  OKButton = new QPushButton("OK", this);
  OKButton->setObjectName("OKButton");
  OKButton->setGeometry(700, 495, 57, 41);
  OKButton->setEnabled(false);
  connect(OKButton, &QPushButton::clicked, this, [this] { OKButtonClick(); });

  Panel4 = new QFrame(this);
  Panel4->setObjectName("Panel4");
  Panel4->setGeometry(16, 481, 417, 64);
  Panel4->setFrameStyle(QFrame::Box | QFrame::Sunken);
  Panel4->hide();
  // The two radio buttons have different parents; their click handlers make them exclusive.
  AufloesungRadioButton = new controls::TBDRadioButtonCharset(Panel4);
  AufloesungRadioButton->setObjectName("AufloesungRadioButton");
  AufloesungRadioButton->SetBounds(11, 8, 174, 17);
  AufloesungRadioButton->setAutoExclusive(false);
  AufloesungRadioButton->OnClick = [this](QObject*) { AufloesungRadioButtonClick(); };
  AllProgramsCheckBox = new QCheckBox(Panel4);
  AllProgramsCheckBox->setObjectName("AllProgramsCheckBox");
  AllProgramsCheckBox->setGeometry(12, 35, 401, 25);
  AllProgramsCheckBox->setFont(PixelFont("Arial", 12));
  AllProgramsCheckBox->setChecked(true);
  AllProgramsCheckBox->hide();

  VollbildRadioButton = new controls::TBDRadioButtonCharset(this);
  VollbildRadioButton->setObjectName("VollbildRadioButton");
  VollbildRadioButton->SetBounds(252, 491, 117, 17);
  VollbildRadioButton->setAutoExclusive(false);
  VollbildRadioButton->hide();
  VollbildRadioButton->OnClick = [this](QObject*) { VollbildRadioButtonClick(); };
  for (controls::TBDRadioButtonCharset* radio : {AufloesungRadioButton, VollbildRadioButton}) {
    controls::TFont font;
    font.Name = "Arial";
    font.Height = -12;
    radio->SetFont(font);
  }

  Panel1 = new QFrame(this);
  Panel1->setObjectName("Panel1");
  Panel1->setGeometry(223, 32, 325, 241);
  Panel1->setStyleSheet("QFrame#Panel1 { background: black; }");
  Panel1->hide();
  Panel2 = new TVideoPanel(Panel1);
  Panel2->setObjectName("Panel2");
  Panel2->setGeometry(2, 2, 321, 237);
  Panel2->setStyleSheet("background: black;");

  MediaPlayer1 = new TMediaPlayer(this);
  MediaPlayer1->setObjectName("MediaPlayer1");

  Panel3 = new QFrame(this);
  Panel3->setObjectName("Panel3");
  Panel3->setGeometry(140, 354, 485, 89);
  Panel3->setStyleSheet("QFrame#Panel3 { background: black; }");
  Panel3->hide();
  Panel5 = new QFrame(Panel3);
  Panel5->setObjectName("Panel5");
  Panel5->setGeometry(2, 2, 481, 85);
  Panel5->setAutoFillBackground(true);
  Label1 = new QLabel(Panel5);
  Label1->setObjectName("Label1");
  Label1->move(48, 8);
  Button2 = new QPushButton(Panel5);
  Button2->setObjectName("Button2");
  Button2->setGeometry(156, 48, 73, 25);
  Button3 = new QPushButton(Panel5);
  Button3->setObjectName("Button3");
  Button3->setGeometry(252, 48, 73, 25);
  connect(Button2, &QPushButton::clicked, this, [this] { Button2Click(); });
  connect(Button3, &QPushButton::clicked, this, [this] { Button3Click(); });

  CountDown = new QProgressBar(this);
  CountDown->setObjectName("CountDown");
  CountDown->setGeometry(96, 400, 321, 33);
  CountDown->setRange(0, 150);
  CountDown->setTextVisible(false);
  CountDown->hide();

  LoopTimer = new QTimer(this);
  LoopTimer->setObjectName("LoopTimer");
  LoopTimer->setInterval(FServices.loopInterval);
  connect(LoopTimer, &QTimer::timeout, this, [this] { LoopTimerTimer(); });
  NoneBefruchtungsTimer = new QTimer(this);
  NoneBefruchtungsTimer->setObjectName("NoneBefruchtungsTimer");
  NoneBefruchtungsTimer->setInterval(FServices.guardInterval);
  connect(NoneBefruchtungsTimer, &QTimer::timeout, this, [this] { NoneBefruchtungsTimerTimer(); });
}

// ---------------------------------------------------------------- set-up

QSize TForm1::ScreenSize() const {
  return QSize(ScreenCaps(display::HORZRES), ScreenCaps(display::VERTRES));
}

int32_t TForm1::ScreenCaps(int32_t index) const {
  return display::CurrentDisplayDriver()->GetDeviceCaps(index);
}

void TForm1::PlaceWindow() {
  if (FConfig.silentMode) {
    move(-width(), -height());
  } else {
    const QSize screen = ScreenSize();
    move((screen.width() - width()) / 2, (screen.height() - height()) / 2);
  }
}

void TForm1::FormCreate() {
  PlaceWindow();
  sfs::SFSCreate();
  sfs::SFSInitMan(FConfig.ExePath);
  sfs::SFSSetRetryQuestion(AskRetryCancel);
  if (!FConfig.silentMode) Charset = ReadCharset(FConfig.captionsIni.get());
  SoundPlayer = FServices.CreateSoundPlayer ? FServices.CreateSoundPlayer()
                                            : CreateGlobalPlayerOutput();
}

void TForm1::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (FShown || event->spontaneous()) return;
  FShown = true;
  FormShow();
}

void TForm1::FormShow() {
  PlaceWindow();
  allowClose = false;
  playing = false;
  RadioButtonSet = false;
  audioCheck = true;
  videoCheck = true;
  InsertCompatibilityIntoRegistry();

  if (!FConfig.silentMode) {
    SetText(Audio, Text("Audio"));
    SetText(Video, Text("Video"));
    SetText(ColRes, Text("ColRes"));
    SetText(DirectX, FConfig.settingsIni ? FConfig.settingsIni->ReadString("Options", "DirectXAnzeige", "") : "");
    for (controls::TBDRadioButtonCharset* radio : {AufloesungRadioButton, VollbildRadioButton}) {
      controls::TFont font = radio->Font();
      font.Charset = Charset;
      radio->SetFont(font);
    }
    AufloesungRadioButton->SetCaption(Text("ActualRes"));
    VollbildRadioButton->SetCaption(Text("Fullscreen"));
    // The default is the program's own (code page 1252) text, whatever the language file's set.
    const bool hasAllPrograms = FConfig.captionsIni && FConfig.captionsIni->ValueExists("Texte", "AllPrograms");
    AllProgramsCheckBox->setText(hasAllPrograms ? DecodeText(Text("AllPrograms"), Charset)
                                                : DecodeText(cDefaultAllProgramsText, 1));
    SetText(AudioHelp, Text("AudioHelp_Caption"));
    SetText(VideoHelp, Text("VideoHelp_Caption"));
    SetText(ColResHelp, Text("ColREsHelp_Caption"));
    SetText(DirectXHelp, Text("DirectXHelp_Caption"));
    Button2->setText(DecodeText(Text("JaButton"), Charset));
    Button2->setFont(PixelFont("Tahoma", 11));
    Button3->setText(DecodeText(Text("NeinButton"), Charset));
    Button3->setFont(PixelFont("Tahoma", 11));
    AllProgramsCheckBox->setChecked(FConfig.setSettingsForAllBDPrograms);

    const struct {
      QLabel* image;
      const char* file;
    } pictures[] = {{bgImage, "Hintergrund.bmp"}, {Image1, "Bildlinks.bmp"}, {Image2, "Bildrechts.bmp"}};
    bool missing = false;
    for (const auto& p : pictures) {
      const std::string path = FConfig.ConfigPath + p.file;
      if (FileExists(path)) {
        p.image->setPixmap(p.image == bgImage ? QPixmap(LocalText(path)) : TransparentPixmap(LocalText(path)));
      } else {
        missing = true;
      }
    }
    if (missing) {
      Dialogs().ShowPlainMessage("Bilder-Pfade im ini-File sind falsch gesetzt!");
      allowClose = true;
      FSequenceDone = true;
      QMetaObject::invokeMethod(this, [this] { close(); }, Qt::QueuedConnection);
      return;
    }
  }
  Install(&TForm1::StartUpTimerTimer);
  ms100.SetEnabled(true);
}

// ---------------------------------------------------------------- helpers

void TForm1::Install(void (TForm1::*step)()) {
  ms100.SetOnTimer([this, step] { (this->*step)(); });
}

bool TForm1::Setting(const char* key, bool defaultValue) const {
  return FConfig.settingsIni ? FConfig.settingsIni->ReadBool("Options", key, defaultValue) : defaultValue;
}

std::string TForm1::Text(const char* key) const { return Caption(FConfig.captionsIni.get(), key); }
std::string TForm1::Para(const char* key) const { return Paragraph(FConfig.captionsIni.get(), key); }
void TForm1::TextDialog(const std::string& text) const { Dialogs().ShowTextDialog(text, Charset); }

void TForm1::SetText(QLabel* label, const std::string& bytes) {
  label->setText(DecodeText(bytes, Charset));
  label->adjustSize();
}

void TForm1::SetRecommendRed(const std::string& bytes) {
  SetText(Recommend, bytes);
  SetColour(Recommend, Qt::red);
}

bool TForm1::RecommendIsRed() const {
  return Recommend->palette().color(QPalette::WindowText) == QColor(Qt::red);
}

void TForm1::SetSymbol(QLabel* image, const char* file) {
  image->setPixmap(TransparentPixmap(LocalText(FConfig.ConfigPath + file)));
  image->setProperty("symbol", QString::fromLatin1(file));
}

QString TForm1::SymbolOf(const QLabel* image) { return image->property("symbol").toString(); }


// ---------------------------------------------------------------- sequence

void TForm1::StartUpTimerTimer() {
  ms100.SetEnabled(false);
  StartTests();
}

void TForm1::StartTests() {
  FPrgName = FConfig.settingsIni ? FConfig.settingsIni->ReadString("Options", "PrgName", "") : "";
  PrgName->setText(DecodeText(FPrgName, Charset));
  if (!FConfig.silentMode) TextDialog(Para("StartUp"));
  if (Setting("OGG", false) && !FConfig.silentMode) CheckOgg();
  Install(&TForm1::OggTimer);
  ms100.SetEnabled(true);
}

void TForm1::ShowQuestion(const char* questionKey) {
  Label1->setFont(PixelFont("Tahoma", 13));
  Label1->setText(DecodeText(Text(questionKey), Charset));
  Label1->adjustSize();
  Label1->move((Panel5->width() - Label1->width()) / 2, Label1->y());
  Panel3->show();
}

void TForm1::StartAudio(const char* file, const char* questionKey, void (TForm1::*finisher)()) {
  Audio->show();
  try {
    if (SoundPlayer == nullptr || SoundPlayer->Deactivated()) {
      questRes = false;
    } else {
      SoundPlayer->Play(FConfig.ConfigPath + file, true);
      playing = true;
      Install(finisher);
      ms100.SetEnabled(true);
      ShowQuestion(questionKey);
    }
  } catch (const std::exception&) {
    questRes = false;
  }
  questRes = false;
}

void TForm1::CheckOgg() { StartAudio("test.ogg", "Question7", &TForm1::OggTimer); }
void TForm1::CheckMp3() { StartAudio("test.mp3", "Question3", &TForm1::MP3Timer); }
void TForm1::CheckWav() { StartAudio("test.wav", "Question4", &TForm1::WavTimer); }

void TForm1::StartVideo(const char* file, const char* questionKey, void (TForm1::*finisher)()) {
  try {
    Video->show();
    Panel1->show();
    MediaPlayer1->FileName = LocalText(FConfig.ConfigPath + file);
    MediaPlayer1->Display = Panel2;
    MediaPlayer1->Open();
    MediaPlayer1->Play();
    playing = true;
    LoopTimer->setInterval(FServices.loopInterval);
    LoopTimer->start();
    Install(finisher);
    ms100.SetEnabled(true);
    ShowQuestion(questionKey);
  } catch (const std::exception&) {
    questRes = false;
  }
}

void TForm1::CheckAvi() { StartVideo("test.avi", "Question5", &TForm1::AviTimer); }
void TForm1::CheckMpeg() { StartVideo("test.mpg", "Question6", &TForm1::MpegTimer); }

void TForm1::Button2Click() {
  playing = false;
  questRes = true;
}

void TForm1::Button3Click() {
  playing = false;
  questRes = false;
}

void TForm1::LoopTimerTimer() {
  if (!playing) {
    LoopTimer->stop();
    return;
  }
  try {
    MediaPlayer1->Stop();
    MediaPlayer1->Rewind();
    MediaPlayer1->Play();
  } catch (const std::exception&) {
    // The question stays open; the answer decides.
  }
}

void TForm1::FinishAudio(const char* setting, bool settingDefault, bool judge,
                         const char* nextSetting, bool nextDefault, void (TForm1::*next)(),
                         void (TForm1::*nextFinisher)()) {
  if (playing) return;
  LoopTimer->stop();
  ms100.SetEnabled(false);
  if (SoundPlayer != nullptr) SoundPlayer->StopAll(false);
  Panel3->hide();
  if (Setting(setting, settingDefault) && !questRes) audioCheck = false;
  if (judge && !Audio->isHidden()) {
    SetSymbol(AudioImg, audioCheck ? cOkSymbol : cFailSymbol);
    if (!audioCheck) AudioHelp->show();
  }
  if (Setting(nextSetting, nextDefault) && !FConfig.silentMode) (this->*next)();
  Install(nextFinisher);
  ms100.SetEnabled(true);
}

// Settings and their defaults: OGG off, MP3 on, WAV on, AVI off, MPEG off.
void TForm1::OggTimer() {
  FinishAudio("OGG", false, false, "MP3", true, &TForm1::CheckMp3, &TForm1::MP3Timer);
}
void TForm1::MP3Timer() {
  FinishAudio("MP3", true, false, "WAV", true, &TForm1::CheckWav, &TForm1::WavTimer);
}
void TForm1::WavTimer() {
  FinishAudio("WAV", true, true, "AVI", false, &TForm1::CheckAvi, &TForm1::AviTimer);
}

bool TForm1::FinishVideo(const char* setting, bool judge) {
  if (playing) return false;
  LoopTimer->stop();
  ms100.SetEnabled(false);
  if (MediaPlayer1->Mode() == TMPModes::mpOpen) MediaPlayer1->Stop();
  MediaPlayer1->Close();
  Panel1->hide();
  Panel3->hide();
  if (Setting(setting, false) && !questRes) videoCheck = false;
  if (judge && !Video->isHidden()) {
    SetSymbol(VideoImg, videoCheck ? cOkSymbol : cFailSymbol);
    if (!videoCheck) VideoHelp->show();
  }
  return true;
}

void TForm1::AviTimer() {
  if (!FinishVideo("AVI", false)) return;
  if (Setting("MPEG", false) && !FConfig.silentMode) CheckMpeg();
  Install(&TForm1::MpegTimer);
  ms100.SetEnabled(true);
}

void TForm1::MpegTimer() {
  if (!FinishVideo("MPEG", true)) return;
  ContinueTests();
}

void TForm1::ContinueTests() {
  const platform::TCustomIniFile* c = FConfig.captionsIni.get();
  if (Setting("DirectX", false)) {
    if (CheckDirectX() < 0 && !FConfig.silentMode) {
      SetRecommendRed(Para("IDK"));
      Recommend->show();
      const std::string anzeige =
          FConfig.settingsIni ? FConfig.settingsIni->ReadString("Options", "DirectXAnzeige", "") : "";
      TextDialog(anzeige + " " + Text("DirectX1"));
    }
  }
  if (Setting("Flash", false)) CheckFlash();
  if (FConfig.silentMode) {
    FSequenceDone = true;
    OKButtonClick();
    return;
  }
  if (!Setting("Res", true)) {
    ColResHelp->hide();
    OKButton->setEnabled(true);
    FSequenceDone = true;
    return;
  }
  ColRes->show();
  PrgName->show();
  SetText(Actual, Text("Act1") + " " + std::to_string(ScreenCaps(display::HORZRES)) + "x" +
                      std::to_string(ScreenCaps(display::VERTRES)) + " " + Text("Act2") + " " +
                      std::to_string(ScreenCaps(display::BITSPIXEL)) + " " + Text("Act3"));
  Actual->show();
  const std::string requirement = FPrgName + " " + Text("Prg1") + " " +
                                  std::to_string(FConfig.reqHorzRes) + "x" +
                                  std::to_string(FConfig.reqVertRes) + " " + Text("Prg2") + " " +
                                  std::to_string(FConfig.reqColorBits) + " " + Text("Prg3");
  SetText(Programm, requirement);
  Programm->show();
  if (!RecommendIsRed()) {
    SetText(Recommend, Para("Rec"));
    Recommend->show();
  }

  checkStat = display::TScreenChecker::ConfigCheckScreen(FConfig.reqHorzRes, FConfig.reqVertRes,
                                                         FConfig.reqColorBits);
  switch (checkStat) {
    case display::VideoModeSupportedAndEqual:
      if ((Audio->isHidden() || audioCheck) && (Video->isHidden() || videoCheck)) {
        SetText(Programm, Text("Optimal1") + " " + FPrgName + " " + Text("Optimal2"));
        SetColour(Programm, Qt::blue);
      }
      if (!RecommendIsRed()) Recommend->hide();
      ColResHelp->hide();
      AufloesungRadioButton->SetChecked(true);  // runs its click handler
      SetSymbol(ColResImg, cOkSymbol);
      OKButton->setEnabled(true);
      FSequenceDone = true;
      break;
    case display::VideoModeNotSupportedAndTooHigh:
      Recommend->hide();
      SetSymbol(ColResImg, cOkSymbol);
      OKButton->setEnabled(true);
      FSequenceDone = true;
      break;
    case display::VideoModeSupportedButTooHigh: {
      VollbildRadioButton->SetChecked(true);  // runs its click handler
      TextDialog(Para("Change2Full"));
      int32_t switchStatus = 0;
      display::TScreenSwitcherHooks hooks;
      // A text of the language file: decoded in its character set, shown in the plain box.
      hooks.ShowMessage = [this](const std::string& text) {
        Dialogs().ShowPlainMessage(DecodeText(text, Charset));
      };
      hooks.SetScreenCursor = [](int32_t cursor) {
        if (cursor == display::crHourGlass) QApplication::setOverrideCursor(Qt::WaitCursor);
        else QApplication::restoreOverrideCursor();
      };
      hooks.TickCount = FServices.SwitcherClock;
      screenSwitcher = display::TScreenSwitcher::ConfigCreateAndWait(
          FConfig.reqHorzRes, FConfig.reqVertRes, FConfig.reqColorBits, FConfig.reqFreqMax,
          FConfig.reqUseLowerFreq, FConfig.ConfigPath + "captions.ini", switchStatus, hooks);
      Install(&TForm1::CountDownTimerTimer);
      ms100.SetEnabled(true);
      break;
    }
    case display::VideoModeNotSupported:
      if (!RecommendIsRed()) SetRecommendRed(Para("IDK"));
      ColResHelp->hide();
      AufloesungRadioButton->SetChecked(false);
      AufloesungRadioButton->setEnabled(false);
      VollbildRadioButton->setEnabled(false);
      TextDialog(MinReqFailText(c, FConfig.reqHorzRes, FConfig.reqVertRes, FConfig.reqColorBits));
      SetSymbol(ColResImg, cFailSymbol);
      OKButton->setEnabled(true);
      FSequenceDone = true;
      break;
    case display::VideoModeSupportedButTooLow:
      SetText(Recommend, Para("RecLess"));
      ColResHelp->show();
      AufloesungRadioButton->SetChecked(false);
      AufloesungRadioButton->setEnabled(false);
      VollbildRadioButton->setEnabled(false);
      TextDialog(Para("LessColRes"));
      SetSymbol(ColResImg, cFailSymbol);
      OKButton->setEnabled(true);
      FSequenceDone = true;
      break;
    default:
      OKButton->setEnabled(true);
      FSequenceDone = true;
      break;
  }
}

// ---------------------------------------------------------------- DirectX and Flash

int32_t TForm1::CheckDirectX() {
  DirectX->show();
  const int32_t required =
      FConfig.settingsIni ? FConfig.settingsIni->ReadInteger("Options", "DirectXVersion", INT32_MAX) : INT32_MAX;
  std::string version;
  try {
    platform::TRegistry reg(platform::KEY_READ);
    reg.SetRootKey(platform::HKEY_CURRENT_USER);
    if (reg.OpenKey(cDirectXKey, false)) version = reg.ReadString("Version");
  } catch (const std::exception&) {
    version.clear();
  }
  int32_t installed = 0;
  const int32_t result = DirectXOutcome(version, required, installed);
  if (result >= 0) {
    if (!FConfig.silentMode) SetSymbol(DirectXImg, cOkSymbol);
  } else {
    DirectXHelp->show();
    if (!FConfig.silentMode) SetSymbol(DirectXImg, cFailSymbol);
  }
  try {
    platform::TRegistry& t = *FConfig.t;
    t.SetAccess(platform::KEY_WRITE);
    t.SetRootKey(platform::HKEY_CURRENT_USER);
    t.OpenKey(cConfigKey, true);
    t.WriteBool(FPrgName + "DirectX", result >= 0);
    t.WriteInteger(FPrgName + "DirectXInstalled", installed);
    t.CloseKey();
  } catch (const std::exception&) {
    // A failing registry write is ignored.
  }
  return result;
}

int32_t TForm1::CheckFlash() {
  int32_t installed = 0;
  try {
    if (!FServices.FlashVersion) throw std::runtime_error("the Flash control cannot be created here");
    installed = FlashMajorVersion(FServices.FlashVersion());
  } catch (const std::exception&) {
    installed = 0;
  }
  const int32_t required =
      FConfig.settingsIni ? FConfig.settingsIni->ReadInteger("Options", "FlashVersion", INT32_MAX) : INT32_MAX;
  const int32_t result = CompareVersion(installed, required);
  try {
    platform::TRegistry& t = *FConfig.t;
    t.SetAccess(platform::KEY_WRITE);
    t.SetRootKey(platform::HKEY_CURRENT_USER);
    t.OpenKey(cConfigKey, true);
    t.WriteBool(FPrgName + "Flash", result >= 0);
    t.WriteInteger(FPrgName + "FlashInstalled", installed);
    t.CloseKey();
  } catch (const std::exception&) {
    // A failing registry write is ignored.
  }
  return result;
}

// ---------------------------------------------------------------- help lines

void TForm1::AudioHelpClick() { TextDialog(Para("AudioHelp")); }
void TForm1::VideoHelpClick() { TextDialog(Para("VideoHelp")); }

void TForm1::DirectXHelpClick() {
  Dialogs().ShowPlainMessage(DecodeText(Text("DirectXHelp1") + CR + Text("DirectXHelp2"), Charset));
}

void TForm1::ColResHelpClick() {
  TextDialog(ChangeColResText(FConfig.captionsIni.get(), FConfig.reqHorzRes, FConfig.reqVertRes,
                              FConfig.reqColorBits));
}

// ---------------------------------------------------------------- trial switch

void TForm1::CountDownTimerTimer() {
  display::TScreenSwitcher* sw = screenSwitcher.get();
  if (sw == nullptr || QuestionForm == nullptr) {
    EndTrial();
    return;
  }
  if (!sw->displayChanged) {
    if (sw->ConfigSwitchNext(CurrentIndex, MaxIndex)) {
      setEnabled(false);
      CountDown->setValue(0);
      CountDown->show();
      const QSize screen = ScreenSize();
      move((screen.width() - width()) / 2, (screen.height() - height()) / 2);
      QuestionForm->SetModalResult(mrNone);
      QuestionForm->SetQuestion(TrialQuestionText(
          FConfig.reqHorzRes, FConfig.reqVertRes, sw->ConfigCurrentPos + 1,
          static_cast<int32_t>(sw->ConfigDevmodList.size()), Text("Question2")));
    } else {
      EndTrial();
    }
    return;
  }

  // An answer ends the dialog's loop, which may still deliver a tick before it returns; that
  // tick must neither reopen the dialog nor act on the answer: the tick that opened it goes on.
  if (QuestionForm->ModalLoopEnding()) return;
  if (!QuestionForm->isVisible()) QuestionForm->ShowModal();  // later ticks run inside it
  if (CountDown->value() >= CountDown->maximum()) QuestionForm->SetModalResult(mrNo);
  if (QuestionForm->ModalResult() != mrNone) {
    sw->ConfigSwitchBack();
    if (isMinimized()) showNormal();
    raise();
    activateWindow();
  }
  if (QuestionForm->ModalResult() == mrYes) {
    ms100.SetEnabled(false);
    CountDown->hide();
    setEnabled(true);
    ColResHelp->show();
    SetSymbol(ColResImg, cOkSymbol);
    Image1->show();
    Image2->show();
    Panel4->show();
    AllProgramsCheckBox->show();
    VollbildRadioButton->show();
    TextDialog(Para("FullScreenInfo"));
    OKButton->setEnabled(true);
    FSequenceDone = true;
  }
  CountDown->setValue(CountDown->value() + 1);
}

// No candidate left and none confirmed: the choice is fixed to the current resolution.
void TForm1::EndTrial() {
  ms100.SetEnabled(false);
  CountDown->hide();
  setEnabled(true);
  ColResHelp->show();
  CurrentIndex = -1;
  RadioButtonSet = true;
  AufloesungRadioButton->SetChecked(true);  // runs its click handler
  AufloesungRadioButton->setEnabled(false);
  VollbildRadioButton->SetChecked(false);
  VollbildRadioButton->setEnabled(false);
  NoneBefruchtungsTimer->start();
  SetSymbol(ColResImg, cFailSymbol);
  if (!RecommendIsRed()) SetText(Recommend, Para("NoFullScreenInfo"));
  OKButton->setEnabled(true);
  FSequenceDone = true;
}

void TForm1::AufloesungRadioButtonClick() { VollbildRadioButton->SetChecked(false); }

void TForm1::VollbildRadioButtonClick() {
  if (RadioButtonSet) VollbildRadioButton->SetChecked(false);
  else AufloesungRadioButton->SetChecked(false);
}

void TForm1::NoneBefruchtungsTimerTimer() {
  NoneBefruchtungsTimer->stop();
  RadioButtonSet = false;
}

// ---------------------------------------------------------------- saving

void TForm1::OKButtonClick() {
  FConfig.setSettingsForAllBDPrograms = AllProgramsCheckBox->isChecked();
  if (!FConfig.silentMode && FConfig.t) {
    try {
      platform::TRegistry& t = *FConfig.t;
      t.SetAccess(platform::KEY_ALL_ACCESS);
      t.SetRootKey(platform::HKEY_CURRENT_USER);
      t.OpenKey(cConfigKey, true);
      const int32_t sw = SwitchValue(checkStat, AufloesungRadioButton->isChecked());
      const std::string& pair = FConfig.PairString;
      const std::string all = cAllPrograms;
      t.WriteInteger(all + pair + "Switch", sw);
      t.WriteInteger(FPrgName + pair + "Switch", sw);
      t.WriteInteger(all + pair + "TargetIndex", CurrentIndex);
      t.WriteInteger(all + pair + "MaxIndex", MaxIndex);
      t.WriteBool(all + pair + "SettingsForAllPrograms", FConfig.setSettingsForAllBDPrograms);
      t.WriteInteger(FPrgName + pair + "TargetIndex", CurrentIndex);
      t.WriteInteger(FPrgName + pair + "MaxIndex", MaxIndex);
      t.CloseKey();
    } catch (const std::exception&) {
      // The values written so far stay; the window closes all the same.
    }
  }
  FConfig.t.reset();
  FConfig.progIni.reset();
  FConfig.settingsIni.reset();
  FConfig.captionsIni.reset();
  allowClose = true;
  close();
}

void TForm1::closeEvent(QCloseEvent* event) {
  if (!allowClose) {
    event->ignore();
    return;
  }
  ms100.SetEnabled(false);
  event->accept();
  emit Closed();
}

void TForm1::InsertCompatibilityIntoRegistry() {
  const std::string folder = ExtractFilePath(FConfig.ExePath);
  const platform::TMemIniFile ini(folder + "program.ini");
  const std::string exeName = ini.ReadString(cExeNameSection, "ExeName", "");
  // A silent run shows nothing; the entry is written all the same.
  if (exeName.empty() && !FConfig.silentMode)
    Dialogs().ShowPlainMessage("Exename not found for Compatibility entry");
  try {
    platform::TRegistry reg(platform::KEY_WRITE);
    reg.SetRootKey(platform::HKEY_CURRENT_USER);
    reg.OpenKey(cLayersKey, true);
    reg.WriteString(folder + exeName, cCompatibilityData);
    reg.CloseKey();
  } catch (const std::exception&) {
    // Without the entry the educational program still runs; set-up goes on.
  }
}

}  // namespace app
