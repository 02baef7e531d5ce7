// Command-line tests: each case runs the built program in a fresh directory
// of its own and compares both console streams and the exit status.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

namespace varnel {
namespace {

struct TFile {
  std::string name;  // relative to the run's directory
  std::string text;
};

struct TRunResult {
  std::string out;
  std::string err;
  int status;  // exit status, or 128 + signal number
};

// A temporary directory that one run of the program uses as its working
// directory; it is removed with everything in it when the object goes.
class TCliRun {
 public:
  TCliRun() {
    std::string pattern = testing::TempDir() + "varnel-cli-XXXXXX";
    if (mkdtemp(&pattern[0]) == nullptr) ADD_FAILURE() << "mkdtemp: " << std::strerror(errno);
    dir_ = pattern;
  }
  TCliRun(const TCliRun&) = delete;
  TCliRun& operator=(const TCliRun&) = delete;
  ~TCliRun() {
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }

  std::filesystem::path Path(const std::string& name) const { return dir_ / name; }

  void Write(const TFile& file) const {
    std::ofstream out(Path(file.name), std::ios::binary);
    out << file.text;
    ASSERT_TRUE(out.good()) << file.name;
  }

  bool Exists(const std::string& name) const { return std::filesystem::exists(Path(name)); }

  std::string Read(const std::string& name) const {
    std::ifstream in(Path(name), std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
  }

  // Runs the program with these arguments (after its name) in the directory.
  TRunResult Run(const std::vector<std::string>& args) const {
    int out[2];
    int err[2];
    if (pipe(out) != 0 || pipe(err) != 0) {
      ADD_FAILURE() << "pipe: " << std::strerror(errno);
      return {"", "", -1};
    }
    const pid_t pid = fork();
    if (pid == 0) Exec(args, out[1], err[1]);
    close(out[1]);
    close(err[1]);
    TRunResult result{"", "", -1};
    Drain(out[0], err[0], &result);
    int status = 0;
    waitpid(pid, &status, 0);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return result;
  }

 private:
  [[noreturn]] void Exec(const std::vector<std::string>& args, int out, int err) const {
    std::vector<char*> argv;
    std::string program = VARNEL_BINARY;
    argv.push_back(&program[0]);
    std::vector<std::string> copies(args);
    for (std::string& a : copies) argv.push_back(&a[0]);
    argv.push_back(nullptr);
    const int null = open("/dev/null", O_RDONLY);
    if (chdir(dir_.c_str()) != 0 || dup2(null, 0) < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0) {
      _exit(127);
    }
    execv(argv[0], argv.data());
    _exit(127);
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

// One row of a command-line table. `inspect`, when given, looks at the run's
// directory afterwards (files written by the program, say).
struct TCliCase {
  const char* name;
  std::vector<std::string> args;
  std::vector<TFile> files;
  std::string out;
  std::string err;
  int status;
  std::function<void(const TCliRun&)> inspect;
};

void ExpectRun(const TCliCase& c) {
  SCOPED_TRACE(c.name);
  const TCliRun run;
  for (const TFile& file : c.files) run.Write(file);
  const TRunResult result = run.Run(c.args);
  EXPECT_EQ(result.out, c.out);
  EXPECT_EQ(result.err, c.err);
  EXPECT_EQ(result.status, c.status);
  if (c.inspect) c.inspect(run);
}

// A parameter file that passes every check, with the two classes complete.
const std::string kValidParams =
    "WeightFile = start.wgt\n"
    "DestinationFile = result.wgt\n"
    "#DataClasses = 2\n"
    "DataFile = class0.dat\nExamples = 5\n"
    "DataFile = class1.dat\nExamples = 5\n"
    "Epochs = 10\nChangeAfter = 2\n";

TEST(CliTest, CommandLineAndParameterFile) {
  const TCliCase cases[] = {
      {"no argument", {}, {}, "", "Usage: Varnel parameter.file\n", 1, nullptr},
      {"two arguments",
       {"run.par", "run.par"},
       {{"run.par", kValidParams}},
       "",
       "Usage: Varnel parameter.file\n",
       1,
       nullptr},
      {"missing file", {"absent.par"}, {}, "", "Unable to open file absent.par\n", 1, nullptr},
      {"directory", {"."}, {}, "", "Unable to open file .\n", 1, nullptr},
      {"empty file", {"run.par"}, {{"run.par", ""}}, "", "No weight file specified\n", 1, nullptr},
      {"entry without blanks",
       {"run.par"},
       {{"run.par", "WeightFile=a.wgt\n#DataClasses = 2\nEpochs = 1\nChangeAfter = 1\n"}},
       "",
       "No weight file specified\n",
       1,
       nullptr},
      {"only a weight file",
       {"run.par"},
       {{"run.par", "weightfile = a.wgt\n"}},
       "",
       "Number of classes not specified or invalid\n",
       1,
       nullptr},
      {"no epochs",
       {"run.par"},
       {{"run.par", "WeightFile = a.wgt\n#DataClasses = 1\nEpochs 100\n"}},
       "",
       "Number of epochs not specified or invalid\n",
       1,
       nullptr},
      {"no change after",
       {"run.par"},
       {{"run.par", "WeightFile = a.wgt\n#DataClasses = 1\nEpochs = 5\n"}},
       "",
       "Change After not specified or invalid\n",
       1,
       nullptr},
      {"name with a blank",
       {"my run.par"},
       {{"my run.par", "WeightFile = a.wgt\n"}},
       "",
       "Number of classes not specified or invalid\n",
       1,
       nullptr},
      {"entry out of order",
       {"run.par"},
       {{"run.par", "DataFile = early.dat\n" + kValidParams}},
       "",
       "DataFile: given before #DataClasses\n",
       1,
       nullptr},
      {"value that is not a number",
       {"run.par"},
       {{"run.par", kValidParams + "LearningRate = fast\n"}},
       "",
       "LearningRate: not a number: fast\n",
       1,
       nullptr},
      // The training run is not there yet: accepted settings end the program
      // quietly, and no file is written.
      {"accepted settings",
       {"run.par"},
       {{"run.par", kValidParams}},
       "",
       "",
       0,
       [](const TCliRun& run) { EXPECT_FALSE(run.Exists("result.wgt")); }},
  };
  for (const TCliCase& c : cases) ExpectRun(c);
}

}  // namespace
}  // namespace varnel
