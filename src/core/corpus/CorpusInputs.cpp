#include "core/corpus/CorpusInputs.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <fstream>
#include <set>
#include <system_error>

namespace quorlin {

namespace fs = std::filesystem;

namespace {

bool startsWith(std::string_view bytes, std::string_view prefix, std::size_t at = 0) {
  return bytes.size() >= at + prefix.size() && bytes.substr(at, prefix.size()) == prefix;
}

std::optional<std::size_t> wholeNumber(std::string_view text) {
  std::size_t value = 0;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

class Gatherer {
 public:
  explicit Gatherer(CorpusInputs& result) : result_(result) {}

  void add(const std::string& input) {
    if (input.starts_with('@')) return addList(input.substr(1));
    std::error_code error;
    const fs::path path = fs::absolute(input, error);
    const fs::file_status status = fs::status(path, error);
    if (status.type() == fs::file_type::not_found) {
      result_.errors.push_back("'" + input + "' does not exist");
    } else if (status.type() == fs::file_type::directory) {
      addFolder(path);
    } else {
      addFile(path, input);
    }
  }

 private:
  void addList(const std::string& listFile) {
    std::ifstream list(listFile);
    if (!list) {
      result_.errors.push_back("the list '" + listFile + "' cannot be read");
      return;
    }
    const fs::path base = fs::absolute(listFile).parent_path();
    for (std::string line; std::getline(list, line);) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      if (line.empty() || line.starts_with('#')) continue;
      // Relative entries are read from the list's own folder, as a shared list moves with its corpus.
      const fs::path entry = fs::path(line).is_absolute() ? fs::path(line) : base / line;
      std::error_code error;
      if (fs::is_directory(entry, error)) {
        addFolder(entry);
      } else if (!fs::exists(entry, error)) {
        result_.errors.push_back("'" + line + "' (in " + listFile + ") does not exist");
      } else {
        addFile(entry, line);
      }
    }
  }

  void addFolder(const fs::path& folder) {
    std::vector<std::pair<std::string, fs::path>> found;
    std::error_code error;
    fs::recursive_directory_iterator walk(folder, fs::directory_options::skip_permission_denied, error);
    if (error) {
      result_.skipped.push_back({folder, "cannot be read"});
      return;
    }
    for (auto end = fs::recursive_directory_iterator(); walk != end; walk.increment(error)) {
      if (error) break;
      std::error_code typeError;
      if (walk->is_directory(typeError)) continue;
      if (!walk->is_regular_file(typeError)) {
        // A dangling link or a device: listed, so a corpus that lost files says so.
        result_.skipped.push_back({walk->path(), "cannot be read"});
        continue;
      }
      found.emplace_back(walk->path().lexically_relative(folder).generic_string(), walk->path());
    }
    std::sort(found.begin(), found.end());
    for (const auto& [name, path] : found) addFile(path, name);
  }

  void addFile(const fs::path& path, const std::string& name) {
    std::error_code error;
    const fs::path canonical = fs::weakly_canonical(path, error);
    if (!seen_.insert(error ? path : canonical).second) return;
    std::ifstream file(path, std::ios::binary);
    if (!file) {
      result_.skipped.push_back({path, "cannot be read"});
      return;
    }
    char bytes[32] = {};
    if (!file.read(bytes, sizeof bytes).gcount()) {
      result_.skipped.push_back({path, "empty"});
      return;
    }
    if (!imageKindOf(std::string_view(bytes, static_cast<std::size_t>(file.gcount())))) {
      result_.skipped.push_back({path, "not an image"});
      return;
    }
    result_.images.push_back({path, name});
  }

  CorpusInputs& result_;
  std::set<fs::path> seen_;
};

}  // namespace

std::optional<std::string_view> imageKindOf(std::string_view bytes) {
  if (startsWith(bytes, "\x89PNG\r\n\x1a\n")) return "PNG";
  if (startsWith(bytes, "\xff\xd8\xff")) return "JPEG";
  if (startsWith(bytes, "RIFF") && startsWith(bytes, "WEBP", 8)) return "WebP";
  if (startsWith(bytes, "GIF87a") || startsWith(bytes, "GIF89a")) return "GIF";
  if (startsWith(bytes, std::string_view("II*\0", 4)) || startsWith(bytes, std::string_view("MM\0*", 4))) {
    return "TIFF";
  }
  if (startsWith(bytes, "\xff\x0a") || startsWith(bytes, std::string_view("\0\0\0\x0cJXL \r\n\x87\n", 12))) {
    return "JPEG XL";
  }
  if (startsWith(bytes, "ftyp", 4)) {
    for (std::string_view brand : {"avif", "avis"}) {
      if (startsWith(bytes, brand, 8)) return "AVIF";
    }
    for (std::string_view brand : {"heic", "heix", "heim", "heis", "mif1", "msf1"}) {
      if (startsWith(bytes, brand, 8)) return "HEIF";
    }
  }
  if (bytes.size() > 2 && bytes[0] == 'P' && std::string_view("56").find(bytes[1]) != std::string_view::npos &&
      std::isspace(static_cast<unsigned char>(bytes[2]))) {
    return "PNM";
  }
  return std::nullopt;
}

CorpusInputs gatherCorpusInputs(const std::vector<std::string>& inputs) {
  CorpusInputs result;
  Gatherer gatherer(result);
  for (const auto& input : inputs) gatherer.add(input);
  return result;
}

std::optional<CorpusShard> parseShard(std::string_view text) {
  const std::size_t slash = text.find('/');
  if (slash == std::string_view::npos) return std::nullopt;
  auto index = wholeNumber(text.substr(0, slash));
  auto count = wholeNumber(text.substr(slash + 1));
  if (!index || !count || *count == 0 || *index >= *count) return std::nullopt;
  return CorpusShard{*index, *count};
}

ShardFromEnvironment shardFromEnvironment(std::optional<std::size_t> shardCount,
                                          const char* (*lookup)(const char*)) {
  ShardFromEnvironment result;
  auto number = [&](const char* name) -> std::optional<std::size_t> {
    const char* value = lookup(name);
    if (!value) return std::nullopt;
    auto parsed = wholeNumber(value);
    if (!parsed) result.error = std::string(name) + " is not a whole number: '" + value + "'";
    return parsed;
  };
  // One rule for both schedulers: an index, and a count from the scheduler or the command line.
  auto shardOf = [&](const char* indexName, std::optional<std::size_t> count, const std::string& countName,
                     const std::string& withoutCount, const std::string& hint) {
    auto index = number(indexName);
    if (!result.error.empty()) return result;
    if (!count) {
      result.error = std::string(indexName) + withoutCount;
    } else if (*index >= *count) {
      result.error = std::string(indexName) + " " + std::to_string(*index) + " is not below " + countName + " " +
                     std::to_string(*count) + hint;
    } else {
      result.shard = CorpusShard{*index, *count};
    }
    return result;
  };
  if (lookup("SLURM_ARRAY_TASK_ID")) {
    auto count = number("SLURM_ARRAY_TASK_COUNT");
    // Arrays given as 1-N or with gaps do not map onto shards one to one.
    return shardOf("SLURM_ARRAY_TASK_ID", count, "SLURM_ARRAY_TASK_COUNT", " is set without SLURM_ARRAY_TASK_COUNT",
                   count && *count > 0 ? "; submit the array as 0-" + std::to_string(*count - 1) : "");
  }
  if (lookup("JOB_COMPLETION_INDEX")) {
    return shardOf("JOB_COMPLETION_INDEX", shardCount, "--shard-count",
                   " is set: give the number of shards with --shard-count", "");
  }
  result.shard = CorpusShard{0, 1};
  return result;
}

std::vector<CorpusImage> imagesOfShard(const std::vector<CorpusImage>& images, CorpusShard shard) {
  std::vector<CorpusImage> taken;
  for (std::size_t i = shard.index; i < images.size(); i += shard.count) taken.push_back(images[i]);
  return taken;
}

}  // namespace quorlin
