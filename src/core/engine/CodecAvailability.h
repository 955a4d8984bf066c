// CodecAvailability: whether a codec can run with the tools found here, and
// the default panels that follow from it. A codec whose encoder or decoder is
// missing, or which the older-tool table refuses for the installed version,
// is not offered as a default, yet stays selectable: the picker names the
// reason and a run fails with the designed message.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/codecs/CodecCatalog.h"
#include "core/engine/CodecPanel.h"
#include "core/engine/EngineContext.h"

namespace quorlin {

// Why `codec` cannot run with these tools ("cjpegli not installed", "heif-enc
// 1.15 cannot encode JPEG 2000"); nothing when it can. Looks the tools up and
// may probe a version (cached in the context), so it is not free.
std::optional<std::string> codecUnavailableReason(CompressionCodec codec, const EngineContext& context);

using CodecUnavailableReason = std::function<std::optional<std::string>(CompressionCodec)>;

// makeDefaultPanels(), with each panel whose codec cannot run replaced by the
// first runnable codec of the same family that no other default panel uses
// (JPEGli → JPEG (libjpeg-turbo) → JPEG (System); AVIF → AVIF (libheif)),
// keeping the slot's quality and effort. A panel without a runnable stand-in
// keeps its designed codec.
std::vector<CodecPanel> makeDefaultPanels(const CodecUnavailableReason& unavailableReason);

// The same for a source of this HDR transfer ("PQ" or "HLG"; empty: SDR): a
// codec the older-tool table refuses for HDR counts as unavailable, and after
// its family the codecs that carry HDR may stand in, in this order: HEIF
// (libheif), AVIF (libheif), HEIF (System).
std::vector<CodecPanel> makeDefaultPanels(const CodecUnavailableReason& unavailableReason,
                                          std::string_view hdrTransfer);

}  // namespace quorlin
