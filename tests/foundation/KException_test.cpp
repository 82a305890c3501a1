#include "foundation/KException.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

namespace kelvo {
KELVO_DECLARE_EXCEPTION(TKExcTestFileException, TKException);
KELVO_DECLARE_EXCEPTION(TKExcTestModuleException, TKException);
KELVO_DECLARE_EXCEPTION(TKExcTestSubException, TKExcTestModuleException);
}  // namespace kelvo

namespace kelvo::test {
namespace {

TEST(KExceptionTest, MessageAloneWithoutInner) {
  TKExcTestFileException e("Cannot open file:/a/b");
  EXPECT_EQ(e.Message(), "Cannot open file:/a/b");
  EXPECT_STREQ(e.what(), "Cannot open file:/a/b");
  EXPECT_EQ(e.Origin(), "");
  EXPECT_FALSE(e.HasOrigin());
  EXPECT_EQ(e.FullMessage(), "Cannot open file:/a/b");
}

TEST(KExceptionTest, OriginIsTheInnersFullMessageAndChains) {
  TKExcTestFileException low("Cannot open file:/a/b");
  TKExcTestModuleException mid("Script failed", low);
  TKExcTestSubException top("Sync stopped", mid);
  EXPECT_EQ(mid.Origin(), "Cannot open file:/a/b");
  EXPECT_EQ(mid.FullMessage(), "Script failed (raised from Cannot open file:/a/b)");
  EXPECT_EQ(top.Origin(), "Script failed (raised from Cannot open file:/a/b)");
  EXPECT_EQ(top.FullMessage(),
            "Sync stopped (raised from Script failed (raised from Cannot open file:/a/b))");
  // what() stays the plain message, as other code shows it to users.
  EXPECT_STREQ(top.what(), "Sync stopped");
}

TEST(KExceptionTest, ForeignInnerGivesItsPlainMessage) {
  std::runtime_error inner("disk full");
  TKExcTestModuleException e("Save failed", inner);
  EXPECT_EQ(e.Origin(), "disk full");
  EXPECT_EQ(e.FullMessage(), "Save failed (raised from disk full)");
  // An inner without text still shows that the exception was raised from one.
  TKExcTestModuleException empty("Save failed", TKException(""));
  EXPECT_EQ(empty.FullMessage(), "Save failed (raised from )");
}

TEST(KExceptionTest, ClassNamesAndCatchingByModule) {
  EXPECT_EQ(ExceptionClassName(TKException("x")), "TKException");
  EXPECT_EQ(ExceptionClassName(TKExcTestSubException("x")), "TKExcTestSubException");
  EXPECT_EQ(ExceptionClassName(std::runtime_error("x")), "std::runtime_error");
  EXPECT_EQ(ExceptionClassName(std::out_of_range("x")), "std::out_of_range");

  std::string caught;
  try {
    throw TKExcTestSubException("deep", std::runtime_error("cause"));
  } catch (const TKExcTestFileException&) {
    caught = "file";
  } catch (const TKExcTestModuleException& e) {
    caught = e.ClassName() + std::string("|") + e.FullMessage();
  }
  EXPECT_EQ(caught, "TKExcTestSubException|deep (raised from cause)");
}

}  // namespace
}  // namespace kelvo::test
