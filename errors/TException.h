#ifndef ERRORS_TEXCEPTION_H_
#define ERRORS_TEXCEPTION_H_

#include <iosfwd>
#include <memory>
#include <string>

namespace varnel {

class TKQstructure;

// The failure record of the data table, the data manipulation routines and
// the MLP network's recall: a message, a kind ("Bad Parameter" or "Null
// Pointer Parameter"), the raising location ("Data::GetInputDatum") and an
// optional structured description. The record owns private copies of its
// texts and owns `details`; a copy is complete on its own.
class TException {
 public:
  // A null text is kept as the empty text, so that a report of any record
  // writes its three lines.
  TException();  // all texts absent, no details
  TException(const char* message, const char* kind);
  // Every raising point uses this form, with three texts. Takes ownership of
  // details (null allowed).
  TException(const char* message, const char* kind, const char* location, TKQstructure* details);
  TException(const TException& other);
  TException& operator=(const TException& other);
  ~TException();

  // The texts, or "" for a text the record was built without.
  const char* GetMessage() const { return message.c_str(); }
  const char* GetKind() const { return kind.c_str(); }
  const char* GetLocation() const { return location.c_str(); }

  std::string message;
  std::string kind;
  std::unique_ptr<TKQstructure> details;
  std::string location;
};

// Writes the three lines of a TException report: message, kind, location.
void ReportException(const TException& e, std::ostream& err);

}  // namespace varnel

#endif  // ERRORS_TEXCEPTION_H_
