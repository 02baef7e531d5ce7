#ifndef DRIVER_VARNEL_H_
#define DRIVER_VARNEL_H_

#include <iosfwd>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "FileHandler/ParseTools.h"
#include "KQmessage/KQML.h"

namespace varnel {

class Data;
class TBasicNetwork;

// The settings of one training run, with the values they hold before the
// parameter file is read. The key that sets each one is named beside it.
// Once LoadParameters has accepted them, dataFiles and examples hold exactly
// numClasses entries (class i at index i) and features holds exactly
// numFeatures entries.
struct TRunSettings {
  std::string weightFile;                       // WeightFile
  std::string destinationFile = "trained.wgt";  // DestinationFile
  int numClasses = 0;                           // #DataClasses
  std::vector<std::string> dataFiles;           // DataFile, once per class
  std::vector<int> examples;                    // Examples, once per class
  int epochs = 0;                               // Epochs
  int changeAfter = 0;                          // ChangeAfter
  float learningRate = 0.5f;                    // LearningRate
  float momentum = 0.5f;                        // Momentum
  bool batch = false;                           // Batch (can only be switched on)
  int numFeatures = 0;                          // #Features
  std::vector<int> features;                    // Features: input columns, from 0
  std::optional<int> seed;                      // Seed: without it the clock seeds the draws
};

// Reads the entries of a parameter file to the end of the stream. Bad input
// never stops the reading: an entry that the settings cannot take (out of
// order, beyond the number of classes, a value that is not a number, a word
// longer than its buffer) is skipped, and the first such problem, or a class
// or feature list left short at the end, is described in *problem as one line
// naming the key or the word. *problem is left as it was when there is none.
TRunSettings ReadParameters(std::istream& in, std::string* problem);

// The message of the first of the four checks that the settings fail (weight
// file, classes, epochs, change after, in this order), or "" when all pass.
std::string CheckSettings(const TRunSettings& settings);

// Reads and checks a parameter file into *settings. Returns the one-line
// message that ends the run, or "" when the training can start. The four
// checks come first, so a file that fails one of them is reported by it even
// when it has further problems.
std::string LoadParameters(std::istream& in, TRunSettings* settings);

// Why back-propagation cannot train the network read from `file`, as one
// line naming the layer, or "" when it can: every layer must have one
// activation function for all its neurons, and a layer fed by lower layers
// must have a function with a derivative.
std::string CheckTrainable(TBasicNetwork& network, const std::string& file);

// Why the class tables read for the settings cannot feed the network, as one
// line naming the data file and the numbers, or "" when they can. Checked in
// class order: a table at all, the feature indices and their number against
// the table's input columns, the selected (or all) input columns against the
// input layer, the output columns against the
// output layer; then that two or more classes are not all asked for 0
// examples. REQUIRES: one table slot per class.
std::string CheckClassTables(const TRunSettings& settings,
                             const std::vector<std::unique_ptr<Data>>& tables,
                             const TBasicNetwork& network);

// The training run for accepted settings: loads the network and the class
// tables, trains, prints "Error = " and the last epoch's error on standard
// output and writes the trained network to the destination. Returns the exit
// status: 0, or 1 after a failure, which is reported at once (a TException in
// three lines on standard error, a file handler's error in one line on
// standard output, every other failure in one line on standard error). Only
// a failure of the writing itself comes after the error line.
int RunTraining(const TRunSettings& settings);

// The console report of a file handler's failure: its message as one line.
void ReportFileError(const FileTools::Error& e, std::ostream& out);

// The report of a message structure's failure: the text of the error
// structure as one line. The structure belongs to the catcher, so it is
// freed here and the error's pointer cleared.
void ReportStructureError(TKQstructure::Error& e, std::ostream& out);

// Makes SIGINT, SIGTERM, SIGHUP, SIGQUIT and SIGABRT remove the temporary of
// a destination being written before they end the program, so that the old
// destination stays as it was; signals that the program inherited as
// ignored stay ignored. RunProgram calls it before the training.
void RemoveTemporariesOnSignals();

// The program: checks the command line, loads the parameter file and trains.
// Messages about the command line and the parameter file go to standard
// error; the run reports as RunTraining says. Returns the exit status (0 or 1).
int RunProgram(int argc, char** argv);

}  // namespace varnel

#endif  // DRIVER_VARNEL_H_
