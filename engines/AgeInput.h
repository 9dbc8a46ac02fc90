#pragma once
// A reader that decrypts an age-encrypted stream (core/Age.h) block by block, so an
// encrypted dump restores with the same flat memory as a plain one. What it gives out has
// been authenticated; a wrong key, a changed byte or a file cut short ends in an Error at
// the point it is found, and nothing after it is given out.

#include <memory>
#include <vector>

#include "core/Age.h"
#include "core/Status.h"
#include "engines/SqlInput.h"

namespace brevanto {

// Wraps `raw` (positioned at the file's first byte). Fails only when `identities` is
// empty; a key that does not fit shows on the first Read.
Status OpenAgeInput(std::unique_ptr<CSqlInput> raw, std::vector<AgeIdentity> identities,
                    std::unique_ptr<CSqlInput>& input);

// Gives out `prefix` first, then what `rest` reads: a stream whose first bytes were read
// to recognise it, handed on whole.
std::unique_ptr<CSqlInput> PrefixedInput(std::string prefix, std::unique_ptr<CSqlInput> rest);

}  // namespace brevanto
