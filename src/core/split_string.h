// Splitting a reply line into its fields.
#pragma once

#include <string>
#include <vector>

// Every character of `delimiters` is replaced by its first one; double quotes
// are then dropped; the text is then cut at each delimiter, empty pieces included, so n
// delimiters give n + 1 fields. An empty delimiter set gives the whole text.
std::vector<std::string> splitString(std::string text, std::string delimiters);
