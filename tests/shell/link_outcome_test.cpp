// What a person is shown for each way an operation on the line ends: panel
// 0 keeps the three texts it always had.
#include <gtest/gtest.h>

#include "LinkOutcome.h"
#include "MessageTable.h"

namespace vantor {
namespace {

std::vector<LinkStatus> EveryStatus() {
  std::vector<LinkStatus> all;
  for (int i = 0; i <= static_cast<int>(LinkStatus::NoPort); ++i) {
    all.push_back(static_cast<LinkStatus>(i));
  }
  return all;
}

TEST(OutcomeRow, AReadShowsReadingAWriteDoneAndEveryFailureTheConnectionError) {
  EXPECT_EQ(OutcomeRow(LinkStatus::Read), RowReading);
  EXPECT_EQ(OutcomeRow(LinkStatus::Written), RowDone);
  for (const LinkStatus status : EveryStatus()) {
    SCOPED_TRACE(LinkStatusName(status).toStdString());
    // A status counted as success never shows the error, nor a failure
    // anything else.
    EXPECT_EQ(OutcomeRow(status) == RowConnectionError, !Succeeded(status));
  }
}

TEST(OutcomeRow, TheTextsAreThoseOfTheMessageTableInBothLanguages) {
  EXPECT_EQ(MessageText(OutcomeRow(LinkStatus::Timeout), 1), "Connection error");
  EXPECT_EQ(MessageText(OutcomeRow(LinkStatus::Read), 1), "Reading");
  EXPECT_EQ(MessageText(OutcomeRow(LinkStatus::Written), 1), "Done");
  EXPECT_EQ(MessageText(OutcomeRow(LinkStatus::PortGone), 0), MessageText(RowConnectionError, 0));
}

}  // namespace
}  // namespace vantor
