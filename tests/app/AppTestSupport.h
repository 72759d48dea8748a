// Helpers of the tool's tests: a throw-away installation on disk, an isolated registry store and
// a dialog service that records what would have been shown.
#pragma once

#include <QString>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/Dialogs.h"

namespace apptest {

namespace fs = std::filesystem;

inline void WriteFile(const fs::path& path, const std::string& text) {
  fs::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary);
  out << text;
}

// A temporary folder that holds an installation (root/bin/config, root/bin/program.ini, the
// language folder root/deutsch/) and the registry store (root/xdg). XDG_CONFIG_HOME points at the
// store while the object lives.
class TTestInstall {
 public:
  TTestInstall() {
    std::string pattern = (fs::temp_directory_path() / "bd-app-XXXXXX").string();
    root = mkdtemp(pattern.data());
    setenv("XDG_CONFIG_HOME", (root / "xdg").c_str(), 1);
    exe = (root / "bin" / "config").string();
  }
  ~TTestInstall() {
    std::error_code ec;
    fs::remove_all(root, ec);
  }
  TTestInstall(const TTestInstall&) = delete;
  TTestInstall& operator=(const TTestInstall&) = delete;

  // A complete installation with the given settings.ini options (lines "key=value").
  void MakeStandard(const std::string& options = "", const std::string& captions = DefaultCaptions()) {
    WriteFile(root / "bin" / "program.ini", "[Language]\nConfigIniPath=deutsch\\\n");
    WriteFile(root / "bin" / "config", "");
    WriteFile(root / "deutsch" / "settings.ini", "[Options]\nPrgName=Lesen\n" + options);
    WriteFile(root / "deutsch" / "captions.ini", captions);
  }

  static std::string DefaultCaptions() {
    return "[Charset]\nCharset=1\n[Texte]\n"
           "MinReqFail1=MR1\nMinReqFail2=MR2\nMinReqFail3=MR3\n"
           "Prg1=P1\nPrg2=P2\nPrg3=P3\n"
           "LessColRes1=L1\nLessColRes2=L2\n"
           "ChangeColRes1=C1\nChangeColRes2=C2\nChangeColRes3=C3\nChangeColRes4=C4\nChangeColRes5=C5\n";
  }

  std::string Path(const std::string& relative) const { return (root / relative).string(); }
  std::string Folder() const { return root.string() + "/"; }
  std::string StoreText() const {
    std::ifstream in(root / "xdg" / "Brindel" / "registry.reg", std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  fs::path root;
  std::string exe;
};

// Records the dialogs instead of showing them.
class TRecordingDialogs : public app::TDialogService {
 public:
  struct Entry {
    bool textDialog;
    std::string text;  // bytes for text dialogs, UTF-8 for plain messages
    int charset;
  };
  TRecordingDialogs() { app::SetDialogService(this); }
  ~TRecordingDialogs() override { app::SetDialogService(nullptr); }
  void ShowTextDialog(const std::string& text, int charset) override {
    shown.push_back({true, text, charset});
  }
  void ShowPlainMessage(const QString& text) override {
    shown.push_back({false, text.toStdString(), 0});
  }
  std::vector<Entry> shown;
};

}  // namespace apptest
