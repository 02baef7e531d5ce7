#ifndef TOOLS_TOOLSUPPORT_H_
#define TOOLS_TOOLSUPPORT_H_

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace varnel {

class Data;
class TBasicNetwork;

// What the companion tools share: reading the command line, converting
// option values strictly (whole text, "C" conventions, range checked),
// loading network and data set files with messages that name the file, and
// the one-line failure reports. Every failure a helper finds is raised as a
// TToolError (a TUsageError when the command line is wrong); TTool::Guarded
// turns it, and every failure of the library, into a report and the exit
// status 1.

// A failure worth one line to the user; the tool's name is added when it is
// reported.
struct TToolError {
  std::string message;
};

// A wrong command line: reported with the usage line.
struct TUsageError : TToolError {};

// An option a tool accepts, written with its dashes ("--sizes", "-o").
struct TOptionSpec {
  const char* name;
  bool takesValue;
};

// The command line, split into options and the other arguments.
struct TArguments {
  bool Has(const std::string& option) const { return values.count(option) != 0; }
  // The option's value, or fallback when it was not given.
  std::string Value(const std::string& option, const std::string& fallback = "") const;

  bool help = false;                          // "--help" or "-h" was given
  std::vector<std::string> positional;        // in the order given
  std::map<std::string, std::string> values;  // by option name; "" for a flag
};

// Splits argv[1 ..] by the options. An option's value is the next argument
// or follows "=" ("--range=0.5"); after "--" every argument is positional.
// Raises TUsageError for an unknown option, a missing value, a value given
// to a flag, or an option given twice.
TArguments ParseArguments(int argc, char** argv, const std::vector<TOptionSpec>& options);

// Strict conversions of an option's value, raising TUsageError; `what` names
// the value in messages ("--seed: not an integer: 7x").
long ParseInteger(const std::string& text, const std::string& what, long low, long high);
double ParseReal(const std::string& text, const std::string& what);  // finite only
// Comma-separated integers in [low, high], at least one: "4,8,3".
std::vector<int> ParseIntegerList(const std::string& text, const std::string& what, int low,
                                  int high);

// The network that the file describes, owned by the caller. Raises
// TToolError "FILE: <reader's message>", and one naming the file when the
// output layer has no neurons: there is nothing to recall or classify.
std::unique_ptr<TBasicNetwork> LoadNetwork(const std::string& file);
// The first table of a data set file (a results table after it is
// ignored), owned by the caller. Raises TToolError naming the file when it
// cannot be opened, has an unacceptable header or declares no columns.
std::unique_ptr<Data> LoadDataSet(const std::string& file);

int NetworkInputs(const TBasicNetwork& network);
int NetworkOutputs(const TBasicNetwork& network);

// Gives the table the input selection of features (none when empty) after
// checking it against the table's columns, and checks that the inputs read
// then match the network's input layer. Raises TToolError naming the file.
void SelectAndCheckInputs(Data* table, const std::vector<int>& features,
                          const TBasicNetwork& network, const std::string& file);

// Recalls the network for every row of the table, oldest first, through its
// input selection, and hands each row's index, expected outputs (as many as
// the table has) and generated outputs (as many as the output layer has) to
// `use`. REQUIRES: SelectAndCheckInputs accepted the table.
void RecallRows(
    TBasicNetwork* network, Data* table,
    const std::function<void(int row, const double* expected, const double* generated)>& use);

// "1 row", "2 rows".
std::string Counted(long n, const char* noun);

// A tool's name, its usage line and its help text, and the way it ends.
class TTool {
 public:
  TTool(const char* name, const char* usage, const char* help)
      : name_(name), usage_(usage), help_(help) {}

  // The usage line and the help text on standard output; returns 0.
  int Help() const;
  // "<name>: <message>" on standard error; returns 1.
  int Fail(const std::string& message) const;
  // Fail, then the usage line and a pointer to --help.
  int FailUsage(const std::string& message) const;
  // Runs body and returns its status; a TUsageError is reported by
  // FailUsage, a TToolError and every failure of the library or the file
  // handlers by Fail.
  int Guarded(const std::function<int()>& body) const;

 private:
  const char* name_;
  const char* usage_;
  const char* help_;
};

}  // namespace varnel

#endif  // TOOLS_TOOLSUPPORT_H_
