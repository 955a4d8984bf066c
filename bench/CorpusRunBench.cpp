// Corpus run throughput: 12 photographs of about 2.5 MP made from the bundled
// sample (scaled, cropped and turned differently, so each has its own content),
// four panels with five-point ladders, run by `quorlin-cli corpus run` with one
// unit per core. Prints units per minute, then the time a second run of the
// finished corpus takes (the resume overhead). With SLURM_CONF set it also runs
// the same corpus as a two-task job array on that cluster and prints its
// throughput, start-up included.
//
//   CorpusRunBench [SAMPLE] [QUORLIN_CLI] [WORK_DIR] [MEGAPIXELS]
//
// MEGAPIXELS (default 2.2) is the smallest image's size; each next one is 5% larger.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <vips/vips8>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr int imageCount = 12;
constexpr int unitCount = imageCount * 4 * 5;

int runProgram(std::vector<std::string> arguments, const fs::path& output) {
  std::vector<char*> argv;
  for (auto& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  pid_t pid = -1;
  int status = -1;
  if (posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ) == 0) waitpid(pid, &status, 0);
  posix_spawn_file_actions_destroy(&actions);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

double secondsSince(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

std::vector<std::string> corpusArguments(const std::string& cli, const fs::path& corpus) {
  return {cli, corpus.string(), "--panel", "jxl", "--panel", "avif", "--panel", "webp", "--panel", "jpeg-turbo",
          "--ladder", "1=0.5,1,2,3,5", "--ladder", "2=30,45,60,75,90", "--ladder", "3=30,45,60,75,90",
          "--ladder", "4=30,45,60,75,90"};
}

}  // namespace

int main(int argc, char** argv) {
  const fs::path sample = argc > 1 ? argv[1] : "samples/colorful-cups.jpg";
  const std::string cli = fs::absolute(argc > 2 ? argv[2] : "build/src/cli/quorlin-cli").string();
  const fs::path work = fs::absolute(argc > 3 ? argv[3] : fs::temp_directory_path() / "quorlin-corpus-bench");
  const double megapixels = argc > 4 ? std::atof(argv[4]) : 2.2;
  if (VIPS_INIT(argv[0]) || megapixels <= 0) return 2;
  fs::remove_all(work);
  fs::create_directories(work / "corpus");
  vips::VImage photo = vips::VImage::new_from_file(sample.c_str()).autorot();
  double pixels = 0;
  for (int i = 0; i < imageCount; ++i) {
    // Each a different crop of a differently scaled, mirrored or turned photograph.
    const double target = megapixels * 1e6 * (1 + 0.05 * i);
    vips::VImage turned = i % 4 == 1 ? photo.flip(VIPS_DIRECTION_HORIZONTAL) : i % 4 == 2 ? photo.rot90() : photo;
    const double scale = std::sqrt(target * 1.3 / (double(turned.width()) * turned.height()));
    vips::VImage big = turned.resize(scale);
    const int width = static_cast<int>(big.width() / std::sqrt(1.3)), height = static_cast<int>(big.height() / std::sqrt(1.3));
    const int left = (big.width() - width) * (i % 3) / 2, top = (big.height() - height) * ((i / 3) % 3) / 2;
    vips::VImage crop = big.crop(left, top, width, height);
    crop.pngsave((work / "corpus" / ("photo" + std::to_string(i) + ".png")).c_str());
    pixels += double(width) * height;
  }
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  std::printf("corpus: %d images, %.1f MP on average; 4 panels x 5 points = %d units; %u cores\n", imageCount,
              pixels / imageCount / 1e6, unitCount, std::thread::hardware_concurrency());

  auto local = corpusArguments(cli, work / "corpus");
  local.insert(local.begin() + 1, {"corpus", "run"});
  local.insert(local.end(), {"--out", (work / "local").string()});
  auto start = Clock::now();
  int status = runProgram(local, work / "local.log");
  const double localSeconds = secondsSince(start);
  std::printf("local run (--jobs = cores): %.1f s, %.1f units per minute (exit %d)\n", localSeconds,
              unitCount / localSeconds * 60, status);
  start = Clock::now();
  status = runProgram(local, work / "resume.log");
  std::printf("resume of the finished run: %.3f s (exit %d)\n", secondsSince(start), status);

  if (!std::getenv("SLURM_CONF")) return 0;
  auto slurm = corpusArguments(cli, work / "corpus");
  slurm.insert(slurm.begin() + 1, {"corpus", "slurm"});
  slurm.insert(slurm.end(), {"--out", (work / "slurm").string(), "--tasks", "2", "--cpus-per-task", "1", "--submit"});
  start = Clock::now();
  status = runProgram(slurm, work / "submit.log");
  while (true) {
    runProgram({"squeue", "-h", "-o", "%i"}, work / "queue.txt");
    if (fs::file_size(work / "queue.txt") == 0) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
  }
  const double slurmSeconds = secondsSince(start);
  std::printf("Slurm job array (2 tasks x 1 core) and report: %.1f s, %.1f units per minute (submit exit %d)\n",
              slurmSeconds, unitCount / slurmSeconds * 60, status);
  return 0;
}
