// The options of a subcommand as one table, which both reads the arguments and
// writes the command's --help text, so the two cannot drift apart.
//
// Every command reads its arguments the same way: `--name value` and
// `--name=value` alike, `-h`/`--help` for the help, and `--` ending the
// options so that an operand may start with '-' (a file named "-x.png").
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace quorlin::cli {

struct CliOption {
  std::string_view name;               // "--panel"
  std::string_view valueName;          // "PANEL"; empty for a switch
  std::string_view help;               // the help text; '\n' starts another line
  std::string_view missingValue = "a value";  // "--panel needs a value"
  bool isRepeatable = false;
};

struct CliSyntax {
  std::string_view command;        // "compare"
  std::string_view operands;       // "SOURCE"
  std::span<const CliOption> options;
  std::string_view description;    // the paragraph under the synopsis; may be empty
};

struct CliArguments {
  std::vector<std::pair<std::string_view, std::string>> options;  // name and value ("" for a switch), as given
  std::vector<std::string> operands;
  bool isHelp = false;
  std::string error;  // set when the arguments are not usable
};

CliArguments parseCliArguments(const CliSyntax& syntax, const std::vector<std::string>& arguments);

// "usage: quorlin-cli compare SOURCE [--panel PANEL]... [--json]\n\n<description>\n\n  --panel PANEL  ...\n"
std::string usageText(const CliSyntax& syntax);

// `text` broken at spaces into lines of at most `width` characters (a longer
// word stands alone), the first after `firstLinePrefix`, the others indented
// by `indent` spaces; each line ends in '\n'.
std::string wrappedLines(std::string_view firstLinePrefix, std::string_view text, std::size_t width,
                         std::size_t indent);

}  // namespace quorlin::cli
