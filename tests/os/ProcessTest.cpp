#include "os/Process.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "runtime/ClassRecord.h"
#include "runtime/String.h"
#include "tests/support/Thrown.h"
#include "tests/support/WaitFor.h"

using namespace vrl;

namespace {

Ref<String> S(const char* text) { return String::FromUtf8(text); }
std::string N(String* s) { return s->ToUtf8String(); }

using testing_support::WaitFor;

// The fields of /proc/<pid>/stat after the command name: state, ppid, pgrp,
// session; state 0 when the process does not exist.
struct ProcStat {
  char state = 0;
  long ppid = 0, pgrp = 0, session = 0;
};

ProcStat StatOf(pid_t pid) {
  ProcStat st;
  std::ifstream file("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  auto nameEnd = text.rfind(')');
  if (nameEnd == std::string::npos) return st;
  std::istringstream rest(text.substr(nameEnd + 1));
  rest >> st.state >> st.ppid >> st.pgrp >> st.session;
  return st;
}

// Dead: no longer there, or a zombie that nobody has reaped yet.
bool Gone(pid_t pid) {
  char state = StatOf(pid).state;
  return state == 0 || state == 'Z' || state == 'X';
}

// The next line the child writes, waiting for it.
std::string NextLine(TPipeStream* pipe) {
  Ref<String> line;
  WaitFor([&] {
    line = pipe->ReadLine();
    return line->Length() > 0;
  });
  return N(line);
}

class ProcessTest : public ::testing::Test {
 protected:
  void SetUp() override { process::Init(); }
  void TearDown() override { TProcess::TerminateAll(); }

  static Ref<TProcess> Start(const char* cmd, int32_t flags = 0) {
    Ref<TProcess> p = TProcess::Create(S(cmd), flags);
    EXPECT_TRUE(p) << cmd;
    return p;
  }
};

TEST_F(ProcessTest, ReadLineReturnsCompleteLinesAndKeepsTheRest) {
  Ref<TProcess> p = Start("printf 'ab\\r\\nc'; read x; printf '\\n'");
  ASSERT_TRUE(WaitFor([&] { return p->pipe->ReadAvail() >= 5; }));
  EXPECT_EQ(N(p->pipe->ReadLine()), "ab");
  // "c" has no line feed yet: it stays buffered, however often we ask.
  EXPECT_EQ(N(p->pipe->ReadLine()), "");
  EXPECT_EQ(N(p->pipe->ReadLine()), "");
  ASSERT_EQ(p->pipe->Write("\n", 1), 1);
  EXPECT_EQ(NextLine(p->pipe), "c");
}

TEST_F(ProcessTest, ReadLineDropsACarriageReturnAtTheStart) {
  Ref<TProcess> p = Start("printf '\\rxy\\r\\n\\rz\\n\\r\\n'");
  ASSERT_TRUE(WaitFor([&] { return p->pipe->ReadAvail() >= 10; }));
  EXPECT_EQ(N(p->pipe->ReadLine()), "xy");
  EXPECT_EQ(N(p->pipe->ReadLine()), "z");
  // CR LF alone is an empty line, and it is consumed.
  EXPECT_EQ(N(p->pipe->ReadLine()), "");
  EXPECT_EQ(p->pipe->ReadAvail(), 0);
  EXPECT_EQ(N(p->pipe->ReadLine()), "");
}

TEST_F(ProcessTest, ALineThatFillsTheBufferOverflows) {
  Ref<TProcess> fits = Start("printf '%4095s\\n' ''");
  ASSERT_TRUE(WaitFor([&] { return fits->pipe->ReadAvail() >= 4096; }));
  EXPECT_EQ(N(fits->pipe->ReadLine()), std::string(4095, ' '));

  Ref<TProcess> p = Start("printf '%4097s' ''");
  ASSERT_TRUE(WaitFor([&] { return p->pipe->ReadAvail() >= 4097; }));
  // The first call fills the buffer with 4096 bytes and finds no line feed.
  EXPECT_EQ(N(p->pipe->ReadLine()), "");
  EXPECT_EQ(RuntimeErrorOf([&] { p->pipe->ReadLine(); }), "PipeStream ReadBuffer Overflow");
}

TEST_F(ProcessTest, ReadPipeReturnsWhatIsWaitingWithoutBlocking) {
  Ref<TProcess> p = Start("read x; printf '%s!' \"$x\"");
  EXPECT_EQ(p->pipe->ReadAvail(), 0);
  Ref<Array> none = p->pipe->ReadPipe();
  EXPECT_EQ(none->Length(), 0);
  ASSERT_EQ(p->pipe->Write("hello\n", 6), 6);
  ASSERT_TRUE(WaitFor([&] { return p->pipe->ReadAvail() >= 6; }));
  Ref<Array> bytes = p->pipe->ReadPipe();
  EXPECT_EQ(StringFromArray(bytes)->ToNarrow(), "hello!");
  EXPECT_STREQ(bytes->Tag(), "b");
}

TEST_F(ProcessTest, StandardErrorIsReadSeparately) {
  Ref<TProcess> p = Start("echo out; echo err >&2; echo out2");
  EXPECT_EQ(NextLine(p->err), "err");
  EXPECT_EQ(NextLine(p->pipe), "out");
  EXPECT_EQ(NextLine(p->pipe), "out2");
  ASSERT_TRUE(WaitFor([&] { return p->Status() == 0; }));
  EXPECT_EQ(p->err->ReadAvail(), 0);
  EXPECT_EQ(p->pipe->ReadAvail(), 0);
}

TEST_F(ProcessTest, StatusFollowsTheChildAndTerminateAfterExitGivesZero) {
  Ref<TProcess> running = Start("read x");
  EXPECT_EQ(N(running->name), "read x");
  EXPECT_GT(running->handle, 0);
  EXPECT_EQ(running->Status(), 1);
  EXPECT_EQ(running->Terminate(), 1);
  EXPECT_EQ(running->handle, 0);
  EXPECT_EQ(running->Status(), 0);

  Ref<TProcess> p = Start("exit 3");
  ASSERT_TRUE(WaitFor([&] { return p->Status() == 0; }));
  EXPECT_EQ(p->handle, 0);
  EXPECT_EQ(p->Terminate(), 0);
}

TEST_F(ProcessTest, WritingToAChildThatHasExitedFailsWithoutSigpipe) {
  Ref<TProcess> p = Start("exit 0");
  ASSERT_TRUE(WaitFor([&] { return p->Status() == 0; }));
  // With SIGPIPE at its default, a signal would end this test program.
  EXPECT_EQ(p->pipe->Write("data", 4), 0);
  EXPECT_EQ(p->pipe->WriteLine(S("more")), 0);
  sigset_t pending;
  sigemptyset(&pending);
  sigpending(&pending);
  EXPECT_EQ(sigismember(&pending, SIGPIPE), 0);
}

TEST_F(ProcessTest, TerminateKillsTheShellAndTheCommandItStarted) {
  Ref<TProcess> p = Start("sleep 1000 & echo $!; wait");
  pid_t sleeper = std::atoi(NextLine(p->pipe).c_str());
  ASSERT_GT(sleeper, 0);
  ASSERT_EQ(StatOf(sleeper).ppid, p->handle);
  EXPECT_EQ(p->Terminate(), 1);
  EXPECT_TRUE(WaitFor([&] { return Gone(sleeper); }));
  if (!Gone(sleeper)) kill(sleeper, SIGKILL);
}

TEST_F(ProcessTest, TerminateReachesADirectChildOutsideTheGroup) {
  // setsid moves the sleeper out of the shell's group and session: only the
  // search for the shell's children finds it.
  Ref<TProcess> p = Start("setsid sleep 1000 & echo $!; wait");
  pid_t sleeper = std::atoi(NextLine(p->pipe).c_str());
  ASSERT_GT(sleeper, 0);
  ASSERT_TRUE(WaitFor([&] { return StatOf(sleeper).session == sleeper; }));
  ASSERT_EQ(StatOf(sleeper).ppid, p->handle);
  EXPECT_EQ(p->Terminate(), 1);
  EXPECT_TRUE(WaitFor([&] { return Gone(sleeper); }));
  if (!Gone(sleeper)) kill(sleeper, SIGKILL);
}

TEST_F(ProcessTest, EveryChildLeadsItsGroupAndFlagOneKeepsTheSession) {
  Ref<TProcess> detached = Start("read x");
  Ref<TProcess> attached = Start("read x", 1);
  ProcStat d = StatOf(detached->handle);
  ProcStat a = StatOf(attached->handle);
  EXPECT_EQ(d.pgrp, detached->handle);
  EXPECT_EQ(d.session, detached->handle);
  EXPECT_EQ(a.pgrp, attached->handle);
  EXPECT_EQ(a.session, getsid(0));
}

TEST_F(ProcessTest, NoChildKeepsAnotherChildsInputOpen) {
  Ref<TProcess> reader = Start("cat");
  Ref<TProcess> other = Start("sleep 1000");
  // Closing our end of cat's input must end it: had the sleeper inherited
  // that end, cat would wait for ever.
  reader->Close();
  EXPECT_FALSE(reader->pipe);
  EXPECT_TRUE(WaitFor([&] { return reader->Status() == 0; }));
  EXPECT_EQ(other->Status(), 1);
}

TEST_F(ProcessTest, FlushZombiesDropsTheEndedProcesses) {
  TProcess::TerminateAll();
  // Both wait for a line: each start flushes the ended ones first.
  Ref<TProcess> ended = Start("read x");
  Ref<TProcess> running = Start("read x");
  ASSERT_EQ(StartedProcesses()->Count(), 2);
  ASSERT_EQ(ended->pipe->Write("\n", 1), 1);
  // Wait for the exit without reaping it, so Status is first asked below.
  siginfo_t info{};
  ASSERT_EQ(waitid(P_PID, id_t(ended->handle), &info, WEXITED | WNOWAIT), 0);
  TProcess::FlushZombies();
  ASSERT_EQ(StartedProcesses()->Count(), 1);
  EXPECT_EQ(StartedProcesses()->First().object(), running.object());
  EXPECT_EQ(ended->handle, 0);
  TProcess::TerminateAll();
  EXPECT_EQ(StartedProcesses()->Count(), 0);
  EXPECT_EQ(running->handle, 0);
}

TEST_F(ProcessTest, ChildrenStillRunningAtProgramEndAreKilled) {
  int report[2];
  ASSERT_EQ(pipe(report), 0);
  pid_t program = fork();
  ASSERT_GE(program, 0);
  if (program == 0) {
    // A program that starts a child and ends: the end handlers run.
    close(report[0]);
    Ref<TProcess> p = TProcess::Create(S("sleep 1000"), 0);
    int32_t pid = p ? p->handle : 0;
    if (write(report[1], &pid, sizeof pid) != sizeof pid) _exit(3);
    std::exit(0);
  }
  close(report[1]);
  int32_t child = 0;
  ASSERT_EQ(read(report[0], &child, sizeof child), ssize_t(sizeof child));
  close(report[0]);
  int status = 0;
  ASSERT_EQ(waitpid(program, &status, 0), program);
  EXPECT_TRUE(WIFEXITED(status));
  ASSERT_GT(child, 0);
  EXPECT_TRUE(WaitFor([&] { return Gone(child); }));
  // The shell leads a group that holds the sleeper.
  if (!Gone(child)) kill(-child, SIGKILL);
}

TEST_F(ProcessTest, APipeStreamOverHandlesItIsGiven) {
  int ends[2];
  ASSERT_EQ(pipe(ends), 0);
  Ref<TPipeStream> stream = TPipeStream::Create(ends[0], ends[1]);
  ASSERT_EQ(stream->Write("one\ntwo", 7), 7);
  EXPECT_EQ(stream->ReadAvail(), 7);
  EXPECT_EQ(N(stream->ReadLine()), "one");
  char byte = 0;
  // "two" sits in the line buffer now, not in the pipe.
  EXPECT_EQ(stream->ReadAvail(), 0);
  ASSERT_EQ(stream->Write("!", 1), 1);
  EXPECT_EQ(stream->Read(&byte, 1), 1);
  EXPECT_EQ(byte, '!');
  EXPECT_EQ(stream->Close(), 0);
  EXPECT_EQ(fcntl(ends[0], F_GETFD), -1);
  EXPECT_EQ(fcntl(ends[1], F_GETFD), -1);
  EXPECT_EQ(stream->Write("x", 1), 0);
  EXPECT_EQ(stream->Read(&byte, 1), 0);
  EXPECT_EQ(stream->ReadAvail(), 0);
  EXPECT_EQ(stream->Close(), 0);
}

TEST_F(ProcessTest, AChildReapedElsewhereIsNeverKilledLater) {
  Ref<TProcess> p = Start("exit 0");
  pid_t pid = p->handle;
  ASSERT_EQ(waitpid(pid, nullptr, 0), pid);
  // Its id is free for reuse now: the process must forget it.
  EXPECT_EQ(p->Status(), 0);
  EXPECT_EQ(p->handle, 0);
  EXPECT_EQ(p->Terminate(), 0);
}

TEST_F(ProcessTest, ACommandThatCannotBeStartedGivesNull) {
  const char16_t units[] = {u'e', u'x', u'i', u't', 0, u'1'};
  EXPECT_FALSE(TProcess::Create(String::FromUnits({units, 6}), 0));
}

TEST_F(ProcessTest, ClassRecordsListTheFieldsAndMethods) {
  auto names = [](const ClassRecord& record) {
    std::string out;
    for (const Declaration& d : record.Declarations()) out += d.name + " ";
    return out;
  };
  EXPECT_EQ(names(TPipeStream::StaticClass()),
            "readbuffer bufferpos readhandle writehandle Close Flush ReadLine ReadAvail ReadPipe Create ");
  EXPECT_EQ(names(TProcess::StaticClass()),
            "name handle pipe err Status Close Terminate Create FlushZombies TerminateAll ");
  EXPECT_TRUE(TPipeStream::StaticClass().Extends(TStream::StaticClass()));
}

}  // namespace
