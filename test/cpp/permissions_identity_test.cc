// Socket peer credentials as audit tokens, kernel parent pids, and the names
// of accessibility errors.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>


#include "apps/peer_identity.h"
#include "ax/actions_errors.h"

namespace addon {
namespace {

TEST(AxErrorNames, EveryPlatformCodeHasItsName) {
  EXPECT_EQ(AxErrorName(0), nullptr);
  const std::pair<int32_t, const char*> table[] = {
      {-25200, "failure"},           {-25201, "illegal_argument"},
      {-25202, "invalid_element"},   {-25203, "invalid_observer"},
      {-25204, "cannot_complete"},   {-25205, "attribute_unsupported"},
      {-25206, "action_unsupported"}, {-25207, "notification_unsupported"},
      {-25208, "not_implemented"},   {-25209, "failure"},
      {-25210, "failure"},           {-25211, "api_disabled"},
      {-25212, "no_value"},          {-25213, "parameterized_unsupported"},
      {-25214, "precision"},         {-1, "failure"},
      {12345, "failure"},
  };
  for (const auto& [code, name] : table) EXPECT_STREQ(AxErrorName(code), name) << code;
}

TEST(AuditToken, WordsAreLittleEndianInTheDocumentedOrder) {
  platform::AuditToken token{};
  SetAuditTokenWord(&token, kAuditPid, 0x01020304u);
  SetAuditTokenWord(&token, kAuditEuid, 501);
  EXPECT_EQ(token[20], 0x04);
  EXPECT_EQ(token[23], 0x01);
  EXPECT_EQ(token[4], 0xF5);
  EXPECT_EQ(token[5], 0x01);
  EXPECT_EQ(AuditTokenWordAt(token, kAuditPid), 0x01020304u);
  EXPECT_EQ(AuditTokenWordAt(token, kAuditEuid), 501u);
  EXPECT_EQ(AuditTokenWordAt(token, kAuditAuid), 0u);
}

TEST(PeerAuditToken, SocketPairPeerIsThisProcess) {
  int fds[2];
  ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
  auto token = PeerAuditToken(fds[0]);
  ASSERT_TRUE(token.has_value());
  EXPECT_EQ(AuditTokenWordAt(*token, kAuditPid), static_cast<uint32_t>(getpid()));
  EXPECT_EQ(AuditTokenWordAt(*token, kAuditEuid), geteuid());
  EXPECT_EQ(AuditTokenWordAt(*token, kAuditRuid), geteuid());
  EXPECT_EQ(AuditTokenWordAt(*token, kAuditEgid), getegid());
  // The same process instance gives the same token every time.
  auto again = PeerAuditToken(fds[1]);
  ASSERT_TRUE(again.has_value());
  EXPECT_EQ(*token, *again);
  close(fds[0]);
  close(fds[1]);
}

TEST(PeerAuditToken, DescriptorsWithoutAPeerAnswerNothing) {
  EXPECT_FALSE(PeerAuditToken(-1).has_value());
  EXPECT_FALSE(PeerAuditToken(1 << 30).has_value());
  int p[2];
  ASSERT_EQ(pipe(p), 0);
  EXPECT_FALSE(PeerAuditToken(p[0]).has_value());
  close(p[0]);
  close(p[1]);
  // A socket that never connected has no peer process.
  int s = socket(AF_UNIX, SOCK_STREAM, 0);
  EXPECT_FALSE(PeerAuditToken(s).has_value());
  close(s);
}

TEST(KernelParentPid, UnknownPidsAnswerMinusOne) {
  EXPECT_EQ(KernelParentPid(0), -1);
  EXPECT_EQ(KernelParentPid(-5), -1);
  EXPECT_EQ(KernelParentPid(2147483647), -1);
  EXPECT_EQ(KernelParentPid(getpid()), getppid());
}

}  // namespace
}  // namespace addon
