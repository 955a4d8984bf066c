// The QSettings-backed store: values keep their types across a restart (a new
// store over the same file), values of other types read as absent, and
// AppSettings over it persists its settings.
#include <QFile>
#include <QString>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "GuiTestSupport.h"
#include "gui/app/QSettingsStore.h"
#include "support/TestSupport.h"

namespace quorlin::test {
namespace {

using gui::QSettingsStore;

class QSettingsStoreTest : public ::testing::Test {
 protected:
  QString fileName() const { return QString::fromStdString((scratch / "Quorlin.json").string()); }
  std::unique_ptr<QSettingsStore> reopen() const { return std::make_unique<QSettingsStore>(fileName()); }
  void writeFile(const std::string& json) const { std::ofstream(scratch / "Quorlin.json") << json; }

  ScratchDirectory scratch;
};

TEST_F(QSettingsStoreTest, EveryTypeReadsBackAsWrittenAfterARestartAndOtherTypesReadAsAbsent) {
  {
    QSettingsStore store(fileName());
    store.setValue("flag", true);
    store.setValue("delay", 2.5);
    store.setValue("text", std::string("true"));
    store.setValue("numeric text", std::string("2"));
    store.setValue("list", std::vector<std::string>{"/opt/tools", "/home/me/bin", "ümlaut dir"});
    store.setValue("empty list", std::vector<std::string>{});
    store.setValue("replaced", std::string("text"));
    store.setValue("replaced", true);
  }
  auto store = reopen();
  EXPECT_EQ(store->boolValue("flag"), true);
  EXPECT_EQ(store->doubleValue("delay"), 2.5);
  EXPECT_EQ(store->stringValue("text"), "true");
  EXPECT_EQ(store->stringValue("numeric text"), "2");
  EXPECT_EQ(store->stringListValue("list"), (std::vector<std::string>{"/opt/tools", "/home/me/bin", "ümlaut dir"}));
  EXPECT_EQ(store->stringListValue("empty list"), std::vector<std::string>{});
  EXPECT_EQ(store->boolValue("replaced"), true);
  EXPECT_FALSE(store->value("never written").has_value());
  EXPECT_FALSE(store->doubleValue("flag").has_value());
  EXPECT_FALSE(store->boolValue("text").has_value()) << "the text \"true\" is no boolean";
  EXPECT_FALSE(store->doubleValue("numeric text").has_value());
  EXPECT_FALSE(store->stringListValue("text").has_value());
}

TEST_F(QSettingsStoreTest, ForeignEntriesAreReadByTheirJsonTypesAndADamagedFileAsEmpty) {
  writeFile(R"({"count": 7, "nothing": null, "object": {"a": 1}, "mixed": ["a", 2], "texts": ["a", "b"],
              "flag": false})");
  {
    QSettingsStore store(fileName());
    EXPECT_EQ(store.doubleValue("count"), 7.0);
    EXPECT_FALSE(store.value("nothing").has_value());
    EXPECT_FALSE(store.value("object").has_value());
    EXPECT_FALSE(store.value("mixed").has_value());
    EXPECT_EQ(store.stringListValue("texts"), (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(store.boolValue("flag"), false);
  }
  writeFile("appAppearance = dark\n");
  EXPECT_FALSE(reopen()->value("appAppearance").has_value());
}

}  // namespace
}  // namespace quorlin::test
