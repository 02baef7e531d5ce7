#include "errors/TException.h"

#include <ostream>

#include "KQmessage/KQML.h"

namespace varnel {

TException::TException() = default;

TException::TException(const char* message_text, const char* kind_text)
    : message(message_text ? message_text : ""), kind(kind_text ? kind_text : "") {}

TException::TException(const char* message_text, const char* kind_text, const char* location_text,
                       TKQstructure* details_structure)
    : message(message_text), kind(kind_text), details(details_structure), location(location_text) {}

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
