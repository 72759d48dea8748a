// Command registration of the `sfs` tool.
//
// Every command of the tool lives in a file tools/sfs/Cmd<Group>.cpp; CMakeLists.txt picks up
// every Cmd*.cpp by itself, so adding a command group needs no edit of any other file. A command
// is registered by a static TRegisterCommand object that gives its name, a one-line description,
// its usage line, a Setup function that declares its options and positionals on the CLI11
// sub-command, and a Run function that does the work after the command line was parsed.
//
// Adding a command group (for example CmdCodec.cpp or CmdContainer.cpp):
//
//   #include "Command.h"
//   #include "Tool.h"
//
//   namespace {
//   struct TCompressArgs {
//     std::string Level;
//     std::string File = "-";
//   };
//   TCompressArgs gCompress;
//
//   sfstool::TRegisterCommand gCompressCommand({
//       .Name = "compress",
//       .Description = "Packs the input with the codec layer",
//       .Usage = "sfs compress LEVEL [FILE]",
//       .Setup = [](CLI::App& cmd) {
//         cmd.add_option("LEVEL", gCompress.Level, "compression level name")->required();
//         cmd.add_option("FILE", gCompress.File, "input file or - (default)");
//       },
//       .Run = [] {
//         const std::string input = sfstool::ReadInput(gCompress.File);
//         ...                                     // failures: throw sfstool::TToolError("...")
//         sfstool::WriteOutput("-", packed);
//         return 0;
//       },
//   });
//   }  // namespace
//
// Conventions the framework keeps for every command (see Tool.h for the helpers):
// - Run returns the exit status (normally 0). A failure is reported by throwing TToolError (or
//   any platform::Exception / std::exception): the tool prints "sfs: <message>" on standard error
//   and exits with 1. TUsageError, and every command-line error CLI11 finds, print
//   "sfs: <message>" and the command's usage line and exit with 2.
// - Options may stand before or after the positional arguments; `--help` on the tool and on
//   every command comes from the descriptions given here.
// - Names must be unique across all groups; a duplicate name aborts the tool at start-up.
#pragma once

#include <CLI/CLI.hpp>

#include <functional>
#include <string>
#include <vector>

namespace sfstool {

struct TCommandInfo {
  std::string Name;
  std::string Description;
  std::string Usage;                       // "sfs NAME ARGS", shown with usage errors
  std::function<void(CLI::App&)> Setup;    // declares options and positionals
  std::function<int()> Run;                // runs the command; returns the exit status
};

// Registers a command; define one static object per command.
class TRegisterCommand {
 public:
  explicit TRegisterCommand(TCommandInfo Info);
};

// All registered commands, sorted by name.
std::vector<const TCommandInfo*> RegisteredCommands();

// Runs the tool on argc/argv and returns the exit status (used by main and by tests).
int RunTool(int argc, char** argv);

}  // namespace sfstool
