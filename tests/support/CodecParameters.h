// For suites parametrised over the codec catalog: each case named after the
// codec's command-line key ("jxl", "heiflibheif").
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "core/codecs/CodecCatalog.h"

namespace quorlin::test {

inline auto catalogCodecs() { return ::testing::ValuesIn(allCompressionCodecs()); }

inline std::string codecParameterName(const ::testing::TestParamInfo<CompressionCodec>& parameter) {
  std::string name(codecInfo(parameter.param).cliKey);
  std::erase(name, '-');
  return name;
}

}  // namespace quorlin::test
