#pragma once
#include <string>

// A random (version 4) UUID: 36 characters, upper-case hex digits in groups 8-4-4-4-12.
std::string newUuid();
