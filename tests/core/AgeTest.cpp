// The age format against the stock `age` tools, both ways, and the damage a reader must
// refuse. Pieces are handed over in odd sizes so chunk boundaries fall everywhere.

#include "core/Age.h"

#include <gtest/gtest.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "tests/support/TempDir.h"

namespace brevanto {
namespace {

using test::ReadWholeFile;
using test::TempDir;
using test::WriteWholeFile;

int Shell(const std::string& command) {
  return std::system(command.c_str());
}

std::string Bytes(std::size_t size, unsigned seed) {
  std::string bytes(size, '\0');
  for (std::size_t i = 0; i < size; ++i) {
    seed = seed * 1103515245u + 12345u;
    bytes[i] = static_cast<char>(seed >> 16);
  }
  return bytes;
}

std::string Encrypt(const std::vector<AgeRecipient>& recipients, const std::string& plain) {
  std::unique_ptr<AgeEncryptor> encryptor;
  EXPECT_TRUE(AgeEncryptor::Create(recipients, encryptor).ok());
  std::string out;
  std::size_t at = 0, step = 1;
  while (at < plain.size()) {
    const std::size_t n = std::min(step, plain.size() - at);
    EXPECT_TRUE(encryptor->Update(std::string_view(plain).substr(at, n), out).ok());
    at += n;
    step = step * 5 % 90001 + 3;
  }
  EXPECT_TRUE(encryptor->Finish(out).ok());
  return out;
}

// Decrypts in odd pieces; the first error ends it. `plain` holds what was given out.
Status Decrypt(const std::vector<AgeIdentity>& identities, const std::string& cipher,
               std::string& plain) {
  AgeDecryptor decryptor(identities);
  std::size_t at = 0, step = 2;
  while (at < cipher.size()) {
    const std::size_t n = std::min(step, cipher.size() - at);
    if (Status s = decryptor.Update(std::string_view(cipher).substr(at, n), plain); !s.ok())
      return s;
    at += n;
    step = step * 7 % 70001 + 5;
  }
  return decryptor.Finish(plain);
}

std::vector<AgeIdentity> IdentitiesOf(const std::string& path) {
  std::vector<AgeIdentity> identities;
  EXPECT_TRUE(ParseAgeIdentityFile(ReadWholeFile(path), {}, identities).ok()) << path;
  return identities;
}

// Runs the stock `age` with a terminal that answers every passphrase prompt.
int AgeWithPassphrase(const std::vector<std::string>& args, const std::string& passphrase) {
  int terminal = -1;
  const pid_t pid = ::forkpty(&terminal, nullptr, nullptr, nullptr);
  if (pid == 0) {
    std::vector<char*> argv{const_cast<char*>("age")};
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    ::execvp("age", argv.data());
    ::_exit(127);
  }
  std::string seen;
  char buffer[512];
  for (;;) {
    const ssize_t got = ::read(terminal, buffer, sizeof buffer);
    if (got <= 0) break;
    seen.append(buffer, static_cast<std::size_t>(got));
    if (seen.find("passphrase") != std::string::npos) {
      const std::string answer = passphrase + "\n";
      (void)!::write(terminal, answer.data(), answer.size());
      seen.clear();
    }
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  ::close(terminal);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

class AgeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (Shell("command -v age >/dev/null && command -v age-keygen >/dev/null") != 0) {
      GTEST_SKIP() << "the age tools are not installed";
    }
    ASSERT_EQ(Shell("age-keygen -o " + m_dir.file("stock.txt") + " 2>/dev/null"), 0);
    m_own = GenerateAgeIdentity();
    ASSERT_TRUE(
        WriteWholeFile(m_dir.file("own.txt"), AgeIdentityFileText(m_own, "2026-12-08T00:00:00Z")));
    m_stock = IdentitiesOf(m_dir.file("stock.txt")).at(0);
  }
  TempDir m_dir;
  AgeIdentity m_own;
  AgeIdentity m_stock;
};

TEST_F(AgeTest, KeysReadAndWriteAsTheStockToolsDo) {
  // Our recipient of the stock tool's identity is the one it printed, and the reverse.
  const std::string stockFile = ReadWholeFile(m_dir.file("stock.txt"));
  EXPECT_NE(stockFile.find("# public key: " + m_stock.Recipient().Text() + "\n"),
            std::string::npos);
  FILE* pipe = ::popen(("age-keygen -y " + m_dir.file("own.txt")).c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  char line[200] = {};
  ASSERT_NE(std::fgets(line, sizeof line, pipe), nullptr);
  ::pclose(pipe);
  EXPECT_EQ(std::string(line), m_own.Recipient().Text() + "\n");

  AgeRecipient parsed;
  EXPECT_TRUE(ParseAgeRecipient("  " + m_own.Recipient().Text() + "\n", parsed).ok());
  EXPECT_EQ(parsed, m_own.Recipient());
  std::string typo = m_own.Recipient().Text();
  typo[10] = typo[10] == 'q' ? 'p' : 'q';
  EXPECT_FALSE(ParseAgeRecipient(typo, parsed).ok());
  EXPECT_FALSE(ParseAgeRecipient(m_own.Text(), parsed).ok());
  AgeIdentity identity;
  EXPECT_FALSE(ParseAgeIdentity(m_own.Recipient().Text(), identity).ok());
}

TEST_F(AgeTest, EveryChunkBoundaryOpensBothWaysWithTheStockTool) {
  for (std::size_t size : {std::size_t{0}, std::size_t{1}, kAgeChunkSize - 1, kAgeChunkSize,
                           kAgeChunkSize + 1, 3 * kAgeChunkSize, 3 * kAgeChunkSize + 77}) {
    SCOPED_TRACE(size);
    const std::string plain = Bytes(size, static_cast<unsigned>(size));
    ASSERT_TRUE(WriteWholeFile(m_dir.file("plain"), plain));
    ASSERT_TRUE(WriteWholeFile(m_dir.file("ours.age"),
                               Encrypt({m_own.Recipient(), m_stock.Recipient()}, plain)));
    for (const char* key : {"own.txt", "stock.txt"}) {
      EXPECT_EQ(Shell("age -d -i " + m_dir.file(key) + " " + m_dir.file("ours.age") +
                      " | cmp -s - " + m_dir.file("plain")),
                0)
          << key;
    }
    ASSERT_EQ(Shell("age -r " + m_own.Recipient().Text() + " -o " + m_dir.file("theirs.age") + " " +
                    m_dir.file("plain")),
              0);
    std::string opened;
    EXPECT_TRUE(Decrypt({m_stock, m_own}, ReadWholeFile(m_dir.file("theirs.age")), opened).ok());
    EXPECT_EQ(opened, plain);
  }
}

TEST_F(AgeTest, DamageWrongKeysAndForeignFilesAreRefusedWithNothingUnauthenticatedGivenOut) {
  const std::string plain = Bytes(4 * kAgeChunkSize + 100, 7);
  const std::string cipher = Encrypt({m_own.Recipient()}, plain);
  const std::size_t header = cipher.size() - plain.size() - 5 * 16;
  struct Case {
    const char* name;
    std::string bytes;
    std::size_t mostOut;  // plaintext bytes that may come out before the error
  };
  const auto flipped = [&](std::size_t at) {
    std::string bytes = cipher;
    bytes[at] = static_cast<char>(bytes[at] ^ 0x20);
    return bytes;
  };
  const std::size_t chunk = kAgeChunkSize + 16;
  const std::vector<Case> cases = {
      {"header mac line", flipped(header - 20), 0},
      {"header version", flipped(3), 0},
      {"middle chunk", flipped(header + 2 * chunk + 5), 2 * kAgeChunkSize},
      {"last chunk", flipped(cipher.size() - 3), 4 * kAgeChunkSize},
      {"cut mid chunk", cipher.substr(0, header + chunk + 999), kAgeChunkSize},
      {"last chunk missing", cipher.substr(0, header + 4 * chunk), 3 * kAgeChunkSize},
      {"cut in header", cipher.substr(0, header / 2), 0},
      {"data after the end", cipher + "x", plain.size()},
      {"not age", "-- MariaDB dump\nCREATE TABLE t (a int);\n", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string out;
    const Status status = Decrypt({m_own}, c.bytes, out);
    EXPECT_FALSE(status.ok());
    EXPECT_FALSE(status.message().empty());
    EXPECT_LE(out.size(), c.mostOut);
    EXPECT_EQ(out, plain.substr(0, out.size()));
  }
  std::string out;
  const Status wrong = Decrypt({m_stock}, cipher, out);
  EXPECT_FALSE(wrong.ok());
  EXPECT_NE(wrong.message().find("identity"), std::string::npos) << wrong.message();
  EXPECT_TRUE(out.empty());

  ASSERT_EQ(Shell("age -a -r " + m_own.Recipient().Text() + " -o " + m_dir.file("armored.age") +
                  " " + m_dir.file("own.txt")),
            0);
  const Status armored = Decrypt({m_own}, ReadWholeFile(m_dir.file("armored.age")), out);
  EXPECT_NE(armored.message().find("armor"), std::string::npos) << armored.message();
}

TEST_F(AgeTest, PassphraseProtectedIdentityFilesOpenBothWays) {
  // An identity file as `age -p` writes it opens with its passphrase, and only with it.
  ASSERT_EQ(AgeWithPassphrase({"-p", "-o", m_dir.file("own.txt.age"), m_dir.file("own.txt")},
                              "correct horse"),
            0);
  const std::string locked = ReadWholeFile(m_dir.file("own.txt.age"));
  ASSERT_TRUE(IsPassphraseProtectedIdentityFile(locked));
  std::vector<AgeIdentity> identities;
  EXPECT_FALSE(ParseAgeIdentityFile(locked, {}, identities).ok());
  EXPECT_FALSE(ParseAgeIdentityFile(locked, "wrong horse", identities).ok());
  ASSERT_TRUE(ParseAgeIdentityFile(locked, "correct horse", identities).ok());
  ASSERT_EQ(identities.size(), 1u);
  EXPECT_EQ(identities[0].Text(), m_own.Text());

  std::unique_ptr<AgeEncryptor> encryptor;
  ASSERT_TRUE(AgeEncryptor::CreateWithPassphrase("battery staple", 10, encryptor).ok());
  std::string ours;
  ASSERT_TRUE(encryptor->Update(ReadWholeFile(m_dir.file("stock.txt")), ours).ok());
  ASSERT_TRUE(encryptor->Finish(ours).ok());
  ASSERT_TRUE(WriteWholeFile(m_dir.file("stock.txt.age"), ours));
  ASSERT_EQ(AgeWithPassphrase({"-d", "-o", m_dir.file("stock.back"), m_dir.file("stock.txt.age")},
                              "battery staple"),
            0);
  EXPECT_EQ(ReadWholeFile(m_dir.file("stock.back")), ReadWholeFile(m_dir.file("stock.txt")));
}

}  // namespace
}  // namespace brevanto
