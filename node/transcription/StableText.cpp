#include "StableText.h"

#include <sstream>

namespace corvane::extensions::whisper {

namespace {

std::vector<std::string> wordsOf(const std::string& text)
{
    std::vector<std::string> words;
    std::istringstream in(text);
    for (std::string word; in >> word;)
        words.push_back(word);
    return words;
}

} // namespace

void StableText::restart()
{
    previous.clear();
    stable.clear();
    stableText.clear();
}

const std::string& StableText::update(const std::string& text)
{
    std::vector<std::string> words = wordsOf(text);
    std::size_t agreed = 0;
    while (agreed < words.size() && agreed < previous.size() && words[agreed] == previous[agreed])
        ++agreed;
    if (agreed > stable.size()) {
        // The agreement may reach past the old stable words only where it
        // begins with them; otherwise the stable words stay as they were.
        bool extends = true;
        for (std::size_t i = 0; i < stable.size() && extends; ++i)
            extends = words[i] == stable[i];
        if (extends) {
            stable.assign(words.begin(), words.begin() + static_cast<std::ptrdiff_t>(agreed));
            stableText.clear();
            for (const std::string& word : stable)
                stableText += (stableText.empty() ? "" : " ") + word;
        }
    }
    previous = std::move(words);
    return stableText;
}

} // namespace corvane::extensions::whisper
