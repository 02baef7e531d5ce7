#include "errors/TException.h"

#include <gtest/gtest.h>

#include <memory>
#include <sstream>

#include "KQmessage/KQML.h"

namespace varnel {
namespace {

TKQstructure* Details() {
  TKQstructure* details = TKQstructure::MakeError("bad-row");
  details->SetInteger("row", 7);
  return details;
}

TEST(TExceptionTest, ReportWritesMessageKindAndLocationLines) {
  const TException e("Invalid Data Row", "Bad Parameter", "Data::GetInputDatum", nullptr);
  std::ostringstream err;
  ReportException(e, err);
  EXPECT_EQ(err.str(), "Invalid Data Row\nBad Parameter\nData::GetInputDatum\n");
}

TEST(TExceptionTest, RecordsBuiltWithoutTextsReportEmptyLines) {
  const TException cases[] = {
      TException(),
      TException("Only a message", nullptr),
      TException(nullptr, nullptr, nullptr, nullptr),
  };
  const char* reports[] = {"\n\n\n", "Only a message\n\n\n", "\n\n\n"};
  for (int i = 0; i < 3; ++i) {
    std::ostringstream err;
    ReportException(cases[i], err);
    EXPECT_EQ(err.str(), reports[i]);
    EXPECT_EQ(cases[i].details, nullptr);
  }
}

TEST(TExceptionTest, CopiesOwnTheirTextsAndDetails) {
  auto original = std::make_unique<TException>("Insufficient number of classes", "Bad Parameter",
                                               "TDataManip::Recombine", Details());
  const TException copy(*original);
  TException assigned("x", "y", "z", nullptr);
  assigned = *original;
  original.reset();

  for (const TException* e : {&copy, static_cast<const TException*>(&assigned)}) {
    EXPECT_STREQ(e->GetMessage(), "Insufficient number of classes");
    EXPECT_STREQ(e->GetKind(), "Bad Parameter");
    EXPECT_STREQ(e->GetLocation(), "TDataManip::Recombine");
    ASSERT_NE(e->details, nullptr);
    EXPECT_EQ(e->details->ToText(), "(error :type bad-row :row 7)");
  }
  EXPECT_NE(copy.details.get(), assigned.details.get());

  const TException& self = assigned;
  assigned = self;
  EXPECT_STREQ(assigned.GetMessage(), "Insufficient number of classes");
  ASSERT_NE(assigned.details, nullptr);
}

TEST(TExceptionTest, AThrownTemporaryReachesTheHandlerComplete) {
  try {
    throw TException("Null data source", "Null Pointer Parameter", "TDataManip::Shuffle", nullptr);
  } catch (const TException& e) {
    std::ostringstream err;
    ReportException(e, err);
    EXPECT_EQ(err.str(), "Null data source\nNull Pointer Parameter\nTDataManip::Shuffle\n");
  }
}

}  // namespace
}  // namespace varnel
