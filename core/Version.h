#pragma once
// The program's version ("2.0.0"), as --version prints it and a copy's manifest records it.

namespace brevanto {

const char* ProgramVersion();

}  // namespace brevanto
