#ifndef FILEHANDLER_NETWORKFILE_H_
#define FILEHANDLER_NETWORKFILE_H_

#include <iosfwd>

#include "FileHandler/ParseTools.h"
#include "NeuralNets/TBasicNetwork.h"

namespace varnel {

// Counts the weights of a walk; the network writer uses it to choose between
// a matrix and a weight list.
class TIterateObjCount final : public TIterateObj {
 public:
  void Visit() override;

  int count = 0;
};

// Writes one weight list entry per visited weight:
// "[From=f To=t Weight=w Trainable ]", the flag word only when saveTrainable.
// Owns nothing: the stream and the writer belong to the caller.
class TIterateObjSaveWeights final : public TIterateObj {
 public:
  TIterateObjSaveWeights(std::ostream* stream, FileTools* writer, bool save_trainable, int digits)
      : out(stream), tools(writer), saveTrainable(save_trainable), precision(digits) {}

  void Visit() override;

  std::ostream* out;
  FileTools* tools;
  bool saveTrainable;  // write "Trainable" or "UnTrainable"
  int precision;       // digits after the point of the weight
};

}  // namespace varnel

#endif  // FILEHANDLER_NETWORKFILE_H_
