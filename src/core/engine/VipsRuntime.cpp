#include "core/engine/VipsRuntime.h"

#include <vips/vips.h>

#include <mutex>
#include <stdexcept>
#include <string>

namespace quorlin {

namespace {

// Loader warnings ("not enough data", "ignoring nclx profile") go to stderr by
// default. Every decode we do checks its own outcome, and these lines would
// only clutter the command line's output, so they are dropped.
void dropVipsWarning(const gchar*, GLogLevelFlags, const gchar*, gpointer) {}

}  // namespace

void ensureVipsInitialized() {
  static std::once_flag once;
  static bool failed = false;
  static std::string failure;
  std::call_once(once, [] {
    if (VIPS_INIT("quorlin") != 0) {
      failed = true;
      failure = vips_error_buffer();
      vips_error_clear();
      return;
    }
    // Files are read by path; the operation cache would hand back an earlier
    // decode of a path whose file has since changed, and would hold memory.
    vips_cache_set_max(0);
    g_log_set_handler("VIPS", static_cast<GLogLevelFlags>(G_LOG_LEVEL_WARNING | G_LOG_LEVEL_MESSAGE),
                      dropVipsWarning, nullptr);
  });
  if (failed) throw std::runtime_error("libvips could not start: " + failure);
}

}  // namespace quorlin
