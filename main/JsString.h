#pragma once
#include <string>

// The text of a JavaScript string literal that evaluates to s (JSON quoting, "/" written as "\/").
std::string jsString(const std::string& s);
