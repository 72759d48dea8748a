// The tool's entry: locates the installation, reads its configuration into the process-wide
// state, decides whether the configuration window is needed, and runs it.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "app/uGlobal.h"

namespace app {

class TDialogService;

struct TScreenSize {
  int32_t width = 0;
  int32_t height = 0;
};

// What the start-up needs from outside; every member must be set.
struct TStartupServices {
  std::function<TScreenSize()> ScreenSize;  // the screen as it is now
  // Display verdict (-2..2) for the requirements in the state.
  std::function<int32_t(const TConfigState&)> CheckResolution;
  TDialogService* Dialogs = nullptr;
};

enum class TStartupResult { End, OpenWindow };

// The start-up steps up to the decision whether the window opens. Ends with the fixed messages
// or the text dialogs of a display that cannot show the program; on OpenWindow the state is
// complete and the caller creates the window. `args` are the arguments after the program name.
TStartupResult StartUp(TConfigState& state, const std::string& exePath,
                       const std::vector<std::string>& args, const TStartupServices& services);

// The services of the real program: the screen and the verdict from the display driver in use,
// the Qt dialogs.
TStartupServices DefaultStartupServices();

struct TFormServices;
// Sets the application title, creates the configuration window and the question dialog, runs
// the message loop until the window closes and destroys both. Needs a QApplication.
int RunConfigWindow(TConfigState& state, TFormServices services);

// Registers the fonts the window asks for ("Tahoma", "MS Sans Serif") when the system lacks them.
void InstallProjectFonts();

// The program: creates the application object, runs StartUp and, if asked for, the window and
// its message loop. Returns the process exit code.
int ConfigMain(int argc, char** argv);

}  // namespace app
