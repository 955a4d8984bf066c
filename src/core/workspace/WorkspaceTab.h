// WorkspaceTab: one comparison tab as the tab strip knows it.
#pragma once

#include <string>

#include "core/common/Uuid.h"
#include "core/codecs/CodecCatalog.h"

namespace quorlin {

inline constexpr std::string_view untitledTabTitle = "Untitled";

struct WorkspaceTab {
  Uuid id = Uuid::random();                                  // fixed for the life of the tab
  std::string title{untitledTabTitle};                       // the source's file name once one is loaded
  RateControlMode rateControlMode = RateControlMode::manual;  // targetScore for a Target Score tab

  friend bool operator==(const WorkspaceTab&, const WorkspaceTab&) = default;
};

}  // namespace quorlin
