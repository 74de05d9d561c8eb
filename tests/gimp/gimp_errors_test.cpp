// Damaged files and bad parameters: the procedure fails, the calling script receives a
// message that says what is wrong, and the same GIMP session goes on working.
#include <gtest/gtest.h>

#include "gimp_cases.h"
#include "gimp_expect.h"

namespace vellum::gimptest {
namespace {

std::string errorsDir() { return groupDir("errors"); }

// The error the script received for a case (empty when the case did not fail).
std::string failureOf(const std::string& name) { return readText(errorsDir() + "/" + name + ".error"); }

// The load that followed a failure worked: GIMP made the good file's RGBA image.
void expectSessionWentOn(const std::string& after) {
  EXPECT_EQ(readText(errorsDir() + "/" + after + ".error"), "");
  const GimpInfo info = readInfo(errorsDir() + "/" + after + ".info");
  EXPECT_EQ(info.type, kRgbaImage);
  EXPECT_EQ(info.width, 13);
  EXPECT_EQ(info.height, 7);
}

class GimpLoadError : public ::testing::TestWithParam<ErrorCase> {};

TEST_P(GimpLoadError, FailsWithTheReadersReasonAndGimpGoesOn) {
  const ErrorCase& c = GetParam();
  const std::string file = errorsDir() + "/" + c.name + ".blp";
  std::string reason;
  if (c.bytes) {
    // The reader's own diagnosis of the file is the message's reason.
    const ReaderLevel level = readLevel(readFileBytes(file), 0);
    ASSERT_EQ(level.status, c.status) << blpStatusText(level.status);
    reason = "Could not open '" + file + "': " + blpStatusText(c.status);
  } else {
    ASSERT_FALSE(exists(file));
    reason = "Could not open '" + file + "' for reading: No such file or directory";
  }
  EXPECT_EQ(failureOf(c.name), executionFailure("file-blp-load", reason));
  expectSessionWentOn("after-" + c.name);
}

INSTANTIATE_TEST_SUITE_P(Cases, GimpLoadError, ::testing::ValuesIn(errorCases()));

class GimpSaveError : public ::testing::TestWithParam<BadSave> {};

TEST_P(GimpSaveError, IsRefusedWithItsReasonAndNothingIsWritten) {
  const BadSave& b = GetParam();
  const std::string failure = failureOf(b.name);
  if (b.message.empty()) {
    // The system's reason, for the file the export was to write.
    EXPECT_EQ(failure.rfind(executionFailure("file-blp-save", "Failed to create file"), 0), 0u) << failure;
    EXPECT_NE(failure.find(errorsDir() + "/" + b.output), std::string::npos) << failure;
    EXPECT_NE(failure.find("No such file or directory"), std::string::npos) << failure;
  } else {
    EXPECT_EQ(failure, callingFailure("file-blp-save", b.message));
  }
  EXPECT_FALSE(exists(errorsDir() + "/" + (b.output.empty() ? b.name + ".blp" : b.output)));
  expectSessionWentOn("after-" + b.name);
}

INSTANTIATE_TEST_SUITE_P(Cases, GimpSaveError, ::testing::ValuesIn(badSaves()));

TEST(GimpErrorsSession, AFailedBatchCommandLeavesGimpRunning) {
  const std::string log = readText(errorsDir() + "/gimp.log");
  const std::string file = errorsDir() + "/NotBlp.blp";
  EXPECT_NE(log.find("batch command experienced an execution error:\nError: " +
                     executionFailure("file-blp-load", "Could not open '" + file +
                                                           "': " + blpStatusText(BlpStatus::BadSignature))),
            std::string::npos)
      << log;
  // The next batch command of the same session loaded a file.
  expectSameImage(readLevel(readFileBytes(errorsDir() + "/good.blp"), 0), errorsDir() + "/after-batch-error");
  EXPECT_EQ(log.find("crashed"), std::string::npos) << log;
}

TEST(GimpErrorsSession, AnExportAfterTheFailuresIsTheFileOfVellumEncode) {
  const std::string dir = errorsDir();
  EXPECT_EQ(readText(dir + "/after-all.error"), "");
  clitest::RunResult run = clitest::runVellum({"encode", "-q", "-f", "--format", "blp2-dxt", dir + "/Rgba-37x29.png",
                                               "-o", dir + "/after-all.vellum.blp"});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  const Bytes exported = readFileBytes(dir + "/after-all.blp");
  ASSERT_FALSE(exported.empty());
  EXPECT_TRUE(exported == readFileBytes(dir + "/after-all.vellum.blp"));
}

}  // namespace
}  // namespace vellum::gimptest
