#include "CtlProfile.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <algorithm>

namespace ctl {

ParsedProfile ParseProfile(const std::string& json) {
    QJsonParseError parseError{};
    const QJsonDocument doc =
        QJsonDocument::fromJson(QByteArray(json.data(), static_cast<qsizetype>(json.size())), &parseError);
    if (parseError.error != QJsonParseError::NoError)
        return {{},
                "not JSON: " + parseError.errorString().toStdString() + " at byte " +
                    std::to_string(parseError.offset)};
    if (!doc.isObject())
        return {{}, "expects one JSON object of settings, e.g. {\"mode\": \"a\", \"code\": \"1200\"}"};
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
        std::string text;
        if (value.isString()) {
            text = value.toString().toStdString();
        } else if (name == "voltage" && value.isDouble() &&
                   (value.toDouble() == 14 || value.toDouble() == 28)) {
            text = std::to_string(value.toInt());
        } else {
            // A number would lose what makes the value: a code's leading zeros, a set-point's "11.0".
            return {{},
                    std::string(name) + ": give the value as a string, e.g. \"" +
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

} // namespace ctl
