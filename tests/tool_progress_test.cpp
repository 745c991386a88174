// The zrx tool's progress line, run as a program on a document over 50 MB: nothing at all on
// standard error when it is not a terminal (every command that reads), and on a pseudo-terminal
// the line drawn in place from the first read on and cleared at the end, with a message of the
// reader on a line of its own; small documents read quickly show nothing even there.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "zrX/zrX.hpp"

#ifndef ZRX_TOOL

TEST(ToolProgress, NotBuilt) { GTEST_SKIP() << "the zrx tool is not part of this build"; }

#else

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/ioctl.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "support/ToolFixture.hpp"

namespace {

using zr::ref;
using zrtest::Outcome;

// The columns of the pseudo-terminals: wide enough for the whole line of the big document, whose
// name (the temporary folder's path) is at most a few dozen bytes, so a faster rate, a longer
// figure or the path cannot make the tool cut the name from the start.
constexpr unsigned short kColumns = 400;

// A new pseudo-terminal: both ends open, kColumns wide. Gives the reason when none can be had
// (a container without /dev/pts), with nothing left open.
std::string openTerminal(int* master, int* slave) {
  *master = posix_openpt(O_RDWR | O_NOCTTY);
  if (*master < 0) return std::string("no pseudo-terminal: posix_openpt: ") + strerror(errno);
  std::string why;
  if (grantpt(*master) != 0 || unlockpt(*master) != 0) {
    why = std::string("no pseudo-terminal: grantpt/unlockpt: ") + strerror(errno);
  } else {
    const char* name = ptsname(*master);
    *slave = name ? open(name, O_RDWR | O_NOCTTY) : -1;
    if (*slave < 0)
      why = std::string("no pseudo-terminal: opening its other end: ") + strerror(errno);
  }
  if (!why.empty()) {
    close(*master);
    return why;
  }
  winsize size{};
  size.ws_row = 24;
  size.ws_col = kColumns;
  ioctl(*slave, TIOCSWINSZ, &size);
  return "";
}

// What a terminal receives from the tool's standard error, and how the tool ended.
struct TerminalRun {
  int status = -1;
  std::string out;       // standard output, to a file
  std::string terminal;  // standard error, on a pseudo-terminal
};

class ToolProgressTest : public zrtest::ToolTest {
 protected:
  // The big document: one real array of 6.4 million doubles, 51.2 MB in ZRB.
  static void SetUpTestSuite() {
    sFolder = new zrtest::TempDir;
    sBig = (sFolder->path() / "big.zrb").string();
    ref<zrX::ZRXArrayReal> values = new zrX::ZRXArrayReal;
    values->value().resize(6'400'000);
    for (size_t i = 0; i < values->value().size(); ++i)
      values->value()[i] = static_cast<double>(i) + 0.1;  // needs doubles
    zrX::Document document;
    document.structures().push_back(new zrX::ZRXStructure("<Mesh>"));
    *document.structures()[0] << "vertices" << zrX::ZRXValue::makeArray(values.get());
    ref<zr::DiskFile> file = new zr::DiskFile(zr::String(sBig));
    ASSERT_TRUE(zrX::writeDocument(file.get(), zrX::Format::ZRB, document).ok());
  }
  static void TearDownTestSuite() {
    delete sFolder;
    sFolder = nullptr;
  }

  // Why no pseudo-terminal can be opened here, or "".
  static std::string terminalUnavailable() {
    int master = -1, slave = -1;
    const std::string why = openTerminal(&master, &slave);
    if (why.empty()) {
      close(slave);
      close(master);
    }
    return why;
  }

  // Runs the tool with standard error on a new pseudo-terminal.
  TerminalRun onTerminal(const std::vector<std::string>& args) {
    TerminalRun run;
    // The parent holds the terminal open too, so that reading never meets a closed one.
    int master = -1, slave = -1;
    const std::string why = openTerminal(&master, &slave);
    EXPECT_EQ(why, "");
    if (!why.empty()) return run;
    const std::string outPath = at("terminal.out");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    posix_spawn_file_actions_adddup2(&actions, slave, 2);
    posix_spawn_file_actions_addclose(&actions, master);
    std::string program = ZRX_TOOL;
    std::vector<std::string> storage(args);
    std::vector<char*> argv{program.data()};
    for (std::string& a : storage) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    EXPECT_EQ(spawned, 0);
    // Read while the program runs (a full terminal would stop it), then what is left.
    fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
    char buffer[4096];
    for (bool running = spawned == 0;;) {
      pollfd wait{master, POLLIN, 0};
      poll(&wait, 1, 50);
      for (ssize_t got; (got = read(master, buffer, sizeof buffer)) > 0;)
        run.terminal.append(buffer, static_cast<size_t>(got));
      if (!running) break;
      int status = 0;
      if (waitpid(pid, &status, WNOHANG) == pid) {
        run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        running = false;
      }
    }
    close(slave);
    close(master);
    run.out = zrtest::readBytes(outPath);
    return run;
  }

