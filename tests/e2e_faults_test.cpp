// Faults injected under the confound and displacement tasks, through the host
// simulator: an output folder that refuses writes (and map saves) and a full
// disk, both on real mounts. Each must end in exactly one "Error: " message,
// leave every file that was there byte for byte as it was, and leave nothing
// half-written (no temporary file, no partial output). The tasks' other
// refusals (an output name taken by a folder, a motion file or STC that
// cannot be read) are tested in-process.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "examples/motion_file_writer.h"
#include "examples/run_file_writer.h"
#include "tests/support/simulator.h"
#include "tests/support/temp_dir.h"

#ifdef __linux__
#include <sys/mount.h>
#endif

namespace tsl::testing {
namespace {

namespace fs = std::filesystem;

#ifdef __linux__
// Both faults need a mount, which only a Linux process can make.
using Snapshot = std::map<std::string, std::string>;  // as folderContents gives it

std::vector<MotionRow> motionRows() {
  std::vector<MotionRow> rows(12);
  for (std::size_t t = 0; t < rows.size(); ++t) {
    const float f = static_cast<float>(t);
    rows[t] = {0.1f * f, -0.05f * f, 0.02f * f, 0.01f * f, 0.0f, -0.01f * f};
  }
  rows[6][0] = 3.0f;  // one spike
  return rows;
}

const std::vector<std::string> kAllModels = {
    "create_spikes",   "create_detrended", "create_derivative", "create_squared",
    "create_delayed1", "create_delayed2",  "create_delayed1sq", "create_delayed2sq"};

class Faults : public ::testing::Test {
 protected:
  SimulatorRun confound(const std::string& sdm) {
    std::vector<std::string> args = {"--document-type",     "1",       "--param",
                                     "spike_threshold=0.5", "--param", "sdmfile=" + sdm};
    for (const auto& model : kAllModels) {
      args.push_back("--param");
      args.push_back(model + "=1");
    }
    args.push_back("--task");
    args.push_back("confound");
    SimulatorRun run = runSimulator(args);
    EXPECT_EQ(run.exitCode, 0) << run.describe();
    return run;
  }

  SimulatorRun displacement(const std::string& fmr, const std::string& sdm) {
    SimulatorRun run =
        runSimulator({"--fmr", fmr, "--param", "sdmfile=" + sdm, "--param", "fmr_threshold=10",
                      "--param", "map_max_abs=1", "--task", "displacement"});
    EXPECT_EQ(run.exitCode, 0) << run.describe();
    return run;
  }

  std::string writeRun(const fs::path& folder) {
    FmrLayout run;
    run.volumes = 12;
    run.slices = 2;
    run.resolutionX = 4;
    run.resolutionY = 4;
    run.prefix = "run1";
    writeFmrHeader((folder / "run1.fmr").string(), run);
    writeStc((folder / "run1.stc").string(), 4, 4, 2, 12,
             [](int x, int, int, int) { return 100.0f + static_cast<float>(x); }, false);
    return (folder / "run1.fmr").generic_string();
  }

  // Exactly one message box, the error text, and the folder as it was.
  static void expectRefused(const SimulatorRun& run, const std::string& message,
                            const Snapshot& before, const fs::path& folder) {
    EXPECT_EQ(run.messages(), std::vector<std::string>{"Error: " + message}) << run.describe();
    EXPECT_EQ(folderContents(folder), before);
  }

  TempDir dir;
};

// A mount made by the test and undone at its end; mounting needs root and a
// kernel that lets this process mount, so tests skip when it fails.
class ScopedMount {
 public:
  ScopedMount(const fs::path& target, bool readOnlyBind, const std::string& tmpfsSize)
      : target_(target) {
    if (readOnlyBind) {
      mounted_ = ::mount(target.c_str(), target.c_str(), nullptr, MS_BIND, nullptr) == 0;
      if (mounted_ && ::mount(nullptr, target.c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY,
                              nullptr) != 0) {
        ok_ = false;
      }
    } else {
      mounted_ = ::mount("tmpfs", target.c_str(), "tmpfs", 0, ("size=" + tmpfsSize).c_str()) == 0;
    }
    ok_ = ok_ && mounted_;
  }
  ~ScopedMount() {
    if (mounted_) ::umount2(target_.c_str(), MNT_DETACH);
  }
  ScopedMount(const ScopedMount&) = delete;
  ScopedMount& operator=(const ScopedMount&) = delete;
  bool ok() const { return ok_; }

 private:
  fs::path target_;
  bool mounted_ = false;
  bool ok_ = true;
};

TEST_F(Faults, OutputFolderWithoutWritePermission) {
  const fs::path folder = dir.path() / "readonly";
  fs::create_directory(folder);
  const std::string sdm = (folder / "run1_3DMC.sdm").generic_string();
  writeHostMotionSdm(sdm, motionRows());
  const ScopedMount readOnly(folder, true, "");
  if (!readOnly.ok()) GTEST_SKIP() << "cannot make a read-only bind mount here";
  const Snapshot before = folderContents(folder);
  expectRefused(confound(sdm),
                "Cannot Create file: " + (folder / "run1_3DMC_spikes.sdm").generic_string(), before,
                folder);
  // The host cannot save a map there either.
  expectRefused(displacement(writeRun(dir.path()), sdm),
                "Failed writing file: " + (folder / "run1_3DMC_MaxAbsolute.map").generic_string(),
                before, folder);
}

TEST_F(Faults, FullDisk) {
  const fs::path folder = dir.path() / "small";
  fs::create_directory(folder);
  const ScopedMount disk(folder, false, "64k");
  if (!disk.ok()) GTEST_SKIP() << "cannot mount a small tmpfs here";
  const std::string sdm = (folder / "run1_3DMC.sdm").generic_string();
  writeHostMotionSdm(sdm, motionRows());
  {
    // Fill the rest of the disk, so that the first output cannot be written.
    std::ofstream filler(folder / "filler", std::ios::binary);
    const std::string block(4096, 'x');
    while (filler.write(block.data(), static_cast<std::streamsize>(block.size()))) {
    }
  }
  const Snapshot before = folderContents(folder);
  // The temporary file is created, its bytes do not fit: it is removed.
  expectRefused(confound(sdm),
                "Failed writing file: " + (folder / "run1_3DMC_spikes.sdm").generic_string(),
                before, folder);
  expectRefused(displacement(writeRun(dir.path()), sdm),
                "Failed writing file: " + (folder / "run1_3DMC_MaxAbsolute.map").generic_string(),
                before, folder);
}
#endif

}  // namespace
}  // namespace tsl::testing
