#include <QApplication>
#include <QGuiApplication>
#include <QScreen>

#include "app/Config.h"
#include "app/Dialogs.h"
#include "app/Unit1.h"
#include "app/uQuestion.h"
#include "display/ScreenChecker.h"

namespace app {

namespace {

TScreenSize DriverScreen() {
  auto driver = display::CurrentDisplayDriver();
  return {driver->GetDeviceCaps(display::HORZRES), driver->GetDeviceCaps(display::VERTRES)};
}

}  // namespace

TStartupServices DefaultStartupServices() {
  TStartupServices services;
  services.ScreenSize = DriverScreen;
  services.CheckResolution = [](const TConfigState& s) {
    return display::TScreenChecker::ConfigCheckScreen(s.reqHorzRes, s.reqVertRes, s.reqColorBits);
  };
  services.Dialogs = &Dialogs();
  return services;
}

int RunConfigWindow(TConfigState& state, TFormServices services) {
  SetApplicationTitle("Config");
  auto form = std::make_unique<TForm1>(state, std::move(services));
  auto question = std::make_unique<TQuestionForm>(state, form->Charset, [] {
    const TScreenSize s = DriverScreen();
    return QSize(s.width, s.height);
  });
  form->SetQuestionForm(question.get());
  // The closed window ends the program: exit, not quit, which first asks the other open windows
  // whether they may close and gives up when one refuses.
  QObject::connect(form.get(), &TForm1::Closed, qApp, [] { QCoreApplication::exit(0); }, Qt::QueuedConnection);
  form->show();
  const int rc = QApplication::exec();
  form.reset();  // FormDestroy: frees the sound player and the file access facade
  question.reset();
  return rc;
}

int ConfigMain(int argc, char** argv) {
  // The FFmpeg engine needs no further plugins and reports an unreadable video at once.
  qputenv("QT_MEDIA_BACKEND", "ffmpeg");
  QApplication application(argc, argv);
  QApplication::setQuitOnLastWindowClosed(false);
  InstallProjectFonts();

  const std::string exe = QCoreApplication::applicationFilePath().toStdString();
  SetApplicationTitle(TitleFromExe(exe));

  display::DEVMODE fallback;
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    fallback = display::MakeDevMode(static_cast<uint32_t>(screen->geometry().width()),
                                    static_cast<uint32_t>(screen->geometry().height()),
                                    static_cast<uint32_t>(screen->depth()),
                                    static_cast<uint32_t>(screen->refreshRate() + 0.5));
  }
  display::SetCurrentDisplayDriver(display::CreateDisplayDriver(&fallback));

  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) args.emplace_back(argv[i]);
  TConfigState& state = TheConfig();
  if (StartUp(state, exe, args, DefaultStartupServices()) != TStartupResult::OpenWindow) return 0;
  return RunConfigWindow(state, TFormServices{});
}

}  // namespace app

#include "controls/Font.h"

namespace app {

void InstallProjectFonts() { controls::RegisterProjectFonts(); }

}  // namespace app