  static zrtest::TempDir* sFolder;
  static std::string sBig;
};

zrtest::TempDir* ToolProgressTest::sFolder = nullptr;
std::string ToolProgressTest::sBig;

TEST_F(ToolProgressTest, NothingIsPrintedWhenStandardErrorIsNoTerminal) {
  const std::vector<std::vector<std::string> > commands = {
      {"check", sBig},
      {"info", sBig},
      {"convert", sBig, at("copy.zrb")},
      {"diff", sBig, sBig},
  };
  for (const auto& args : commands) {
    const Outcome run = zrx(args);
    EXPECT_EQ(run.status, 0) << args[0] << ": " << run.err;
    EXPECT_EQ(run.err, "") << args[0];
  }
}

TEST_F(ToolProgressTest, ATerminalSeesTheLineDrawnInPlaceAndCleared) {
  if (const std::string why = terminalUnavailable(); !why.empty()) GTEST_SKIP() << why;
  // The longest line: a name, then "51.2 of 51.2 MB (100%), 9999.9 MB/s, 99:59:59 left".
  const std::string cut = at("cut.zrb");
  ASSERT_LT(std::max(sBig.size(), cut.size()) + 60, kColumns - 1u) << "a path this long is cut";
  const TerminalRun run = onTerminal({"check", sBig});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, sBig + ": ok\n");
  // Drawings "\r" LINE "\x1b[K", the first at the first read, then the erasure "\r\x1b[K".
  const std::string erase = "\r\x1b[K";
  ASSERT_GE(run.terminal.size(), erase.size());
  EXPECT_EQ(run.terminal.substr(run.terminal.size() - erase.size()), erase);
  EXPECT_EQ(run.terminal.rfind("\r" + sBig + ": 0.0 of 51.2 MB (0%)\x1b[K", 0), 0u) << run.terminal;
  EXPECT_EQ(run.terminal.find('\n'), std::string::npos) << run.terminal;
  const std::string body = run.terminal.substr(0, run.terminal.size() - erase.size());
  size_t drawings = 0;
  for (size_t next = 0; next < body.size(); ++drawings) {
    const size_t end = body.find("\x1b[K", next);
    ASSERT_NE(end, std::string::npos) << body;
    const std::string drawing = body.substr(next, end - next);
    EXPECT_EQ(drawing.rfind("\r" + sBig + ": ", 0), 0u) << drawing;
    EXPECT_NE(drawing.find(" of 51.2 MB ("), std::string::npos) << drawing;
    next = end + 3;
  }
  EXPECT_GE(drawings, 1u);

  // A message of the reader comes on a line of its own, after the line is cleared.
  zrtest::writeBytes(cut, zrtest::readBytes(sBig).substr(0, 51'000'000));
  const TerminalRun broken = onTerminal({"check", cut});
  EXPECT_EQ(broken.status, 1);
  const size_t message = broken.terminal.find(erase + cut + ": Error parsing binary file");
  EXPECT_NE(message, std::string::npos) << broken.terminal;
  EXPECT_EQ(broken.terminal.rfind("\r" + cut + ": 0.0 of 51.0 MB (0%)", 0), 0u) << broken.terminal;
}

TEST_F(ToolProgressTest, SmallDocumentsShowNothingEvenOnATerminal) {
  if (const std::string why = terminalUnavailable(); !why.empty()) GTEST_SKIP() << why;
  const std::string small = at("small.zrt");
  zrtest::writeBytes(small, "ZRX version=101 encoding=ascii\n<A>\n{\n\tx = 1\n}\n");
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string> >{
           {"check", small}, {"convert", small, at("small.json")}, {"diff", small, small}}) {
    const TerminalRun run = onTerminal(args);
    EXPECT_EQ(run.status, 0) << args[0];
    EXPECT_EQ(run.terminal, "") << args[0];
  }
}

}  // namespace

#endif  // ZRX_TOOL
