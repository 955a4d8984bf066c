// One-time start of libvips for everything in this process that decodes or
// writes images (engine, metric, command line, tests).
//
// Safe to call from any thread, any number of times; the first call starts
// libvips, later calls return at once. Throws std::runtime_error when libvips
// cannot start (a broken installation).
#pragma once

namespace quorlin {

void ensureVipsInitialized();

}  // namespace quorlin
