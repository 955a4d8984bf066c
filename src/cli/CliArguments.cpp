#include "cli/CliArguments.h"

#include <algorithm>

namespace quorlin::cli {

namespace {

constexpr std::size_t lineWidth = 88;
constexpr std::size_t helpColumn = 18;

const CliOption* optionNamed(const CliSyntax& syntax, std::string_view name) {
  for (const CliOption& option : syntax.options) {
    if (option.name == name) return &option;
  }
  return nullptr;
}

}  // namespace

CliArguments parseCliArguments(const CliSyntax& syntax, const std::vector<std::string>& arguments) {
  CliArguments parsed;
  bool optionsEnded = false;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    const bool looksLikeOption = argument.size() > 1 && argument.front() == '-';
    if (optionsEnded || !looksLikeOption) {
      parsed.operands.push_back(argument);
      continue;
    }
    if (argument == "--") {
      optionsEnded = true;
      continue;
    }
    if (argument == "--help" || argument == "-h") {
      parsed.isHelp = true;
      return parsed;
    }
    const std::size_t equals = argument.find('=');
    const std::string_view name = std::string_view(argument).substr(0, equals);
    const CliOption* option = optionNamed(syntax, name);
    if (!option) {
      parsed.error = "unknown option '" + argument + "'";
      return parsed;
    }
    if (option->valueName.empty()) {
      if (equals != std::string::npos) {
        parsed.error = std::string(name) + " takes no value";
        return parsed;
      }
      parsed.options.emplace_back(option->name, std::string());
    } else if (equals != std::string::npos) {
      parsed.options.emplace_back(option->name, argument.substr(equals + 1));
    } else if (i + 1 < arguments.size()) {
      parsed.options.emplace_back(option->name, arguments[++i]);
    } else {
      parsed.error = std::string(name) + " needs " + std::string(option->missingValue);
      return parsed;
    }
  }
  return parsed;
}

std::string wrappedLines(std::string_view firstLinePrefix, std::string_view text, std::size_t width,
                         std::size_t indent) {
  std::string result;
  std::string line(firstLinePrefix);
  bool lineHasWords = false;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find(' ', start);
    if (end == std::string_view::npos) end = text.size();
    const std::string_view word = text.substr(start, end - start);
    start = end + 1;
    if (word.empty()) continue;
    if (lineHasWords && line.size() + 1 + word.size() > width) {
      result += line + '\n';
      line.assign(indent, ' ');
      lineHasWords = false;
    }
    if (lineHasWords) line += ' ';
    line += word;
    lineHasWords = true;
  }
  return result + line + '\n';
}

std::string usageText(const CliSyntax& syntax) {
  // Appended piece by piece: GCC 12 warns falsely about `"literal" + std::string(...)`.
  auto nameAndValue = [](const CliOption& option) {
    std::string text(option.name);
    if (!option.valueName.empty()) text.append(" ").append(option.valueName);
    return text;
  };
  std::string prefix = "usage: quorlin-cli ";
  prefix.append(syntax.command).append(" ");
  std::string synopsis(syntax.operands);
  for (const CliOption& option : syntax.options) {
    synopsis.append(" [").append(nameAndValue(option)).append(option.isRepeatable ? "]..." : "]");
  }
  std::string text = wrappedLines(prefix, synopsis, lineWidth, prefix.size());
  if (!syntax.description.empty()) text.append("\n").append(syntax.description);
  text += '\n';
  for (const CliOption& option : syntax.options) {
    std::string head = "  ";
    head.append(nameAndValue(option));
    // A name too long for the column gets its help on the lines below it.
    if (head.size() + 1 > helpColumn) {
      text.append(head).append("\n");
      head.assign(helpColumn, ' ');
    }
    head.resize(helpColumn, ' ');
    std::string_view help = option.help;
    while (true) {
      const std::size_t newline = help.find('\n');
      text += wrappedLines(head, help.substr(0, newline), lineWidth, helpColumn);
      if (newline == std::string_view::npos) break;
      help = help.substr(newline + 1);
      head.assign(helpColumn, ' ');
    }
  }
  return text;
}

}  // namespace quorlin::cli
