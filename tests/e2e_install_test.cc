// The project as a user installs it: `cmake --install` into a prefix of the
// test's own and the Debian package from `cpack -G DEB`, each run from where
// it was put, with no device present.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "tests/support/run_process.h"
#include "tests/support/simulators.h"
#include "tests/support/temp_dir.h"

namespace {

// A program from PATH, or an empty string.
std::string onPath(const std::string& name) {
  const char* path = std::getenv("PATH");
  std::string folders = path != nullptr ? path : "/usr/bin:/bin";
  size_t start = 0;
  while (start <= folders.size()) {
    size_t end = folders.find(':', start);
    if (end == std::string::npos) end = folders.size();
    std::string candidate = folders.substr(start, end - start) + "/" + name;
    if (access(candidate.c_str(), X_OK) == 0) return candidate;
    start = end + 1;
  }
  return "";
}

class InstallTest : public ::testing::Test {
 protected:
  ProcessResult run(const std::string& program, const std::vector<std::string>& arguments,
                    std::map<std::string, std::string> environment = {}) {
    ProcessOptions options;
    options.workingDirectory = work;
    // The installed run path alone must find the port library.
    environment.emplace("LD_LIBRARY_PATH", "");
    environment.emplace("PELLORY_PORT_LIBRARY", "");
    // An empty machine: no parallel port, no serial device.
    environment.emplace("LIBIO_PROC_ROOT", work);
    environment.emplace("LIBIO_DEV_ROOT", work);
    environment.emplace("TARNWICK_DEV_ROOT", work);
    environment.emplace("TARNWICK_TTY_PREFIX", work + "/ttyNone");
    options.environment = environment;
    options.timeLimitSeconds = 300;
    return runProcess(program, arguments, options);
  }

  void install() {
    ASSERT_EQ(mkdir(work.c_str(), 0755), 0);
    ProcessResult done =
        run(AVRISP_CMAKE_COMMAND, {"--install", AVRISP_BINARY_DIR, "--prefix", prefix});
    ASSERT_EQ(done.exitStatus, 0) << done.output << done.errorOutput;
    writeFastCalibration(work);
  }

