// The hostile catalogue: ways to smuggle data into or behind the
// certificate table of a signed file, and impossible claims of the
// security directory. Each attack changes a file made by signed_file.h
// (an image, a payload, a one-entry table) into one the rules refuse.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

struct HostileCase {
    const char* name;
    std::function<void(std::vector<uint8_t>&)> attack;
    const char* cause;  // a fragment of the reason the rules give
};

// A ZIP of its own launcher and one more file: what an attacker smuggles.
std::string SmuggledZip();
const std::vector<HostileCase>& HostileCases();
