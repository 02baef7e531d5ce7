#include "errors/TException.h"

#include <ostream>

#include "KQmessage/KQML.h"

namespace varnel {

namespace {

// An absent text is kept as the empty text, so a report never reads through null.
std::string CopyText(const char* text) { return text ? text : ""; }

}  // namespace

TException::TException() = default;

TException::TException(const char* message_text, const char* kind_text)
    : message(CopyText(message_text)), kind(CopyText(kind_text)) {}

TException::TException(const char* message_text, const char* kind_text, const char* location_text,
                       TKQstructure* details_structure)
    : message(CopyText(message_text)),
      kind(CopyText(kind_text)),
      details(details_structure),
      location(CopyText(location_text)) {}

TException::TException(const TException& other)
    : message(other.message),
      kind(other.kind),
      details(other.details ? new TKQstructure(*other.details) : nullptr),
      location(other.location) {}

TException& TException::operator=(const TException& other) {
  if (this == &other) return *this;
  message = other.message;
  kind = other.kind;
  details.reset(other.details ? new TKQstructure(*other.details) : nullptr);
  location = other.location;
  return *this;
}

TException::~TException() = default;

void ReportException(const TException& e, std::ostream& err) {
  err << e.message << '\n' << e.kind << '\n' << e.location << std::endl;
}

}  // namespace varnel
