#include "CtlProfile.h"

#include "DeviceControl.h"
#include "Printable.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <set>

namespace ctl {

namespace {

QJsonDocument Parse(const std::string& json, QJsonParseError& error) {
    return QJsonDocument::fromJson(QByteArray(json.data(), static_cast<qsizetype>(json.size())), &error);
}

std::string TypeName(const QJsonValue& value) {
    switch (value.type()) {
    case QJsonValue::String:
        return "a string";
    case QJsonValue::Double:
        return "a number";
    case QJsonValue::Bool:
        return "true or false";
    case QJsonValue::Array:
        return "an array";
    case QJsonValue::Object:
        return "an object";
    default:
        return "null";
    }
}

// The first name the top-level object of valid JSON holds twice (the parser would keep only the last).
std::optional<std::string> DuplicateKey(const std::string& json) {
    std::set<QString> seen;
    int depth = 0;
    for (std::size_t i = 0; i < json.size(); ++i) {
        const char c = json[i];
        if (c == '{' || c == '[')
            ++depth;
        else if (c == '}' || c == ']')
            --depth;
        if (c != '"')
            continue;
        std::size_t end = i + 1;
        while (json[end] != '"')
            end += json[end] == '\\' ? 2 : 1;
        const std::string token = json.substr(i, end + 1 - i);
        i = end;
        const std::size_t next = json.find_first_not_of(" \t\r\n", end + 1);
        if (depth != 1 || next == std::string::npos || json[next] != ':')
            continue;
        QJsonParseError error{};
        const QString key = Parse("[" + token + "]", error).array().at(0).toString();
        if (!seen.insert(key).second)
            return key.toStdString();
    }
    return std::nullopt;
}

} // namespace

ParsedProfile ParseProfile(const std::string& json) {
    QJsonParseError parseError{};
    const QJsonDocument doc = Parse(json, parseError);
    const char* wanted = "expects one JSON object of settings, e.g. {\"mode\": \"a\", \"code\": \"1200\"}";
    if (parseError.error != QJsonParseError::NoError) {
        // The parser takes only an object or an array; a lone value is valid JSON all the same.
        QJsonParseError asValue{};
        const QJsonDocument value = Parse("[" + json + "]", asValue);
        if (asValue.error == QJsonParseError::NoError && value.array().size() == 1)
            return {{}, std::string(wanted) + "; this is " + TypeName(value.array().at(0))};
        return {{},
                "not JSON: " + parseError.errorString().toStdString() + " at byte " +
                    std::to_string(parseError.offset)};
    }
    if (!doc.isObject())
        return {{}, std::string(wanted) + "; this is an array"};
    if (const auto twice = DuplicateKey(json)) {
        // Appended, not "'" + std::string&&: g++ 12 at -O3 warns falsely (-Wrestrict) on that form.
        std::string message(1, '\'');
        message += proto::Printable(*twice);
        message += "' is given twice; each setting may be given once";
        return {{}, message};
    }
    const QJsonObject object = doc.object();
    // A misspelt name must not pass as "left unset".
    for (const QString& key : object.keys()) {
        const std::string name = key.toStdString();
        if (std::find(SettingNames().begin(), SettingNames().end(), name) == SettingNames().end())
            return {{}, CheckSetting(name, "").error};
    }
    ParsedProfile profile;
    for (const std::string_view name : SettingNames()) {
        const QJsonValue value =
            object.value(QString::fromLatin1(name.data(), static_cast<qsizetype>(name.size())));
        if (value.isUndefined())
            continue;
        const bool voltage = name == "voltage";
        std::string text;
        if (value.isString()) {
            text = value.toString().toStdString();
        } else if (voltage && value.isDouble()) {
            text = QString::number(value.toDouble()).toStdString();
        } else {
            // A number would lose what makes the value: a code's leading zeros, a set-point's "11.0".
            return {{},
                    std::string(name) + ": takes a string" + (voltage ? " or a number" : "") + ", not " +
                        TypeName(value) + ", e.g. \"" +
                        (name == "code"                    ? "0400"
                         : name == "low" || name == "high" ? "11.0"
                                                           : "...") +
                        "\""};
        }
        CheckedSetting checked = CheckSetting(name, text);
        if (!checked.setting)
            return {{}, checked.error};
        profile.settings.push_back(std::move(*checked.setting));
    }
    if (profile.settings.empty())
        return {{}, "the profile holds no settings"};
    return profile;
}

ParsedProfile ReadProfile(const std::string& path) {
    errno = 0;
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file)
        return {{}, ErrnoText(errno ? errno : ENOENT)};
    std::string text;
    char buffer[65536];
    while (text.size() <= kMaxProfileBytes) {
        const std::size_t n = std::fread(buffer, 1, sizeof buffer, file);
        text.append(buffer, n);
        if (n < sizeof buffer)
            break;
    }
    const int error = std::ferror(file) ? (errno ? errno : EIO) : 0;
    std::fclose(file);
    if (error)
        return {{}, ErrnoText(error)};
    if (text.size() > kMaxProfileBytes)
        return {{}, "larger than the " + std::to_string(kMaxProfileBytes >> 20) + " MiB a profile may hold"};
    return ParseProfile(text);
}

} // namespace ctl
