#include "Command.h"

#include <csignal>
#include <algorithm>
#include <cstdio>
#include <exception>
#include <map>
#include <memory>

#include "Tool.h"

namespace sfstool {

namespace {

std::map<std::string, TCommandInfo>& Registry() {
  static std::map<std::string, TCommandInfo> registry;
  return registry;
}

constexpr const char* cToolUsage = "usage: sfs COMMAND [OPTIONS] [ARGS]  (sfs --help lists the commands)";

void PrintError(const std::string& Message) { std::fprintf(stderr, "sfs: %s\n", Message.c_str()); }

void PrintUsage(const TCommandInfo* Info) {
  if (Info != nullptr && !Info->Usage.empty())
    std::fprintf(stderr, "usage: %s\n", Info->Usage.c_str());
  else
    std::fprintf(stderr, "%s\n", cToolUsage);
}

}  // namespace

TRegisterCommand::TRegisterCommand(TCommandInfo Info) {
  auto& registry = Registry();
  if (registry.count(Info.Name) != 0) {
    std::fprintf(stderr, "sfs: command \"%s\" registered twice\n", Info.Name.c_str());
    std::abort();
  }
  const std::string name = Info.Name;
  registry.emplace(name, std::move(Info));
}

std::vector<const TCommandInfo*> RegisteredCommands() {
  std::vector<const TCommandInfo*> commands;
  for (const auto& [name, info] : Registry()) commands.push_back(&info);
  return commands;
}

int RunTool(int argc, char** argv) {
  // A closed output pipe is reported as a failed write (exit 1), not a signal death.
  std::signal(SIGPIPE, SIG_IGN);
  CLI::App app{"sfs - single-file containers, codecs, ciphers and digests", "sfs"};
  app.set_version_flag("--version", VersionText());
  app.require_subcommand(1);
  app.fallthrough(false);

  std::vector<std::pair<CLI::App*, const TCommandInfo*>> commands;
  for (const TCommandInfo* info : RegisteredCommands()) {
    CLI::App* sub = app.add_subcommand(info->Name, info->Description);
    if (!info->Usage.empty()) sub->footer("usage: " + info->Usage);
    if (info->Setup) info->Setup(*sub);
    commands.emplace_back(sub, info);
  }
  auto chosen = [&]() -> const TCommandInfo* {
    for (const auto& [sub, info] : commands)
      if (sub->parsed()) return info;
    return nullptr;
  };

  if (argc > 1 && argv[1][0] != '-' && Registry().count(argv[1]) == 0) {
    PrintError(std::string("unknown command \"") + argv[1] + "\"");
    PrintUsage(nullptr);
    return 2;
  }
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForAllHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForVersion& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    PrintError(e.what());
    PrintUsage(chosen());
    return 2;
  }

  const TCommandInfo* info = chosen();
  if (info == nullptr || !info->Run) {
    PrintUsage(nullptr);
    return 2;
  }
  try {
    return info->Run();
  } catch (const TUsageError& e) {
    PrintError(e.what());
    PrintUsage(info);
    return 2;
  } catch (const std::bad_alloc&) {
    PrintError("out of memory");
  } catch (const std::exception& e) {
    PrintError(e.what());
  } catch (...) {
    PrintError("unexpected failure");
  }
  return 1;
}

}  // namespace sfstool
