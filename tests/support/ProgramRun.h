#ifndef TESTS_SUPPORT_PROGRAMRUN_H_
#define TESTS_SUPPORT_PROGRAMRUN_H_

// Runs a built program of this project in a temporary directory of its own
// and collects both console streams and the exit status: the harness of the
// command-line tests.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

namespace varnel {
namespace test {

struct TFile {
  std::string name;  // relative to the run's directory
  std::string text;
};

struct TRunResult {
  std::string out;
  std::string err;
  int status;  // exit status, or 128 + signal number
};

// A temporary working directory for runs of a program; it is removed with
// everything in it when the object goes.
class TProgramRun {
 public:
  explicit TProgramRun(const char* prefix) {
    std::string pattern = ::testing::TempDir() + prefix + "XXXXXX";
    if (mkdtemp(&pattern[0]) == nullptr) ADD_FAILURE() << "mkdtemp: " << std::strerror(errno);
    dir_ = pattern;
  }
  TProgramRun(const TProgramRun&) = delete;
  TProgramRun& operator=(const TProgramRun&) = delete;
  ~TProgramRun() {
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }

  std::string Path(const std::string& name) const { return (dir_ / name).string(); }

  void Write(const TFile& file) const {
    std::ofstream out(Path(file.name), std::ios::binary);
    out << file.text;
    ASSERT_TRUE(out.good()) << file.name;
  }

  bool Exists(const std::string& name) const { return std::filesystem::exists(dir_ / name); }

  std::string Read(const std::string& name) const {
    std::ifstream in(Path(name), std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
  }

  // Runs program with these arguments (after its name) in the directory,
  // standard input from /dev/null.
  TRunResult Run(const std::string& program, const std::vector<std::string>& args) const {
    int out[2];
    int err[2];
    if (pipe(out) != 0 || pipe(err) != 0) {
      ADD_FAILURE() << "pipe: " << std::strerror(errno);
      return {"", "", -1};
    }
    const pid_t pid = fork();
    if (pid == 0) Exec(program, args, out[1], err[1]);
    close(out[1]);
    close(err[1]);
    TRunResult result{"", "", -1};
    Drain(out[0], err[0], &result);
    result.status = Wait(pid);
    return result;
  }

  // As Run, with standard error on a pseudo-terminal instead of a pipe; the
  // result's `err` is what the terminal received.
  TRunResult RunOnTerminal(const std::string& program, const std::vector<std::string>& args) const {
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    int out[2];
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0 || pipe(out) != 0) {
      ADD_FAILURE() << "pseudo-terminal: " << std::strerror(errno);
      if (master >= 0) close(master);
      return {"", "", -1};
    }
    fcntl(master, F_SETFD, FD_CLOEXEC);
    const std::string terminal = ptsname(master);
    const pid_t pid = fork();
    if (pid == 0) Exec(program, args, out[1], open(terminal.c_str(), O_RDWR | O_NOCTTY));
    close(out[1]);
    TRunResult result{"", "", -1};
    // The terminal reads as closed (EIO) once the program has closed its side.
    Drain(out[0], master, &result);
    result.status = Wait(pid);
    return result;
  }

 private:
  [[noreturn]] void Exec(const std::string& program, const std::vector<std::string>& args, int out,
                         int err) const {
    std::vector<std::string> words{program};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& w : words) argv.push_back(&w[0]);
    argv.push_back(nullptr);
    const int null = open("/dev/null", O_RDONLY);
    if (chdir(dir_.c_str()) != 0 || dup2(null, 0) < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0) {
      _exit(127);
    }
    execv(argv[0], argv.data());
    _exit(127);
  }

  static int Wait(pid_t pid) {
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }

  // Reads both streams until the program closes them, so that neither pipe
  // can fill up and stall it.
  static void Drain(int out, int err, TRunResult* result) {
    pollfd fds[2] = {{out, POLLIN, 0}, {err, POLLIN, 0}};
    std::string* texts[2] = {&result->out, &result->err};
    int open_streams = 2;
    while (open_streams > 0) {
      if (poll(fds, 2, -1) < 0) {
        if (errno == EINTR) continue;
        break;
      }
      for (int i = 0; i < 2; ++i) {
        if (fds[i].fd < 0 || fds[i].revents == 0) continue;
        char buffer[4096];
        const ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
        if (n > 0) {
          texts[i]->append(buffer, static_cast<std::size_t>(n));
          continue;
        }
        close(fds[i].fd);
        fds[i].fd = -1;
        --open_streams;
      }
    }
  }

  std::filesystem::path dir_;
};

// One row of a command-line table: the arguments after the program's name,
// the files to create first, the texts of both streams and the exit status
// expected; `inspect`, when given, looks at the run's directory afterwards.
template <typename Run>
struct TProgramCase {
  const char* name;
  std::vector<std::string> args;
  std::vector<TFile> files;
  std::string out;
  std::string err;
  int status;
  std::function<void(const Run&)> inspect;
};

}  // namespace test
}  // namespace varnel

#endif  // TESTS_SUPPORT_PROGRAMRUN_H_
