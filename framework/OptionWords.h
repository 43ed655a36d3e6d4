#pragma once
// Command-line options given as "--name=value" or as "--name value", read alike. No Qt.
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

struct OptionWord {
    std::string name;                       // the word up to a long option's "=", else the whole word
    std::optional<std::string> inlineValue; // what follows that "="
};

inline OptionWord SplitOption(const std::string& word) {
    OptionWord option{word, std::nullopt};
    if (const auto eq = word.find('='); word.rfind("--", 0) == 0 && eq != std::string::npos) {
        option.inlineValue = word.substr(eq + 1);
        option.name.resize(eq);
    }
    return option;
}

// The option's value: its inline part, else the next word (and `i` moves on to it), else nothing.
inline std::optional<std::string> OptionValue(const OptionWord& option, const std::vector<std::string>& args,
                                              std::size_t& i) {
    if (option.inlineValue)
        return option.inlineValue;
    if (i + 1 < args.size())
        return args[++i];
    return std::nullopt;
}
