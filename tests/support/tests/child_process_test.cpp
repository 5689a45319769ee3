#include "child_process.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "temp_dir.h"

using namespace qxtest;
using Clock = std::chrono::steady_clock;

TEST(RunChild, KeepsOutputAndErrorsApartOrTogetherInOrder) {
    ChildProgram p;
    p.argv = ShellLine("echo one; echo two >&2; echo three; exit 3");
    ChildResult r = RunChild(p);
    EXPECT_TRUE(r.started);
    EXPECT_TRUE(r.Exited(3)) << r.Describe();
    EXPECT_EQ(r.out, "one\nthree\n");
    EXPECT_EQ(r.err, "two\n");
    p.mergeErrors = true;
    r = RunChild(p);
    EXPECT_EQ(r.out, "one\ntwo\nthree\n");
    EXPECT_EQ(r.err, "");
}

TEST(RunChild, FeedsInputLargerThanAPipeHoldsWhileReadingOutput) {
    ChildProgram p;
    p.argv = {"cat"};
    for (int i = 0; p.input.size() < 1'000'000; ++i) p.input += std::to_string(i) + '\0';
    ChildResult r = RunChild(p);
    EXPECT_TRUE(r.Exited(0)) << r.err;
    EXPECT_EQ(r.out, p.input);
    // A child that reads none of it is no reason to fail or wait.
    p.argv = ShellLine("exec 0<&-; echo done");
    r = RunChild(p);
    EXPECT_TRUE(r.Exited(0));
    EXPECT_EQ(r.out, "done\n");
}

TEST(RunChild, TakesArgumentsEnvironmentAndFolderAsGiven) {
    TempDir dir("qxchild");
    ::setenv("QX_CHILD_GONE", "still here", 1);
    ChildProgram p;
    p.argv = {"/bin/sh", "-c",
              "printf '%s|' \"$0\" \"$1\" \"$QX_CHILD_SET\" \"${QX_CHILD_GONE-unset}\"; pwd",
              "two words", "'quoted'"};
    p.env = {"QX_CHILD_SET=a=b", "QX_CHILD_GONE"};
    p.dir = dir.path();
    ChildResult r = RunChild(p);
    ::unsetenv("QX_CHILD_GONE");
    EXPECT_EQ(r.out, "two words|'quoted'|a=b|unset|" +
                         std::filesystem::canonical(dir.path()).string() + "\n");
}

TEST(RunChild, SaysHowItEnded) {
    ChildProgram p;
    p.argv = ShellLine("kill -SEGV $$");
    ChildResult r = RunChild(p);
    EXPECT_EQ(r.signal, SIGSEGV);
    EXPECT_EQ(r.exitCode, -1);
    EXPECT_NE(r.Describe().find("signal 11"), std::string::npos);
    p.argv = {"/nonexistent/program"};
    r = RunChild(p);
    EXPECT_FALSE(r.started);
    EXPECT_EQ(r.Describe(), "did not start");
}

TEST(RunChild, KillsAHungChildAndWhatItStartedAtItsTimeLimit) {
    ChildProgram p;
    // The grandchild holds the output open; the kill must reach it too.
    p.argv = ShellLine("echo started; sleep 60 & sleep 60; echo never");
    p.timeLimit = std::chrono::milliseconds(300);
    auto start = Clock::now();
    ChildResult r = RunChild(p);
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(10));
    EXPECT_TRUE(r.timedOut);
    EXPECT_EQ(r.signal, SIGKILL);
    EXPECT_EQ(r.out, "started\n");
    EXPECT_NE(r.Describe().find("time limit"), std::string::npos);
    // One that closes its output and goes on is still held to the limit.
    p.argv = ShellLine("exec >&- 2>&-; sleep 60");
    start = Clock::now();
    r = RunChild(p);
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(10));
    EXPECT_TRUE(r.timedOut);
}

TEST(ChildProcess, ReadsLinesAndEndsWithTheSignalOrAKill) {
    TempDir dir("qxchild");
    ChildProcess child;
    ChildProgram p;
    p.argv = ShellLine(
        "echo ready; echo second; echo oops >&2; trap 'exit 4' TERM; "
        "while :; do sleep 0.05; done");
    p.errorsPath = dir.File("errors.txt");
    ASSERT_TRUE(child.Start(p));
    std::string line;
    ASSERT_TRUE(child.ReadLine(&line));
    EXPECT_EQ(line, "ready");
    ASSERT_TRUE(child.ReadLine(&line));
    EXPECT_EQ(line, "second");
    EXPECT_FALSE(child.ReadLine(&line, std::chrono::milliseconds(100)));
    ChildResult r = child.Stop(SIGTERM);
    EXPECT_TRUE(r.Exited(4)) << r.Describe();
    EXPECT_FALSE(child.Running());

    ChildProcess deaf;
    p.argv = ShellLine("trap '' TERM; echo ready; while :; do sleep 0.05; done");
    ASSERT_TRUE(deaf.Start(p));
    ASSERT_TRUE(deaf.ReadLine(&line));
    r = deaf.Stop(SIGTERM, std::chrono::milliseconds(300));
    EXPECT_TRUE(r.timedOut);
    EXPECT_EQ(r.signal, SIGKILL);
}

TEST(ChildProcess, SendsOutputAndErrorsToFilesWhenAsked) {
    TempDir dir("qxchild");
    ChildProcess child;
    ChildProgram p;
    p.argv = ShellLine("echo out; echo err >&2; echo \"$QX_CHILD_SET\"");
    p.env = {"QX_CHILD_SET=set"};
    p.outputPath = dir.File("out.txt");
    p.errorsPath = dir.File("err.txt");
    ASSERT_TRUE(child.Start(p));
    std::string line;
    EXPECT_FALSE(child.ReadLine(&line, std::chrono::milliseconds(100)));
    EXPECT_TRUE(child.Wait().Exited(0));
    auto text = [](const std::string& path) {
        std::ifstream in(path);
        return std::string(std::istreambuf_iterator<char>(in), {});
    };
    EXPECT_EQ(text(dir.File("out.txt")), "out\nset\n");
    EXPECT_EQ(text(dir.File("err.txt")), "err\n");
}

TEST(RunForked, AnswersWhatTheCopyReturnedAndNothingFromOneThatDiesOrHangs) {
    int seen = 0;
    EXPECT_EQ(RunForked([&] { return seen = 42; }), 42);
    EXPECT_EQ(seen, 0);  // the copy's memory is its own
    EXPECT_EQ(RunForked([] { return ::raise(SIGKILL); }), std::nullopt);
    auto start = Clock::now();
    EXPECT_EQ(RunForked(
                  [] {
                      ::pause();
                      return 1;
                  },
                  std::chrono::milliseconds(300)),
              std::nullopt);
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(10));
}
