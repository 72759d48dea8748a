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

std::map<std::string, TCommandSpec>& Registry() {
  static std::map<std::string, TCommandSpec> registry;
  return registry;
}

constexpr const char* cToolUsage = "usage: sfs COMMAND [OPTIONS] [ARGS]  (sfs --help lists the commands)";

void PrintError(const std::string& Message) { std::fprintf(stderr, "sfs: %s\n", Message.c_str()); }

void PrintUsage(const TCommandSpec* Spec) {
  if (Spec != nullptr && !Spec->Usage.empty())
    std::fprintf(stderr, "usage: %s\n", Spec->Usage.c_str());
  else
    std::fprintf(stderr, "%s\n", cToolUsage);
}

}  // namespace

TRegisterCommand::TRegisterCommand(TCommandSpec Spec) {
  auto& registry = Registry();
  if (registry.count(Spec.Name) != 0) {
    std::fprintf(stderr, "sfs: command \"%s\" registered twice\n", Spec.Name.c_str());
    std::abort();
  }
  const std::string name = Spec.Name;
  registry.emplace(name, std::move(Spec));
}

std::vector<const TCommandSpec*> RegisteredCommands() {
  std::vector<const TCommandSpec*> commands;
  for (const auto& [name, spec] : Registry()) commands.push_back(&spec);
  return commands;
}

int RunTool(int argc, char** argv) {
  // A closed output pipe is reported as a failed write (exit 1), not a signal death.
  std::signal(SIGPIPE, SIG_IGN);
  CLI::App app{"sfs - single-file containers, codecs, ciphers and digests", "sfs"};
  app.set_version_flag("--version", VersionText());
  app.require_subcommand(1);
  app.fallthrough(false);

  std::vector<std::pair<CLI::App*, const TCommandSpec*>> commands;
  for (const TCommandSpec* spec : RegisteredCommands()) {
    CLI::App* sub = app.add_subcommand(spec->Name, spec->Description);
    if (!spec->Usage.empty()) sub->footer("usage: " + spec->Usage);
    if (spec->Setup) spec->Setup(*sub);
    commands.emplace_back(sub, spec);
  }
  auto chosen = [&]() -> const TCommandSpec* {
    for (const auto& [sub, spec] : commands)
      if (sub->parsed()) return spec;
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

  const TCommandSpec* spec = chosen();
  if (spec == nullptr || !spec->Run) {
    PrintUsage(nullptr);
    return 2;
  }
  try {
    return spec->Run();
  } catch (const TUsageError& e) {
    PrintError(e.what());
    PrintUsage(spec);
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
