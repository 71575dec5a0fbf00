// Runs the program built on the fake platform with chosen argument vectors
// and compares its whole output.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <iterator>
#include <string>
#include <vector>

#ifndef LEAPCHECK_FAKE_PROGRAM
#error "the build names the fake program"
#endif

namespace {

// The words that run the target's programs on this host: none, or an
// emulator's command when the tests are cross-built.
const char* const Launcher[] = {LEAPCHECK_LAUNCHER nullptr};

struct RunResult {
  int exitStatus;
  std::string output;
};

// Standard output is read back; where `outputPath` names a file, standard
// output goes there and standard error is read back instead.
RunResult RunFakeProgram(const char* scenario, std::vector<const char*> argv,
                         const char* outputPath = nullptr) {
  std::string scenarioVariable =
      std::string("LEAPCHECK_FAKE_SCENARIO=") + scenario;
  std::vector<char*> env{const_cast<char*>(scenarioVariable.c_str()), nullptr};
  const char* program = LEAPCHECK_FAKE_PROGRAM;
  if (Launcher[0] != nullptr) {
    // The emulator takes the program's place; the program's own name is
    // the path that follows the emulator's options.
    if (!argv.empty()) {
      argv.erase(argv.begin());
    }
    argv.insert(argv.begin(), LEAPCHECK_FAKE_PROGRAM);
    argv.insert(argv.begin(), std::begin(Launcher), std::end(Launcher) - 1);
    program = Launcher[0];
  }
  argv.push_back(nullptr);
  int pipeFds[2];
  EXPECT_EQ(0, pipe(pipeFds));
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (outputPath != nullptr) {
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, outputPath,
                                     O_WRONLY, 0);
  }
  posix_spawn_file_actions_adddup2(
      &actions, pipeFds[1],
      outputPath != nullptr ? STDERR_FILENO : STDOUT_FILENO);
  posix_spawn_file_actions_addclose(&actions, pipeFds[0]);
  pid_t pid = 0;
  const int spawned =
      posix_spawn(&pid, program, &actions, nullptr,
                  const_cast<char* const*>(argv.data()), env.data());
  posix_spawn_file_actions_destroy(&actions);
  close(pipeFds[1]);
  EXPECT_EQ(0, spawned);
  RunResult result{-1, ""};
  char buffer[4096];
  ssize_t length = 0;
  while ((length = read(pipeFds[0], buffer, sizeof buffer)) > 0) {
    result.output.append(buffer, static_cast<std::size_t>(length));
  }
  close(pipeFds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  result.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

const std::string Banner =
    "Performance Counter Time Leap Check Tool\n"
    "see https://support.windows.com/kb/274323/en-us\n";
const std::string Usage =
    "use runtest as commandline parameter to run the test code\n";

TEST(EntryTest, WithoutAnArgumentPrintsTheUsageLineAndEndsWithZero) {
  const RunResult ok = RunFakeProgram("ok", {"leapcheck"});
  EXPECT_EQ(0, ok.exitStatus);
  EXPECT_EQ(Banner +
                "VEN_8086&DEV_7111&SUBSYS_00000000&REV_01   8086:7111   ok\n"
                "CheckChipset: chipset ok.\n" +
                Usage,
            ok.output);

  // argc 0: no program name at all.
  const RunResult none = RunFakeProgram("ok", {});
  EXPECT_EQ(0, none.exitStatus);
  EXPECT_EQ(ok.output, none.output);
}

TEST(EntryTest, EachStatusHasItsSummaryAndTheExitStatusStaysZero) {
  const RunResult broken = RunFakeProgram("broken", {"leapcheck"});
  EXPECT_EQ(0, broken.exitStatus);
  EXPECT_EQ(
      Banner +
          "VEN_8086&DEV_7110&SUBSYS_00000000&REV_02   8086:7110   broken\n"
          "VEN_8086&DEV_7111&SUBSYS_00000000&REV_01   8086:7111   ok\n"
          "CheckChipset: chipset broken.\n" +
          Usage,
      broken.output);

  const RunResult openFails = RunFakeProgram("open-fails", {"leapcheck"});
  EXPECT_EQ(0, openFails.exitStatus);
  EXPECT_EQ(Banner + "CheckChipset failed reading the registry.\n" + Usage,
            openFails.output);

  const RunResult enumFails = RunFakeProgram("enum-fails", {"leapcheck"});
  EXPECT_EQ(0, enumFails.exitStatus);
  EXPECT_EQ(
      Banner +
          "VEN_8086&DEV_7110&SUBSYS_00000000&REV_02   8086:7110   broken\n"
          "CheckChipset failed reading the registry.\n" +
          Usage,
      enumFails.output);
}

TEST(EntryTest, AnyArgumentStartsTheTest) {
  const std::string started = Banner +
                              "VEN_8086&DEV_7111&SUBSYS_00000000&REV_01   "
                              "8086:7111   ok\n"
                              "CheckChipset: chipset ok.\n"
                              "Running Test Code\n";
  const std::vector<std::vector<const char*>> argvs = {
      {"leapcheck", "runtest"},
      {"leapcheck", ""},
      {"leapcheck", "--help"},
      {"leapcheck", "a", "b"},
  };
  for (const auto& argv : argvs) {
    const RunResult run = RunFakeProgram("ok", argv);
    EXPECT_EQ(started, run.output) << argv.size();
  }
}

TEST(EntryTest, RegistryFailureStillStartsTheTestAndLeapsAreReported) {
  const RunResult failed =
      RunFakeProgram("open-fails", {"leapcheck", "runtest"});
  EXPECT_EQ(Banner +
                "CheckChipset failed reading the registry.\n"
                "Running Test Code\n",
            failed.output);

  const RunResult leap = RunFakeProgram("leap", {"leapcheck", "x"});
  EXPECT_NE(std::string::npos,
            leap.output.find("Running Test Code\n      Previous 9:  0\n"));
  EXPECT_NE(std::string::npos,
            leap.output.find("LEAP: Current:     100000  delta = 100000\n"));
}

// A full disk: the lines are lost, and the run says so and fails instead of
// passing for a quiet one.
TEST(EntryTest, OutputThatCannotBeWrittenEndsTheRunWithAnError) {
  const std::string lost =
      "leapcheck: cannot write standard output: No space left on device\n";
  const RunResult check = RunFakeProgram("ok", {"leapcheck"}, "/dev/full");
  EXPECT_EQ(1, check.exitStatus);
  EXPECT_EQ(lost, check.output);

  const RunResult test =
      RunFakeProgram("leap", {"leapcheck", "runtest"}, "/dev/full");
  EXPECT_EQ(1, test.exitStatus);
  EXPECT_EQ(lost, test.output);
}

}  // namespace
