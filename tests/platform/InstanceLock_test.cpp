#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "TestHome.h"
#include "platform/InstanceLock.h"
#include "platform/SpecialFolders.h"

namespace kelvo {
namespace {

namespace fs = std::filesystem;

// Whether a fresh process could take the lock now.
bool OtherProcessAcquires() {
  pid_t child = ::fork();
  if (child == 0) {
    TInstanceLock lock;
    ::_exit(lock.Acquire() ? 0 : 1);
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

TEST(InstanceLock, OnlyOneHolderAcrossProcesses) {
  test::TTestHome home;
  {
    TInstanceLock lock;
    ASSERT_TRUE(lock.Acquire());
    EXPECT_TRUE(lock.Held());
    EXPECT_TRUE(lock.Acquire());  // taking it again is no conflict with itself
    EXPECT_EQ(lock.LockFilePath(), home.Sub("run/kelvo/KelvoExplorerBar.lock"));
    EXPECT_TRUE(fs::exists(lock.LockFilePath()));

    EXPECT_FALSE(OtherProcessAcquires());
    TInstanceLock sameProcess;
    EXPECT_FALSE(sameProcess.Acquire());
    EXPECT_FALSE(sameProcess.Held());

    lock.Release();
    EXPECT_FALSE(lock.Held());
    EXPECT_TRUE(OtherProcessAcquires());
    ASSERT_TRUE(lock.Acquire());
    EXPECT_FALSE(OtherProcessAcquires());
  }
  // Gone with its object.
  EXPECT_TRUE(OtherProcessAcquires());
}

TEST(InstanceLock, OtherNamesDoNotConflict) {
  test::TTestHome home;
  TInstanceLock agent;
  TInstanceLock other("SomethingElse");
  EXPECT_TRUE(agent.Acquire());
  EXPECT_TRUE(other.Acquire());
}

TEST(RuntimeFolder, IsCreatedPrivateAndRefusedWhenNotOurs) {
  test::TTestHome home;
  const std::string expected = home.Sub("run/kelvo/");
  EXPECT_EQ(RuntimeFolder(), expected);
  ASSERT_EQ(EnsureRuntimeFolder(), expected);
  struct stat st {};
  ASSERT_EQ(::stat(expected.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);

  // Opened up by someone: closed again.
  ::chmod(expected.c_str(), 0755);
  ASSERT_EQ(EnsureRuntimeFolder(), expected);
  ASSERT_EQ(::stat(expected.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);

  // A link planted in its place is not followed.
  fs::remove_all(expected);
  fs::create_directory(home.Sub("elsewhere"));
  fs::create_directory_symlink(home.Sub("elsewhere"), home.Sub("run/kelvo"));
  EXPECT_EQ(EnsureRuntimeFolder(), "");
  TInstanceLock lock;
  EXPECT_FALSE(lock.Acquire());

  // Without a runtime directory the per-user folder in /tmp is named.
  ::unsetenv("XDG_RUNTIME_DIR");
  EXPECT_EQ(RuntimeFolder(), "/tmp/kelvo-" + std::to_string(::getuid()) + "/");
  ::setenv("XDG_RUNTIME_DIR", "not/absolute", 1);
  EXPECT_EQ(RuntimeFolder(), "/tmp/kelvo-" + std::to_string(::getuid()) + "/");
}

}  // namespace
}  // namespace kelvo
