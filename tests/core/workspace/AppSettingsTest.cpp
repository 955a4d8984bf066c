#include "core/workspace/AppSettings.h"

#include <gtest/gtest.h>

#include "support/TestSupport.h"

namespace quorlin {
namespace {

namespace fs = std::filesystem;

// Every value a start reads, in table order, with the search path's directories last.
std::string readBack(const AppSettings& settings, const ToolSearchPath& searchPath) {
  std::string text = std::string(rawValue(settings.appearance())) + " " + std::to_string(settings.autoRegenerate()) +
                     " " + std::to_string(settings.autoRegenerateDelay()) + " " +
                     std::to_string(settings.encodeInParallel()) + " " +
                     std::to_string(settings.hasSeenToolRequirements()) + " [";
  for (const auto& directory : settings.customToolDirectories()) text += directory + ";";
  text += "] " + (settings.threadsPerPass() ? std::to_string(*settings.threadsPerPass()) : "auto") + " " +
          std::to_string(settings.toolTimeLimit()) + " " + std::to_string(settings.maximumPixelCount()) + " [";
  for (const auto& directory : searchPath.customToolDirectories()) text += directory + ";";
  return text + "]";
}

const char* const defaults = "auto 0 1.000000 1 0 [] auto 1800.000000 268435456 []";

class AppSettingsTest : public ::testing::Test {
 protected:
  std::unique_ptr<AppSettings> start() { return std::make_unique<AppSettings>(store, searchPath); }
  std::string startAndReadBack() { return readBack(*start(), searchPath); }

