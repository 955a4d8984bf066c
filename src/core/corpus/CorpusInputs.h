// The images of a corpus run: gathered from folders (searched recursively),
// single files and @LIST files (one path a line), recognised as images by
// their first bytes rather than by their names, put in a fixed order and
// split into shards.
//
// The order is by input, then by the path relative to that input, so every
// task of a job array given the same arguments sees the same list; shard K of
// N takes every image whose place in it is K modulo N.
#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quorlin {

struct CorpusImage {
  std::filesystem::path path;  // absolute
  std::string name;            // relative to its input (a single file: as given)
};

struct SkippedInput {
  std::filesystem::path path;
  std::string reason;  // "not an image", "cannot be read", ...
};

struct CorpusInputs {
  std::vector<CorpusImage> images;
  std::vector<SkippedInput> skipped;
  std::vector<std::string> errors;  // inputs that do not exist, unreadable lists
};

// The container the first bytes announce ("PNG", "JPEG", ...), or nothing.
std::optional<std::string_view> imageKindOf(std::string_view firstBytes);

CorpusInputs gatherCorpusInputs(const std::vector<std::string>& inputs);

struct CorpusShard {
  std::size_t index = 0;  // K
  std::size_t count = 1;  // N
};

// "K/N" with 0 <= K < N.
std::optional<CorpusShard> parseShard(std::string_view text);

// Without --shard: SLURM_ARRAY_TASK_ID of SLURM_ARRAY_TASK_COUNT, else
// JOB_COMPLETION_INDEX of `shardCount`, else 0 of 1. An error text when a
// variable is set but unusable. `lookup` reads the environment (getenv).
struct ShardFromEnvironment {
  std::optional<CorpusShard> shard;
  std::string error;
};
ShardFromEnvironment shardFromEnvironment(std::optional<std::size_t> shardCount,
                                          const char* (*lookup)(const char*));

std::vector<CorpusImage> imagesOfShard(const std::vector<CorpusImage>& images, CorpusShard shard);

}  // namespace quorlin
