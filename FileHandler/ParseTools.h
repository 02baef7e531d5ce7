#ifndef FILEHANDLER_PARSETOOLS_H_
#define FILEHANDLER_PARSETOOLS_H_

#include <iosfwd>
#include <string>

namespace varnel {

// Reads and writes the bracketed text syntax shared by the network file and
// the data set file. The file readers and writers are members of this class.
class FileTools {
 public:
  // Raised by every file handler: a message, and the stream that was being
  // read (null when writing) or written (null when reading).
  struct Error {
    std::string message;
    std::istream* in;
    std::ostream* out;
  };
};

}  // namespace varnel

#endif  // FILEHANDLER_PARSETOOLS_H_
