#pragma once
// Command-line options given as "--name=value" or as "--name value", read alike, and the one rule
// for numbers in them. No Qt.
#include <charconv>
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

// A number in an option: plain decimal digits only, between `low` and `high`. No sign, blank or base
// prefix: "0x10", "+1" and " 1" are mistakes on a command line, whatever the panel's fields accept.
inline std::optional<int> DecimalOption(const std::string& text, int low, int high) {
    int value = 0;
    const char* end = text.data() + text.size();
    if (text.empty() || text[0] < '0' || text[0] > '9')
        return std::nullopt;
    const auto [stop, ec] = std::from_chars(text.data(), end, value);
    if (ec != std::errc() || stop != end || value < low || value > high)
        return std::nullopt;
    return value;
}

// The COM port numbers every program's option takes: the port component keeps one byte, and 0 names
// no port.
inline constexpr int kLowestPortOption = 1;
inline constexpr int kHighestPortOption = 255;

inline std::optional<int> PortNumberOption(const std::string& text) {
    return DecimalOption(text, kLowestPortOption, kHighestPortOption);
}
