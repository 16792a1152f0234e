#include "boardtools.h"

#include <sstream>

std::vector<std::string> board::commandWords(const char *commandLine)
{
    std::istringstream in(commandLine);
    std::vector<std::string> words;
    for (std::string word; in >> word;)
        words.push_back(word);
    return words;
}