  TempDir dir;
  const std::string work = dir.file("work");
  const std::string prefix = dir.file("prefix");
  const std::string bin = prefix + "/" AVRISP_INSTALL_BINDIR "/";
};

TEST_F(InstallTest, InstalledTreeHoldsEverythingAndTarnwickAnswersWithNoDevice) {
  ASSERT_NO_FATAL_FAILURE(install());
  for (const std::string& file :
       {bin + "tarnwick", bin + "pellory", bin + "korvo-sim",
        prefix + "/" AVRISP_INSTALL_PRIVATE_LIBDIR "/libio.so",
        prefix + "/" AVRISP_INSTALL_SIMDIR "/libio.so",
        prefix + "/" AVRISP_INSTALL_MANDIR "/man1/tarnwick.1.gz",
        prefix + "/" AVRISP_INSTALL_MANDIR "/man1/pellory.1.gz",
        prefix + "/" AVRISP_INSTALL_MANDIR "/man1/korvo-sim.1.gz",
        prefix + "/share/bash-completion/completions/tarnwick",
        prefix + "/share/bash-completion/completions/pellory",
        prefix + "/share/bash-completion/completions/korvo-sim",
        prefix + "/" AVRISP_INSTALL_DOCDIR "/README.md",
        prefix + "/" AVRISP_INSTALL_DOCDIR "/LICENSE",
        prefix + "/" AVRISP_INSTALL_DOCDIR "/copyright",
        prefix + "/" AVRISP_INSTALL_DOCDIR "/changelog.Debian.gz",
        prefix + "/" AVRISP_INSTALL_DOCDIR "/examples/prebuilt/atmega644p/blink.hex"}) {
    EXPECT_TRUE(fileExists(file)) << file;
  }

  // The example build script is run from where it was installed.
  EXPECT_EQ(access((prefix + "/" AVRISP_INSTALL_DOCDIR "/examples/build.sh").c_str(), X_OK), 0);

  ProcessResult version = run(bin + "tarnwick", {"--version"});
  EXPECT_EQ(version.exitStatus, 0);
  EXPECT_EQ(version.output, std::string("tarnwick ") + AVRISP_VERSION + "\n");
  ProcessResult help = run(bin + "tarnwick", {"--help"});
  EXPECT_EQ(help.exitStatus, 0);
  EXPECT_EQ(help.output.rfind("Command options:\n", 0), 0u) << help.output;
}

TEST_F(InstallTest, InstalledPelloryLoadsTheInstalledPortLibrary) {
#ifdef AVRISP_SANITIZED
  // The sanitizer runtime intercepts dlopen and so becomes its caller, whose
  // run path the loader then searches instead of pellory's.
  GTEST_SKIP() << "the run path is not searched by dlopen in a sanitizer build";
#endif
  ASSERT_NO_FATAL_FAILURE(install());
  // The real port library, found through the run path: it loads, and finds no port.
  ProcessResult real = run(bin + "pellory", {"-i"});
  EXPECT_EQ(real.output.find("Can't load port I/O library"), std::string::npos) << real.output;
  EXPECT_NE(real.output.find("\nMarlow not installed\n"), std::string::npos) << real.output;
  EXPECT_EQ(real.exitStatus, 3);
}

TEST_F(InstallTest, InstalledSimulatedCableStandsInThroughTheLibraryPath) {
  ASSERT_NO_FATAL_FAILURE(install());
  writeFile(work + "/blink.hex",
            readFile(prefix + "/" AVRISP_INSTALL_DOCDIR "/examples/prebuilt/atmega644p/blink.hex"));
  ProcessResult simulated = run(bin + "pellory", {"-dfblink.hex"},
                                {{"LD_LIBRARY_PATH", prefix + "/" AVRISP_INSTALL_SIMDIR},
                                 {"PELLORY_SIM_TIME_SCALE", "0.001"}});
  EXPECT_EQ(simulated.exitStatus, 0) << simulated.output;
  EXPECT_NE(simulated.output.find("Target matches blink.hex"), std::string::npos)
      << simulated.output;
}

TEST_F(InstallTest, DebianPackageHoldsTheProgramsAndRunsUnpacked) {
  const std::string dpkgDeb = onPath("dpkg-deb");
  if (dpkgDeb.empty()) GTEST_SKIP() << "dpkg-deb is not installed";
  ASSERT_EQ(mkdir(work.c_str(), 0755), 0);
  const std::string out = dir.file("package");
  ProcessResult pack =
      run(AVRISP_CPACK_COMMAND,
          {"-G", "DEB", "--config", AVRISP_BINARY_DIR "/CPackConfig.cmake", "-B", out});
  ASSERT_EQ(pack.exitStatus, 0) << pack.output << pack.errorOutput;
  std::string deb;
  size_t at = pack.output.find(out + "/");
  if (at != std::string::npos) deb = pack.output.substr(at, pack.output.find(".deb", at) + 4 - at);
  ASSERT_TRUE(fileExists(deb)) << pack.output;

  ProcessResult depends = run(dpkgDeb, {"-f", deb, "Depends"});
  EXPECT_NE(depends.output.find("libedit"), std::string::npos) << depends.output;
  ProcessResult contents = run(dpkgDeb, {"-c", deb});
  for (const char* file :
       {"./usr/bin/tarnwick", "./usr/bin/pellory", "./usr/bin/korvo-sim", "/man1/tarnwick.1.gz",
        "/man1/pellory.1.gz", "/man1/korvo-sim.1.gz", "/avrisp/libio.so", "/avrisp/sim/libio.so",
        "./usr/share/doc/avrisp/copyright", "./usr/share/doc/avrisp/changelog.Debian.gz",
        "./usr/share/bash-completion/completions/tarnwick"}) {
    EXPECT_NE(contents.output.find(file), std::string::npos) << file << "\n" << contents.output;
  }
  // The example script keeps its execute bit in the package too.
  size_t script = contents.output.find("/examples/build.sh");
  ASSERT_NE(script, std::string::npos) << contents.output;
  size_t line = contents.output.rfind('\n', script) + 1;
  EXPECT_EQ(contents.output.compare(line, 10, "-rwxr-xr-x"), 0) << contents.output.substr(line, 80);

  // A maintainer with a real address and a summary that fits one line.
  ProcessResult maintainer = run(dpkgDeb, {"-f", deb, "Maintainer"});
  EXPECT_EQ(maintainer.output.find("localhost"), std::string::npos) << maintainer.output;
  EXPECT_NE(maintainer.output.find('@'), std::string::npos) << maintainer.output;
  ProcessResult description = run(dpkgDeb, {"-f", deb, "Description"});
  size_t summaryEnd = description.output.find('\n');
  EXPECT_LT(summaryEnd, 80u) << description.output;
  EXPECT_GT(description.output.size(), summaryEnd + 100) << "no long description";

  // Debian's own checks of the package find no errors.
  const std::string lintian = onPath("lintian");
  if (lintian.empty()) {
    ADD_FAILURE() << "lintian is not installed (scripts/install-deps.sh test installs it)";
  } else {
    ProcessResult checked = run(lintian, {"--no-tag-display-limit", deb});
    EXPECT_EQ(checked.output.find("E: "), std::string::npos) << checked.output;
    EXPECT_EQ(checked.exitStatus, 0) << checked.output << checked.errorOutput;
  }

  const std::string root = dir.file("root");
  ASSERT_EQ(run(dpkgDeb, {"-x", deb, root}).exitStatus, 0);
  ProcessResult version = run(root + "/usr/bin/tarnwick", {"--version"});
  EXPECT_EQ(version.exitStatus, 0);
  EXPECT_EQ(version.output, std::string("tarnwick ") + AVRISP_VERSION + "\n");
}

}  // namespace
