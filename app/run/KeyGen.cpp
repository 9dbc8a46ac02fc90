// --keygen FILE: a new age identity for encrypted backups. The identity goes to its own
// file and only the public key is printed: the backup host needs nothing more.

#include <cstdio>

#include "app/run/Commands.h"
#include "app/run/Output.h"
#include "core/Age.h"
#include "core/AtomicFile.h"
#include "core/Clock.h"
#include "core/UtcTime.h"

namespace brevanto::run {

int GenerateKey(const CommandLine& line) {
  const AgeIdentity identity = GenerateAgeIdentity();
  const std::string text = AgeIdentityFileText(identity, UtcIso8601(SystemClock().Now()));
  if (const Status status = CreateFileExclusively(line.file, text); !status.ok()) {
    Error(status.message());
    return kExitFailed;
  }
  // The recipient goes to standard output even with --quiet: it is the command's result.
  std::printf("%s\n", identity.Recipient().Text().c_str());
  // The advice goes to standard error, so `R=$(brevanto-run --keygen f)` takes the key only.
  if (!line.quiet) {
    std::fprintf(stderr,
                 "Keep %s safe, and a second copy of it, away from the machine that makes the "
                 "backups: without it the encrypted backups cannot be opened.\n",
                 line.file.c_str());
  }
  return kExitOk;
}

}  // namespace brevanto::run