  std::shared_ptr<InMemorySettingsStore> store = std::make_shared<InMemorySettingsStore>();
  ExecutableURLCache cache;
  ToolSearchPath searchPath{cache, {}};
};

TEST_F(AppSettingsTest, TheTableListsEveryKeyInOrderAndAnEmptyStoreGivesTheDefaultsWithoutWriting) {
  const char* keys[] = {"appAppearance",    "autoRegenerate", "autoRegenerateDelay", "encodeInParallel",
                        "hasSeenToolRequirements", "customToolDirectories", "threadsPerPass", "toolTimeLimit",
                        "maximumPixelCount"};
  auto table = appSettingsTable();
  ASSERT_EQ(table.size(), std::size(keys));
  for (std::size_t i = 0; i < table.size(); ++i) {
    EXPECT_EQ(table[i].key, keys[i]);
    EXPECT_EQ(static_cast<std::size_t>(table[i].setting), i);
  }
  EXPECT_EQ(startAndReadBack(), defaults);
  for (const auto& row : appSettingsTable()) EXPECT_FALSE(store->value(row.key).has_value()) << row.key;
}

TEST_F(AppSettingsTest, StoredValuesAreReadBackAndValuesOfTheWrongTypeReadAsTheirDefaults) {
  store->setValue("appAppearance", std::string("dark"));
  store->setValue("autoRegenerate", true);
  store->setValue("autoRegenerateDelay", 2.6);
  store->setValue("encodeInParallel", false);
  store->setValue("hasSeenToolRequirements", true);
  store->setValue("customToolDirectories", std::vector<std::string>{"/opt/a", "/opt/b"});
  store->setValue("toolTimeLimit", 600.0);
  store->setValue("maximumPixelCount", 1e6);
  store->setValue("threadsPerPass", 6.0);
  EXPECT_EQ(startAndReadBack(), "dark 1 2.600000 0 1 [/opt/a;/opt/b;] 6 600.000000 1000000 [/opt/a;/opt/b;]");

  store->setValue("appAppearance", std::string("sepia"));
  store->setValue("autoRegenerate", std::string("true"));
  store->setValue("autoRegenerateDelay", std::string("2.5"));
  store->setValue("encodeInParallel", 0.0);
  store->setValue("hasSeenToolRequirements", std::vector<std::string>{"yes"});
  store->setValue("customToolDirectories", std::string("/opt/a"));
  store->setValue("toolTimeLimit", -5.0);
  store->setValue("maximumPixelCount", std::string("many"));
  store->setValue("threadsPerPass", std::string("4"));
  EXPECT_EQ(startAndReadBack(), defaults);
  store->setValue("appAppearance", true);
  EXPECT_EQ(start()->appearance(), AppAppearance::automatic);
  store->setValue("appAppearance", std::string("Light"));
  EXPECT_EQ(start()->appearance(), AppAppearance::automatic) << "raw values are matched exactly";
  // Counts that are not whole, or outside 1...1024, are Auto too.
  for (double count : {2.5, 0.0, -3.0, 1025.0}) {
    store->setValue("threadsPerPass", count);
    EXPECT_EQ(start()->threadsPerPass(), std::nullopt) << count;
  }
}

TEST_F(AppSettingsTest, AssignmentsWriteThroughAtOnceAndTellTheObservers) {
  auto settings = start();
  std::vector<AppSetting> heard;
  auto subscription = settings->observe([&](AppSetting setting) { heard.push_back(setting); });
  settings->setAppearance(AppAppearance::light);
  settings->setAutoRegenerate(true);
  settings->setAutoRegenerateDelay(4.5);
  settings->setEncodeInParallel(false);
  settings->setHasSeenToolRequirements(true);
  settings->setCustomToolDirectories({"/x"});
  settings->setThreadsPerPass(3);
  EXPECT_EQ(store->doubleValue("threadsPerPass"), 3.0);
  settings->setThreadsPerPass(std::nullopt);
  EXPECT_EQ(store->doubleValue("threadsPerPass"), 0.0) << "Auto is stored as 0";
  EXPECT_EQ(store->boolValue("autoRegenerate"), true);
  EXPECT_EQ(heard, (std::vector<AppSetting>{AppSetting::appearance, AppSetting::autoRegenerate,
                                            AppSetting::autoRegenerateDelay, AppSetting::encodeInParallel,
                                            AppSetting::hasSeenToolRequirements, AppSetting::customToolDirectories,
                                            AppSetting::threadsPerPass, AppSetting::threadsPerPass}));
  // A later start sees the same values; the delay stays stored while auto-regeneration is off.
  settings->setAutoRegenerate(false);
  EXPECT_EQ(startAndReadBack(), "light 0 4.500000 0 1 [/x;] auto 1800.000000 268435456 [/x;]");
}

TEST_F(AppSettingsTest, CustomDirectoriesAreKeptOnceAndReachToolLookupAtOnce) {
  auto settings = start();
  EXPECT_TRUE(settings->addCustomToolDirectory("/opt/tools"));
  EXPECT_TRUE(settings->addCustomToolDirectory("/opt/tools/"));
  EXPECT_FALSE(settings->addCustomToolDirectory("/opt/tools"));
  EXPECT_EQ(settings->customToolDirectories(), (std::vector<std::string>{"/opt/tools", "/opt/tools/"}));
  settings->removeCustomToolDirectory(7);
  EXPECT_EQ(settings->customToolDirectories().size(), 2u);
  settings->removeCustomToolDirectory(0);
  settings->removeCustomToolDirectory(0);
  test::ScratchDirectory scratch;
  test::writeFakeTool(scratch.path(), "cjxl", "exit 0");
  EXPECT_FALSE(cache.locate("cjxl", searchPath.toolSearchDirectories()).has_value());
  settings->addCustomToolDirectory(scratch.path().string());
  EXPECT_EQ(cache.locate("cjxl", searchPath.toolSearchDirectories()), scratch / "cjxl");
  settings->removeCustomToolDirectory(0);
  EXPECT_TRUE(searchPath.customToolDirectories().empty());
  EXPECT_FALSE(cache.locate("cjxl", searchPath.toolSearchDirectories()).has_value())
      << "a tool found only there is missing at the next lookup";
}

TEST_F(AppSettingsTest, TheRequiredToolsWindowOpensByItselfOnlyOnce) {
  auto settings = start();
  EXPECT_TRUE(settings->takeFirstToolRequirementsShowing());
  EXPECT_TRUE(settings->hasSeenToolRequirements());
  EXPECT_FALSE(settings->takeFirstToolRequirementsShowing());
  EXPECT_FALSE(start()->takeFirstToolRequirementsShowing());
}

TEST(InMemorySettingsStoreTest, TypedReadersGiveNothingForAnotherType) {
  InMemorySettingsStore store;
  store.setValue("k", 1.5);
  EXPECT_EQ(store.doubleValue("k"), 1.5);
  EXPECT_FALSE(store.boolValue("k").has_value());
  EXPECT_FALSE(store.stringValue("k").has_value());
  EXPECT_FALSE(store.stringListValue("k").has_value());
  store.setValue("k", std::string("text"));
  EXPECT_FALSE(store.doubleValue("k").has_value());
  EXPECT_EQ(store.stringValue("k"), "text");
  store.removeValue("k");
  EXPECT_FALSE(store.value("k").has_value());
}

}  // namespace
}  // namespace quorlin
