// Every subcommand's usage errors: status 2, "quorlin-cli CMD: " and the reason,
// then the command's usage, all on stderr; --help prints the usage on stdout.
#include "CliHarness.h"

namespace quorlin::test {
namespace {

using CommandUsageTest = CliTest;

TEST_F(CommandUsageTest, BadArgumentsExitTwoWithTheReasonAndTheUsage) {
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{"compare"}, "no source image given"},
      {{"compare", "a.png", "b.png"}, "only one source can be given"},
      {{"compare", "a.png", "--fast"}, "unknown option '--fast'"},
      {{"compare", "-x.png"}, "unknown option '-x.png'"},
      {{"compare", "a.png", "--json=yes"}, "--json takes no value"},
      {{"compare", "a.png", "--", "--help"}, "only one source can be given"},
      {{"compare", "a.png", "--panel"}, "--panel needs a value"},
      {{"compare", "a.png", "--panel", "png"}, "unknown codec 'png'"},
      {{"compare", "a.png", "--panel", "webp:speed=3"},
       "unknown panel field 'speed' for WebP (fields: effort, quality, isWebPLossless, webPLosslessLevel)"},
      {{"compare", "a.png", "--panel", "webp:quality=high"}, "quality must be a whole number from 1 to 100, not 'high'"},
      {{"compare", "a.png", "--panel", "webp:quality"}, "panel setting 'quality' is not FIELD=VALUE"},
      {{"compare", "a.png", "--panel", "jpeg-turbo:chromaSubsampling=auto"},
       "must be Auto, 444, 440, 422 or 420, not 'auto'"},
      {{"compare", "a.png", "--panel", "jxl", "--panel", "avif", "--panel", "webp", "--panel", "jpegli", "--panel",
        "jxl"},
       "at most four panels can be compared"},
      {{"compare", "a.png", "--target", "0"}, "--target must be a score above 0 and at most 100, not '0'"},
      {{"compare", "a.png", "--target", "eighty"}, "--target must be a score above 0 and at most 100, not 'eighty'"},
      {{"compare", "a.png", "--threads", "0"}, "--threads must be a whole number from 1 to 1024, not '0'"},
      {{"compare", "a.png", "--threads", "two"}, "--threads must be a whole number from 1 to 1024, not 'two'"},
      {{"compare", "a.png", "--tool-timeout", "0"}, "--tool-timeout must be a number of seconds above 0, not '0'"},
      {{"rd", "a.png", "--ladder", "1:30,40"}, "--ladder must be a panel number and its values, e.g. 2=30,50,70,90"},
      {{"rd", "a.png", "--ladder", "5=30"}, "--ladder must be a panel number"},
      {{"rd", "a.png", "--ladder", "3=30,x"}, "not '3=30,x'"},
      {{"rd", "a.png", "--panel", "webp", "--ladder", "2=30"}, "--ladder names panel 2, but there are 1 panels"},
      {{"rd", "a.png", "--panel", "webp", "--ladder", "1=50.5"},
       "qualities for WebP must be whole numbers from 1 to 100"},
      {{"rd", "a.png", "--ladder", "1=0,1"}, "distances for JPEG XL must be above 0 and at most 25"},
      {{"rd", "a.png", "--targets", "50,101"}, "--targets must be scores above 0 and at most 100"},
      {{"rd", "a.png", "--targets", "50", "--ladder", "1=2"}, "--targets and --ladder cannot be combined"},
      {{"rd", "a.png", "--anchor", "5"}, "--anchor names panel 5, but there are 4 panels"},
      {{"rd", "a.png", "--anchor", "0"}, "--anchor must be a panel number, not '0'"},
      {{"rd", "a.png", "--csv"}, "--csv needs a value"},
      {{"rd", "--", "-a.png", "--serial"}, "only one source can be given"},
      {{"info"}, ""},
      {{"info", "--json"}, ""},
      {{"info", "a.png", "b.png"}, "only one source can be given"},
      {{"info", "a.png", "--verbose"}, "unknown option '--verbose'"},
      {{"tools", "--tool-dir"}, "--tool-dir needs a directory"},
      {{"tools", "--jsn"}, "unknown option '--jsn'"},
  };
  for (const auto& [arguments, message] : cases) {
    SCOPED_TRACE(::testing::PrintToString(arguments));
    const ProgramRun result = run(arguments);
    EXPECT_EQ(result.status, 2);
    const std::string prefix = "quorlin-cli " + arguments[0];
    EXPECT_TRUE(message.empty() || result.errors.starts_with(prefix + ": ")) << result.errors;
    EXPECT_NE(result.errors.find(message), std::string::npos) << result.errors;
    EXPECT_NE(result.errors.find("usage: " + prefix + (arguments[0] == "tools" ? "" : " SOURCE")), std::string::npos);
    EXPECT_EQ(result.output, "");
  }
  for (const char* command : {"compare", "info", "tools"}) {
    const ProgramRun help = run({command, "--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_TRUE(help.output.starts_with("usage: quorlin-cli " + std::string(command))) << help.output;
    if (command == std::string("compare")) {
      expectContains(help.output, {"--panel PANEL]...", "--target SCORE]", "--serial]", "--tool-dir DIR]..."});
    }
  }
  const ProgramRun version = run({"--version"});
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.output, "quorlin-cli " QUORLIN_VERSION "\n");
}

}  // namespace
}  // namespace quorlin::test
